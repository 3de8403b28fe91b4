// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The version record an executable of ours carries in its ELF section ".quillora_version",
// laid out like a Windows version resource so that the lookup rules carry over unchanged.
// It is a tree of nodes, little-endian, each node 4-byte aligned from the record's start:
//   u16 length (the node with its value and children), u16 value length, u16 type,
//   key (UTF-16, zero-terminated), padding to 4 bytes, value, padding to 4 bytes, children.
// Type 1 values are UTF-16 texts whose length counts characters with the terminator; type 0
// values are binary and counted in bytes. The tree:
//   "VS_VERSIONINFO" (fixed file information)
//     "StringFileInfo" / <table name> / one node per string
//     "VarFileInfo" / "Translation" (language, code page)
// The record is built by the compiler from constants (see build() below), so the version
// written into the program is the one the build system was configured with.
namespace VersionRecord {

inline constexpr char kSectionName[] = ".quillora_version";
inline constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;
inline constexpr std::size_t kMaxSize = 0xFFFF; // the root's length field is 16 bits wide

struct Entry
{
    std::string_view key;
    std::string_view value;
};

struct Layout
{
    std::uint16_t version[4];
    std::uint16_t language;
    std::uint16_t codePage;
    std::string_view tableName;
    const Entry* strings;
    std::size_t stringCount;
};

namespace detail {

// Writes into out, or only counts when out is null (the first pass sizes the array).
struct Writer
{
    unsigned char* out = nullptr;
    std::size_t pos = 0;

    constexpr void byte(unsigned v)
    {
        if (out)
            out[pos] = static_cast<unsigned char>(v & 0xFF);
        ++pos;
    }
    constexpr void u16(unsigned v)
    {
        byte(v);
        byte(v >> 8);
    }
    constexpr void u32(std::uint32_t v)
    {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    constexpr void align()
    {
        while (pos % 4)
            byte(0);
    }
    constexpr void text(std::string_view s)
    {
        for (char c : s)
            u16(static_cast<unsigned char>(c));
        u16(0);
    }
    constexpr std::size_t open(std::string_view key, std::size_t valueLength, unsigned type)
    {
        align();
        const std::size_t start = pos;
        u16(0); // length, patched by close()
        u16(static_cast<unsigned>(valueLength));
        u16(type);
        text(key);
        align();
        return start;
    }
    constexpr void close(std::size_t start)
    {
        if (out) {
            out[start] = static_cast<unsigned char>((pos - start) & 0xFF);
            out[start + 1] = static_cast<unsigned char>(((pos - start) >> 8) & 0xFF);
        }
    }
};

constexpr void write(Writer& w, const Layout& l)
{
    const std::uint32_t ms = std::uint32_t(l.version[0]) << 16 | l.version[1];
    const std::uint32_t ls = std::uint32_t(l.version[2]) << 16 | l.version[3];
    const std::size_t root = w.open("VS_VERSIONINFO", 13 * 4, 0);
    for (std::uint32_t v : {kFixedSignature, 0x00010000u, ms, ls, ms, ls,
                            0x3Fu /* flags mask */, 0u /* flags */, 0u /* OS */,
                            1u /* application */, 0u /* subtype */, 0u, 0u /* date */})
        w.u32(v);

    const std::size_t info = w.open("StringFileInfo", 0, 1);
    const std::size_t table = w.open(l.tableName, 0, 1);
    for (std::size_t i = 0; i < l.stringCount; ++i) {
        const std::size_t s = w.open(l.strings[i].key, l.strings[i].value.size() + 1, 1);
        w.text(l.strings[i].value);
        w.close(s);
    }
    w.close(table);
    w.close(info);

    const std::size_t var = w.open("VarFileInfo", 0, 1);
    const std::size_t translation = w.open("Translation", 4, 0);
    w.u16(l.language);
    w.u16(l.codePage);
    w.close(translation);
    w.close(var);
    w.close(root);
}

} // namespace detail

constexpr std::size_t size(const Layout& layout)
{
    detail::Writer counter;
    detail::write(counter, layout);
    return counter.pos;
}

template <std::size_t N>
constexpr std::array<unsigned char, N> build(const Layout& layout)
{
    static_assert(N <= kMaxSize, "a version record is at most 65535 bytes");
    std::array<unsigned char, N> bytes{};
    detail::Writer writer{bytes.data()};
    detail::write(writer, layout);
    return bytes;
}

} // namespace VersionRecord

// Places a record built from LAYOUT (a constexpr VersionRecord::Layout) into the section the
// reader looks for. Used once by the program, and by test fixtures that need other records.
#define QUILLORA_VERSION_RECORD(NAME, LAYOUT)                                                 \
    [[gnu::section(".quillora_version"), gnu::used]] constinit const auto NAME =              \
        VersionRecord::build<VersionRecord::size(LAYOUT)>(LAYOUT)
