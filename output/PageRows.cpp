// SPDX-License-Identifier: GPL-3.0-or-later
#include "PageRows.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

constexpr int kStripRows = 64;

bool isLight(QRgb c) { return qGray(c) >= 128; }

bool grayPalette(const QImage& image)
{
    const QList<QRgb> table = image.colorTable();
    for (QRgb c : table)
        if (qRed(c) != qGreen(c) || qGreen(c) != qBlue(c))
            return false;
    return true;
}

// The bit of a bilevel page that means black is 1 unless its colour table says otherwise.
bool bitOneIsLight(const QImage& image)
{
    return image.colorCount() >= 2 && isLight(image.color(1)) && !isLight(image.color(0));
}

double snappedDpi(int dotsPerMeter)
{
    if (dotsPerMeter <= 0)
        return 72.0;
    const double dpi = dotsPerMeter * 0.0254;
    const double whole = std::round(dpi);
    return std::abs(dpi - whole) < 0.02 ? whole : dpi;
}

} // namespace

PageKind pageKind(const QImage& image)
{
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        return PageKind::Bilevel;
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_Alpha8:
        return PageKind::Gray;
    case QImage::Format_Indexed8:
        return grayPalette(image) ? PageKind::Gray : PageKind::Colour;
    default:
        return PageKind::Colour;
    }
}

PageRows::PageRows(const QImage& image, QImage::Format layout)
    : m_image(image), m_layout(layout)
{
    const int w = image.width();
    m_bytesPerRow = layout == QImage::Format_Mono ? (w + 7) / 8
                  : layout == QImage::Format_Grayscale8 ? w : 3 * w;  // RGB888 or BGR888
    if (image.format() == layout) {
        m_direct = true;
        if (layout == QImage::Format_Mono && bitOneIsLight(image)) {
            m_direct = false;
            m_invertBits = true;
            m_flipped.resize(m_bytesPerRow);
        }
    }
}

const uchar* PageRows::row(int y)
{
    if (m_invertBits) {
        const uchar* src = m_image.constScanLine(y);
        uchar* dst = reinterpret_cast<uchar*>(m_flipped.data());
        for (int i = 0; i < m_bytesPerRow; ++i)
            dst[i] = uchar(~src[i]);
        return dst;
    }
    if (m_direct)
        return m_image.constScanLine(y);
    if (m_stripTop < 0 || y < m_stripTop || y >= m_stripTop + m_strip.height())
        convertStripAt(y);
    return m_strip.constScanLine(y - m_stripTop);
}

void PageRows::convertStripAt(int y)
{
    m_stripTop = y / kStripRows * kStripRows;
    const int rows = std::min(kStripRows, m_image.height() - m_stripTop);
    // A view on the page's own rows: no copy until the conversion.
    QImage view(m_image.constScanLine(m_stripTop), m_image.width(), rows,
                m_image.bytesPerLine(), m_image.format());
    if (m_image.colorCount() > 0)
        view.setColorTable(m_image.colorTable());
    if (m_layout == QImage::Format_Mono) {
        m_strip = view.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
        if (bitOneIsLight(m_strip))
            m_strip.invertPixels();
    } else {
        m_strip = view.convertToFormat(m_layout);
    }
}

double dotsPerInchX(const QImage& image) { return snappedDpi(image.dotsPerMeterX()); }
double dotsPerInch(int dotsPerMeter) { return snappedDpi(dotsPerMeter); }
double dotsPerInchY(const QImage& image) { return snappedDpi(image.dotsPerMeterY()); }

int codingThreads(qint64 rawBytes)
{
    if (rawBytes < 4 * 1024 * 1024)
        return 1;
    return int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}
