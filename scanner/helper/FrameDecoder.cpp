// SPDX-License-Identifier: GPL-3.0-or-later
#include "FrameDecoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using ScannerProtocol::PageFormat;

namespace {

int channelsOf(FrameDecoder::Frame::Kind kind) { return kind == FrameDecoder::Frame::Rgb ? 3 : 1; }

bool isBand(FrameDecoder::Frame::Kind kind)
{
    return kind == FrameDecoder::Frame::Red || kind == FrameDecoder::Frame::Green
        || kind == FrameDecoder::Frame::Blue;
}

// Sample i of a line as 8 bits. 16-bit samples come in the machine's byte order and are
// scaled to the nearest 8-bit value.
inline unsigned char sampleAt(const unsigned char* line, int i, int depth)
{
    switch (depth) {
    case 8:
        return line[i];
    case 16: {
        std::uint16_t v;
        std::memcpy(&v, line + 2 * i, 2);
        return static_cast<unsigned char>((unsigned(v) + 128) / 257);
    }
    default: // 1: a set bit is full intensity in colour frames
        return (line[i >> 3] >> (7 - (i & 7))) & 1 ? 255 : 0;
    }
}

bool fail(std::string* error, const char* text)
{
    if (error)
        *error = text;
    return false;
}

constexpr std::size_t kBufferBytes = 256 * 1024;
// A page of unknown length starts with room for this much and doubles as it needs.
constexpr std::int64_t kUnknownLengthBytes = 1024 * 1024;

} // namespace

bool FrameDecoder::beginFrame(const Frame& frame, std::string* error)
{
    if (m_inFrame)
        return fail(error, "A frame began before the previous one ended");
    if (frame.depth != 1 && frame.depth != 8 && frame.depth != 16)
        return fail(error, "Unsupported sample depth");
    if (frame.pixelsPerLine <= 0)
        return fail(error, "The scanner sent an empty line width");
    const std::int64_t needed =
        (std::int64_t(frame.pixelsPerLine) * channelsOf(frame.kind) * frame.depth + 7) / 8;
    if (frame.bytesPerLine < needed)
        return fail(error, "The scanner sent lines shorter than their pixels");

    if (m_framesDone == 0) {
        m_framesExpected = isBand(frame.kind) ? 3 : 1;
        m_format = PageFormat::Rgb888;
        if (frame.kind == Frame::Gray)
            m_format = frame.depth == 1 ? PageFormat::Mono : PageFormat::Gray8;
        m_width = frame.pixelsPerLine;
        m_expectedRows = frame.lines > 0 ? frame.lines : -1;
        // Lines already laid out as the page's rows are read into the page as they are;
        // padding at their ends stays in the rows, past the pixels.
        const bool sameLayout = m_framesExpected == 1
            && (frame.depth == 8 || (frame.depth == 1 && frame.kind == Frame::Gray));
        std::int64_t stride = ScannerProtocol::pageStride(m_format, m_width);
        m_direct = sameLayout && frame.bytesPerLine >= stride && frame.bytesPerLine % 4 == 0;
        if (m_direct)
            stride = frame.bytesPerLine;
        // Lines a little shorter than the rows (their padding to whole words is missing) are
        // still read straight into their rows, a line at a time: copying a page through a
        // buffer costs more than the reads.
        m_rowDirect = !m_direct && sameLayout && frame.bytesPerLine <= stride;
        const bool window = m_windowBytes > 0 && m_framesExpected == 1 && m_expectedRows > 0;
        if (window) {
            // Rows wrap round the window's end, and copying into a window, which stays in the
            // cache, is cheap: big reads through the buffer wake the driver far less often.
            m_direct = false;
            m_rowDirect = false;
        }
        const std::int64_t rows = window ? std::clamp<std::int64_t>(m_windowBytes / stride, 16, m_expectedRows)
            : m_expectedRows > 0 ? m_expectedRows
                                 : std::max<std::int64_t>(64, kUnknownLengthBytes / stride);
        // A fresh memfd reads as zeros: a later band of a three-pass page that falls short
        // leaves black, not undefined, rows.
        if (!m_memory.create(stride, rows, window))
            return fail(error, "Not enough memory for the page");
        m_rows = 0;
        m_directBytes = 0;
    } else {
        if (m_framesDone >= m_framesExpected || !isBand(frame.kind))
            return fail(error, "The scanner sent an unexpected frame");
        if (frame.pixelsPerLine != m_width)
            return fail(error, "The scanner's frames differ in width");
    }
    m_frame = frame;
    if (!m_direct && !m_rowDirect) {
        m_buffer.resize(std::max<std::size_t>(kBufferBytes, std::size_t(frame.bytesPerLine)));
        m_line.assign(std::size_t(frame.bytesPerLine), 0);
    }
    m_lineFill = 0;
    m_frameRow = 0;
    m_inFrame = true;
    return true;
}

unsigned char* FrameDecoder::target(std::size_t* room, std::string* error)
{
    if (m_rowDirect) {
        if (!ensureRow(m_frameRow)) {
            fail(error, "Not enough memory for the page");
            return nullptr;
        }
        *room = std::size_t(m_frame.bytesPerLine) - m_lineFill;
        return m_memory.row(m_frameRow) + m_lineFill;
    }
    if (!m_direct) {
        *room = m_buffer.size();
        return m_buffer.data();
    }
    if (m_directBytes >= m_memory.bytes()) {
        // More lines than announced (or an unknown count): the page grows.
        if (!m_memory.reserve(m_memory.capacityRows() + 1)) {
            fail(error, "Not enough memory for the page");
            return nullptr;
        }
    }
    *room = m_memory.bytes() - m_directBytes;
    return m_memory.data() + m_directBytes;
}

bool FrameDecoder::commit(std::size_t length, std::string* error)
{
    if (!m_inFrame)
        return fail(error, "The scanner sent data outside a frame");
    if (m_rowDirect) {
        m_lineFill += length;
        if (m_lineFill >= std::size_t(m_frame.bytesPerLine)) {
            m_lineFill = 0;
            m_rows = ++m_frameRow;
        }
        return true;
    }
    if (!m_direct)
        return addData(m_buffer.data(), length, error);
    m_directBytes += length;
    m_frameRow = int(m_directBytes / std::size_t(m_memory.stride()));
    m_rows = m_frameRow;
    return true;
}

bool FrameDecoder::ensureRow(int row)
{
    if (m_memory.window())
        return m_roomFor(row);
    if (row < m_memory.capacityRows())
        return true;
    if (m_framesDone > 0)
        return false; // later bands cannot make the page taller than the first one did
    return m_memory.reserve(row + 1);
}

void FrameDecoder::decodeLine(const unsigned char* line, int row)
{
    unsigned char* out = m_memory.row(row);
    const int width = m_width;
    const int depth = m_frame.depth;
    switch (m_frame.kind) {
    case Frame::Gray:
        if (depth == 1)
            std::memcpy(out, line, std::size_t((width + 7) / 8)); // 1 is black on both sides
        else if (depth == 8)
            std::memcpy(out, line, std::size_t(width));
        else
            for (int x = 0; x < width; ++x)
                out[x] = sampleAt(line, x, 16);
        break;
    case Frame::Rgb:
        if (depth == 8)
            std::memcpy(out, line, std::size_t(width) * 3);
        else
            for (int i = 0; i < width * 3; ++i)
                out[i] = sampleAt(line, i, depth);
        break;
    case Frame::Red:
    case Frame::Green:
    case Frame::Blue: {
        const int channel = m_frame.kind - Frame::Red;
        for (int x = 0; x < width; ++x)
            out[3 * x + channel] = sampleAt(line, x, depth);
        break;
    }
    }
}

bool FrameDecoder::addData(const unsigned char* data, std::size_t length, std::string* error)
{
    const std::size_t lineBytes = std::size_t(m_frame.bytesPerLine);
    while (length > 0) {
        const unsigned char* line = nullptr;
        if (m_lineFill == 0 && length >= lineBytes) {
            line = data; // whole lines straight from the device's buffer
            data += lineBytes;
            length -= lineBytes;
        } else {
            const std::size_t take = std::min(length, lineBytes - m_lineFill);
            std::memcpy(m_line.data() + m_lineFill, data, take);
            m_lineFill += take;
            data += take;
            length -= take;
            if (m_lineFill < lineBytes)
                break;
            m_lineFill = 0;
            line = m_line.data();
        }
        if (surplus()) {
            ++m_frameRow;
            continue;
        }
        if (!ensureRow(m_frameRow)) {
            if (m_memory.window())
                return fail(error, "The page was stopped");
            if (m_framesDone > 0)
                continue; // surplus lines of a later band are dropped
            return fail(error, "Not enough memory for the page");
        }
        decodeLine(line, m_frameRow++);
        if (m_framesDone == 0)
            m_rows = m_frameRow;
    }
    return true;
}

bool FrameDecoder::endFrame(std::string* error)
{
    if (!m_inFrame)
        return fail(error, "The scanner ended a frame it never began");
    m_inFrame = false;
    if (m_frameRow == 0)
        return fail(error, "The scanner sent no image data");
    ++m_framesDone; // a partial last line is dropped
    return true;
}

int FrameDecoder::completeRows() const
{
    if (m_framesExpected == 1 || complete())
        return m_rows;
    // A three-pass row is whole once its last colour came.
    return m_framesDone == m_framesExpected - 1 && m_inFrame ? std::min(m_frameRow, m_rows) : 0;
}

int FrameDecoder::permille() const
{
    if (!m_inFrame || m_frame.lines <= 0)
        return -1;
    const std::int64_t inFrame =
        std::min<std::int64_t>(1000, std::int64_t(m_frameRow) * 1000 / m_frame.lines);
    return int((m_framesDone * 1000 + inFrame) / m_framesExpected);
}
