// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/FileVersion.h"

#include "about/VersionRecord.h"

#include <QFile>
#include <QStringList>

#include <optional>

namespace {

constexpr qsizetype kMaxVersionLength = 254;

// Every read is checked against the bytes at hand: the file may be anything.
class Bytes
{
public:
    Bytes(const QByteArray& data, bool bigEndian = false) : m_data(data), m_bigEndian(bigEndian) {}

    bool has(quint64 at, quint64 count) const
    {
        return at <= quint64(m_data.size()) && count <= quint64(m_data.size()) - at;
    }
    quint64 read(quint64 at, int width) const
    {
        if (!has(at, quint64(width)))
            return 0;
        quint64 v = 0;
        for (int i = 0; i < width; ++i) {
            const quint64 b = static_cast<unsigned char>(m_data[qsizetype(at) + i]);
            v |= b << (8 * (m_bigEndian ? width - 1 - i : i));
        }
        return v;
    }
    quint16 u16(quint64 at) const { return quint16(read(at, 2)); }

private:
    const QByteArray& m_data;
    bool m_bigEndian;
};

quint64 align4(quint64 v) { return (v + 3) & ~quint64(3); }

struct Node
{
    quint64 end = 0;
    quint16 valueLength = 0;
    quint16 type = 0;
    QString key;
    quint64 value = 0;
    quint64 children = 0;
};

// The node starting at `at`, which must lie inside [at, limit).
std::optional<Node> readNode(const QByteArray& record, quint64 at, quint64 limit)
{
    const Bytes b(record);
    limit = std::min<quint64>(limit, quint64(record.size()));
    if (at >= limit || limit - at < 6)
        return std::nullopt;
    const quint16 length = b.u16(at);
    if (length < 6 || length > limit - at)
        return std::nullopt;
    Node node;
    node.end = at + length;
    node.valueLength = b.u16(at + 2);
    node.type = b.u16(at + 4);
    quint64 pos = at + 6;
    for (;; pos += 2) {
        if (pos + 2 > node.end)
            return std::nullopt; // key without its terminator
        const quint16 c = b.u16(pos);
        if (c == 0)
            break;
        node.key.append(QChar(c));
    }
    node.value = std::min(align4(pos + 2), node.end);
    const quint64 valueBytes = node.type == 1 ? quint64(node.valueLength) * 2 : node.valueLength;
    node.children = std::min(align4(node.value + valueBytes), node.end);
    return node;
}

std::optional<Node> child(const QByteArray& record, const Node& parent, const QString& key)
{
    for (quint64 pos = parent.children; pos < parent.end;) {
        const auto node = readNode(record, pos, parent.end);
        if (!node)
            return std::nullopt;
        if (node->key == key)
            return node;
        pos = align4(node->end);
    }
    return std::nullopt;
}

// Follows a path like "\VarFileInfo\Translation" from the root; names compare exactly.
std::optional<Node> query(const QByteArray& record, const QString& path)
{
    auto node = readNode(record, 0, quint64(record.size()));
    for (const QString& part : path.split(u'\\', Qt::SkipEmptyParts)) {
        if (!node)
            break;
        node = child(record, *node, part);
    }
    return node;
}

} // namespace

QString versionRecordString(const QByteArray& record, const QString& name)
{
    const Bytes b(record);
    const auto translation = query(record, QStringLiteral("\\VarFileInfo\\Translation"));
    if (!translation || translation->valueLength < 4 || translation->value + 4 > translation->end)
        return {};
    const quint16 language = b.u16(translation->value);
    const quint16 codePage = b.u16(translation->value + 2);

    // The table is named in upper-case hexadecimal; a table named otherwise is not found.
    const QString table = QString::asprintf("%04X%04X", language, codePage);
    const auto version =
        query(record, QStringLiteral("\\StringFileInfo\\") + table + QStringLiteral("\\") + name);
    if (!version)
        return {};
    QString text;
    for (quint64 pos = version->value;
         pos + 2 <= version->end && text.size() < std::min<qsizetype>(version->valueLength, kMaxVersionLength);
         pos += 2) {
        const quint16 c = b.u16(pos);
        if (c == 0)
            break;
        text.append(QChar(c));
    }
    return text;
}

QByteArray readVersionRecordSection(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray header = file.read(64);
    if (header.size() < 52 || !header.startsWith("\x7F" "ELF"))
        return {};
    const bool is64 = header[4] == 2;
    if (!is64 && header[4] != 1)
        return {};
    const Bytes h(header, header[5] == 2);
    const quint64 tableOffset = is64 ? h.read(0x28, 8) : h.read(0x20, 4);
    const quint16 entrySize = h.u16(is64 ? 0x3A : 0x2E);
    const quint16 count = h.u16(is64 ? 0x3C : 0x30);
    const quint16 namesIndex = h.u16(is64 ? 0x3E : 0x32);
    if (entrySize < (is64 ? 64 : 40) || namesIndex >= count || tableOffset > quint64(file.size()))
        return {};
    if (!file.seek(qint64(tableOffset)))
        return {};
    const QByteArray table = file.read(qint64(entrySize) * count);
    const Bytes t(table, header[5] == 2);

    struct Section { quint64 name, type, offset, size; };
    auto section = [&](quint64 i) {
        const quint64 at = i * entrySize;
        return is64 ? Section{t.read(at, 4), t.read(at + 4, 4), t.read(at + 24, 8), t.read(at + 32, 8)}
                    : Section{t.read(at, 4), t.read(at + 4, 4), t.read(at + 16, 4), t.read(at + 20, 4)};
    };
    constexpr quint64 kNoBits = 8;
    // Reads at most `limit` bytes of a section's contents; sections without file data read empty.
    auto contents = [&](const Section& s, quint64 limit) -> QByteArray {
        if (s.type == kNoBits || s.offset > quint64(file.size()) || !file.seek(qint64(s.offset)))
            return {};
        return file.read(qint64(std::min(s.size, limit)));
    };

    const QByteArray names = contents(section(namesIndex), 1 << 20);
    const QByteArray wanted = QByteArray(VersionRecord::kSectionName) + '\0';
    for (quint64 i = 0; i < count && t.has(i * entrySize, entrySize); ++i) {
        const Section s = section(i);
        if (s.name < quint64(names.size())
            && names.mid(qsizetype(s.name), wanted.size()) == wanted)
            return contents(s, VersionRecord::kMaxSize);
    }
    return {};
}

QString ReadFileVersion(const QString& path)
{
    return versionRecordString(readVersionRecordSection(path), QStringLiteral("FileVersion"));
}
