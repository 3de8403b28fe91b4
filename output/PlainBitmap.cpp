// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlainBitmap.h"

#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

quint32 le32(const uchar* p) { return p[0] | p[1] << 8 | p[2] << 16 | quint32(p[3]) << 24; }
quint16 le16(const uchar* p) { return quint16(p[0] | p[1] << 8); }

} // namespace

bool PlainBitmap::read(QIODevice& file, PlainBitmap* out)
{
    uchar head[54];
    if (!file.seek(0) || file.read(reinterpret_cast<char*>(head), 54) != 54 || head[0] != 'B'
        || head[1] != 'M')
        return false;
    const quint32 headerSize = le32(head + 14);
    const qint32 width = qint32(le32(head + 18));
    const qint32 height = qint32(le32(head + 22));
    const int bits = le16(head + 28);
    const quint32 compression = le32(head + 30);
    if (headerSize < 40 || (bits != 1 && bits != 8 && bits != 24) || compression != 0 || width <= 0
        || height == 0 || height == std::numeric_limits<qint32>::min())
        return false;
    PlainBitmap b;
    b.dataOffset = le32(head + 10);
    b.width = width;
    b.height = std::abs(height);
    b.bottomUp = height > 0;
    b.bitsPerPixel = bits;
    b.stride = (qint64(width) * bits + 31) / 32 * 4;
    b.dotsPerMeterX = qint32(le32(head + 38));
    b.dotsPerMeterY = qint32(le32(head + 42));
    if (bits < 24) {
        const quint32 used = le32(head + 46);
        const int entries = used == 0 || used > (1u << bits) ? 1 << bits : int(used);
        QByteArray table(entries * 4, Qt::Uninitialized);
        if (!file.seek(14 + headerSize) || file.read(table.data(), table.size()) != table.size())
            return false;
        const auto* t = reinterpret_cast<const uchar*>(table.constData());
        for (int i = 0; i < entries; ++i)
            b.palette.append(qRgb(t[4 * i + 2], t[4 * i + 1], t[4 * i]));
        b.palette.resize(1 << bits, qRgb(0, 0, 0));
    }
    if (b.dataOffset < 54 || b.dataOffset + b.stride * b.height > file.size())
        return false;
    *out = b;
    return true;
}

const uchar* mapColourBitmap(QFile& file, PlainBitmap* bitmap)
{
    if (!file.open(QIODevice::ReadOnly) || !PlainBitmap::read(file, bitmap) || bitmap->bitsPerPixel != 24)
        return nullptr;
    return file.map(0, file.size());
}

bool PlainBitmap::grayPalette() const
{
    if (bitsPerPixel == 24)
        return false;
    return std::all_of(palette.begin(), palette.end(),
                       [](QRgb c) { return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c); });
}

QSize fittedSize(const QSize& size, const QSize& bound)
{
    if (size.isEmpty())
        return {};
    if (size.width() <= bound.width() && size.height() <= bound.height())
        return size;
    const qint64 w = size.width(), h = size.height();
    const qint64 bw = std::max(1, bound.width()), bh = std::max(1, bound.height());
    // Compared as products: the wider of the two proportions decides which side fills.
    if (w * bh > h * bw)
        return QSize(int(bw), int(std::max<qint64>(1, h * bw / w)));
    return QSize(int(std::max<qint64>(1, w * bh / h)), int(bh));
}

namespace {

// One stored row as 8-bit samples of the result's layout (RGB, or gray).
class RowExpander
{
public:
    RowExpander(const PlainBitmap& b, bool gray) : m_bits(b.bitsPerPixel), m_gray(gray)
    {
        for (const QRgb c : b.palette) {
            m_lut.push_back(uchar(qRed(c)));   // a gray palette has it in all three
            m_lut.push_back(uchar(qGreen(c)));
            m_lut.push_back(uchar(qBlue(c)));
        }
    }

    void expand(const uchar* src, int width, uchar* dst) const
    {
        if (m_bits == 24) {
            for (int x = 0; x < width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
            return;
        }
        for (int x = 0; x < width; ++x) {
            const int index = m_bits == 8 ? src[x] : (src[x >> 3] >> (7 - (x & 7))) & 1;
            const uchar* c = m_lut.data() + 3 * index;
            if (m_gray) {
                *dst++ = c[0];
            } else {
                *dst++ = c[0];
                *dst++ = c[1];
                *dst++ = c[2];
            }
        }
    }

private:
    int m_bits;
    bool m_gray;
    std::vector<uchar> m_lut;
};

} // namespace

QImage readPlainBitmapFitted(QIODevice& file, const PlainBitmap& b, const QSize& bound)
{
    const QSize size = fittedSize(QSize(b.width, b.height), bound);
    if (size.isEmpty())
        return {};
    const bool gray = b.grayPalette();
    const int channels = gray ? 1 : 3;
    QImage out(size, gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (out.isNull())
        return {};
    out.setDotsPerMeterX(int(qint64(b.dotsPerMeterX) * size.width() / b.width));
    out.setDotsPerMeterY(int(qint64(b.dotsPerMeterY) * size.height() / b.height));
    const RowExpander expander(b, gray);
    const int tw = size.width(), th = size.height();
    const bool whole = size == QSize(b.width, b.height);

    // Each result pixel sums the samples of the source columns and rows it covers.
    std::vector<int> columnOf(static_cast<size_t>(b.width));
    std::vector<int> columnsIn(static_cast<size_t>(tw), 0);
    for (int x = 0; x < b.width; ++x) {
        columnOf[size_t(x)] = int(qint64(x) * tw / b.width);
        ++columnsIn[size_t(columnOf[size_t(x)])];
    }
    std::vector<quint64> sums(whole ? 0 : size_t(tw) * channels, 0);
    std::vector<uchar> line(size_t(b.width) * channels);
    int pendingRow = -1;
    int rowsSummed = 0;
    const auto flush = [&] {
        if (pendingRow < 0)
            return;
        uchar* dst = out.scanLine(pendingRow);
        for (int i = 0; i < tw; ++i) {
            const quint64 n = quint64(columnsIn[size_t(i)]) * quint64(rowsSummed);
            for (int c = 0; c < channels; ++c) {
                quint64& s = sums[size_t(i) * channels + c];
                dst[i * channels + c] = uchar((s + n / 2) / n);
                s = 0;
            }
        }
        rowsSummed = 0;
    };

    // Rows are read in blocks of about a megabyte, in the order they are stored.
    const int rowsPerBlock = int(std::clamp<qint64>((1 << 20) / b.stride, 1, b.height));
    std::vector<char> block(size_t(b.stride * rowsPerBlock));
    if (!file.seek(b.dataOffset))
        return {};
    for (int stored = 0; stored < b.height; stored += rowsPerBlock) {
        const int n = std::min(rowsPerBlock, b.height - stored);
        if (file.read(block.data(), b.stride * n) != b.stride * n)
            return {};
        for (int k = 0; k < n; ++k) {
            const int y = b.bottomUp ? b.height - 1 - (stored + k) : stored + k;
            const auto* src = reinterpret_cast<const uchar*>(block.data()) + b.stride * k;
            if (whole) {
                expander.expand(src, b.width, out.scanLine(y));
                continue;
            }
            const int row = int(qint64(y) * th / b.height);
            if (row != pendingRow) {
                flush();
                pendingRow = row;
            }
            expander.expand(src, b.width, line.data());
            for (int x = 0; x < b.width; ++x) {
                quint64* s = sums.data() + size_t(columnOf[size_t(x)]) * channels;
                const uchar* v = line.data() + size_t(x) * channels;
                for (int c = 0; c < channels; ++c)
                    s[c] += v[c];
            }
            ++rowsSummed;
        }
    }
    flush();
    return out;
}
