#include "scanner/PageAssembler.h"

#include <QObject>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <sys/mman.h>

namespace {

int channelsOf(PageAssembler::Frame::Kind kind) { return kind == PageAssembler::Frame::Rgb ? 3 : 1; }

bool isBand(PageAssembler::Frame::Kind kind)
{
    return kind == PageAssembler::Frame::Red || kind == PageAssembler::Frame::Green
        || kind == PageAssembler::Frame::Blue;
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

// A page's pixels, backed by huge pages where the kernel offers them. A 300 dpi colour page
// is some 4,000 ordinary pages of memory, and on virtual machines taking the fault for each
// as the scanner's lines arrive costs more than copying the lines. Small pages and machines
// without huge pages get an ordinary image; a null image means there is no memory.
QImage newPageImage(int width, int height, QImage::Format format)
{
    constexpr qsizetype hugePage = 2 * 1024 * 1024;
    const int bits = QImage::toPixelFormat(format).bitsPerPixel();
    const qsizetype bytesPerLine = (qsizetype(width) * bits + 31) / 32 * 4;
    if (width <= 0 || height <= 0 || bytesPerLine > std::numeric_limits<int>::max()
        || qsizetype(height) > std::numeric_limits<qsizetype>::max() / bytesPerLine)
        return QImage(width, height, format);
    const qsizetype bytes = bytesPerLine * height;
    if (bytes < hugePage)
        return QImage(width, height, format);
    const size_t rounded = size_t((bytes + hugePage - 1) / hugePage * hugePage);
    void* data = nullptr;
    if (posix_memalign(&data, size_t(hugePage), rounded) != 0)
        return QImage(width, height, format);
#ifdef MADV_HUGEPAGE
    madvise(data, rounded, MADV_HUGEPAGE); // advice only: without it the page still works
#endif
    QImage image(static_cast<uchar*>(data), width, height, bytesPerLine, format,
                 [](void* p) { std::free(p); }, data);
    if (image.isNull())
        std::free(data);
    return image;
}

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool PageAssembler::beginFrame(const Frame& frame, QString* error)
{
    if (m_inFrame)
        return fail(error, QObject::tr("A frame began before the previous one ended"));
    if (frame.depth != 1 && frame.depth != 8 && frame.depth != 16)
        return fail(error, QObject::tr("Unsupported sample depth %1").arg(frame.depth));
    if (frame.pixelsPerLine <= 0)
        return fail(error, QObject::tr("The scanner sent an empty line width"));
    const qint64 needed =
        (qint64(frame.pixelsPerLine) * channelsOf(frame.kind) * frame.depth + 7) / 8;
    if (frame.bytesPerLine < needed)
        return fail(error, QObject::tr("The scanner sent lines shorter than their pixels"));

    if (m_framesDone == 0) {
        m_framesExpected = isBand(frame.kind) ? 3 : 1;
        QImage::Format format = QImage::Format_RGB888;
        if (frame.kind == Frame::Gray)
            format = frame.depth == 1 ? QImage::Format_Mono : QImage::Format_Grayscale8;
        // Unknown height: start small and grow as lines come.
        const int height = frame.lines > 0 ? frame.lines : 64;
        m_image = newPageImage(frame.pixelsPerLine, height, format);
        if (m_image.isNull())
            return fail(error, QObject::tr("Not enough memory for the page"));
        if (format == QImage::Format_Mono)
            m_image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        // Every row that stays is written by the data, except where a later band of a
        // three-pass page falls short: start those pages black rather than undefined.
        if (m_framesExpected > 1)
            std::memset(m_image.bits(), 0, size_t(m_image.sizeInBytes()));
        m_rows = 0;
    } else {
        if (m_framesDone >= m_framesExpected || !isBand(frame.kind))
            return fail(error, QObject::tr("The scanner sent an unexpected frame"));
        if (frame.pixelsPerLine != m_image.width())
            return fail(error, QObject::tr("The scanner's frames differ in width"));
    }
    m_frame = frame;
    m_line.assign(size_t(frame.bytesPerLine), 0);
    m_lineFill = 0;
    m_frameRow = 0;
    m_inFrame = true;
    return true;
}

bool PageAssembler::ensureRow(int row)
{
    if (row < m_image.height())
        return true;
    if (m_framesDone > 0)
        return false; // later bands cannot make the page taller than the first one did
    const int grown = std::max(row + 1, m_image.height() * 2);
    QImage bigger = m_image.copy(0, 0, m_image.width(), grown);
    if (bigger.isNull())
        return false;
    m_image = std::move(bigger);
    return true;
}

void PageAssembler::decodeLine(const unsigned char* line, int row)
{
    unsigned char* out = m_image.scanLine(row);
    const int width = m_image.width();
    const int depth = m_frame.depth;
    switch (m_frame.kind) {
    case Frame::Gray:
        if (depth == 1) {
            // Scanners send 1 for black; our black-and-white pages keep black at index 0.
            const int bytes = (width + 7) / 8;
            for (int i = 0; i < bytes; ++i)
                out[i] = static_cast<unsigned char>(~line[i]);
        } else if (depth == 8) {
            std::memcpy(out, line, size_t(width));
        } else {
            for (int x = 0; x < width; ++x)
                out[x] = sampleAt(line, x, 16);
        }
        break;
    case Frame::Rgb:
        if (depth == 8)
            std::memcpy(out, line, size_t(width) * 3);
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

bool PageAssembler::addData(const unsigned char* data, int length, QString* error)
{
    if (!m_inFrame)
        return fail(error, QObject::tr("The scanner sent data outside a frame"));
    const int lineBytes = m_frame.bytesPerLine;
    while (length > 0) {
        const unsigned char* line = nullptr;
        if (m_lineFill == 0 && length >= lineBytes) {
            line = data; // whole lines straight from the device's buffer
            data += lineBytes;
            length -= lineBytes;
        } else {
            const int take = std::min(length, lineBytes - m_lineFill);
            std::memcpy(m_line.data() + m_lineFill, data, size_t(take));
            m_lineFill += take;
            data += take;
            length -= take;
            if (m_lineFill < lineBytes)
                break;
            m_lineFill = 0;
            line = m_line.data();
        }
        if (!ensureRow(m_frameRow)) {
            if (m_framesDone > 0)
                continue; // surplus lines of a later band are dropped
            return fail(error, QObject::tr("Not enough memory for the page"));
        }
        decodeLine(line, m_frameRow++);
        if (m_framesDone == 0)
            m_rows = m_frameRow;
    }
    return true;
}

bool PageAssembler::endFrame(QString* error)
{
    if (!m_inFrame)
        return fail(error, QObject::tr("The scanner ended a frame it never began"));
    m_inFrame = false;
    if (m_frameRow == 0)
        return fail(error, QObject::tr("The scanner sent no image data"));
    ++m_framesDone; // a partial last line is dropped
    return true;
}

QImage PageAssembler::takeImage()
{
    if (m_framesDone == 0)
        return {};
    if (m_framesDone < m_framesExpected)
        return {};
    QImage page = m_rows == m_image.height() ? std::move(m_image)
                                             : m_image.copy(0, 0, m_image.width(), m_rows);
    m_image = QImage();
    m_framesDone = 0;
    return page;
}

int PageAssembler::permille() const
{
    if (!m_inFrame || m_frame.lines <= 0)
        return -1;
    const qint64 inFrame = std::min<qint64>(1000, qint64(m_frameRow) * 1000 / m_frame.lines);
    return int((m_framesDone * 1000 + inFrame) / m_framesExpected);
}
