// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PageRows.h"

#include <QImage>
#include <QList>

#include <memory>
#include <vector>

// A page as rows of palette indices (256 colours at most) for GIF, produced row by row:
// a page with few enough colours keeps them exactly; a gray page gets the gray ramp; any
// other page is mapped onto a fixed 6x7x6 colour cube with ordered dithering, which is fast,
// needs no pass over the whole page first, and shows no banding on smooth gradients.
class ColourReduction
{
public:
    explicit ColourReduction(const QImage& image);

    const QList<QRgb>& palette() const { return m_palette; }
    // Indices of row y, one byte per pixel.
    const uchar* row(int y);

private:
    bool findExactPalette();
    int exactIndex(quint32 rgb) const;

    const QImage& m_image;
    PageKind m_kind;
    std::unique_ptr<PageRows> m_rows;
    QList<QRgb> m_palette;
    bool m_exact = false;
    std::vector<quint32> m_keys;    // exact palette lookup: colour | 1 << 24, 0 = free slot
    std::vector<uchar> m_indices;
    std::vector<uchar> m_line;
};
