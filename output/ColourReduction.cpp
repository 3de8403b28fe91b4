// SPDX-License-Identifier: GPL-3.0-or-later
#include "ColourReduction.h"

#include <array>

namespace {

constexpr int kLevelsR = 6, kLevelsG = 7, kLevelsB = 6;
constexpr int kSlots = 1024;   // a power of two, well above 256 entries

constexpr std::array<int, 16> kBayer = {0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};

// level[t][v]: the cube level of value v under threshold t of the dither matrix.
struct DitherTable
{
    explicit DitherTable(int levels)
    {
        for (int t = 0; t < 16; ++t)
            for (int v = 0; v < 256; ++v)
                level[t][v] = uchar(std::min(levels - 1, (v * (levels - 1) * 16 + kBayer[t] * 255 + 127) / (255 * 16)));
    }
    uchar level[16][256];
};

quint32 hashSlot(quint32 rgb) { return (rgb * 2654435761u) >> 22; }   // top 10 bits

} // namespace

ColourReduction::ColourReduction(const QImage& image) : m_image(image), m_kind(pageKind(image))
{
    m_line.resize(size_t(image.width()));
    if (m_kind == PageKind::Bilevel) {
        m_rows = std::make_unique<PageRows>(image, QImage::Format_Mono);
        m_palette = {qRgb(255, 255, 255), qRgb(0, 0, 0)};
    } else if (m_kind == PageKind::Gray) {
        m_rows = std::make_unique<PageRows>(image, QImage::Format_Grayscale8);
        for (int i = 0; i < 256; ++i)
            m_palette.append(qRgb(i, i, i));
    } else {
        m_rows = std::make_unique<PageRows>(image, QImage::Format_RGB888);
        m_exact = findExactPalette();
        if (!m_exact) {
            m_palette.clear();
            for (int r = 0; r < kLevelsR; ++r)
                for (int g = 0; g < kLevelsG; ++g)
                    for (int b = 0; b < kLevelsB; ++b)
                        m_palette.append(qRgb(r * 255 / (kLevelsR - 1), g * 255 / (kLevelsG - 1),
                                              b * 255 / (kLevelsB - 1)));
        }
    }
}

bool ColourReduction::findExactPalette()
{
    m_keys.assign(kSlots, 0);
    m_indices.assign(kSlots, 0);
    quint32 last = 0xffffffff;
    for (int y = 0; y < m_image.height(); ++y) {
        const uchar* p = m_rows->row(y);
        for (int x = 0; x < m_image.width(); ++x, p += 3) {
            const quint32 rgb = quint32(p[0]) << 16 | quint32(p[1]) << 8 | p[2];
            if (rgb == last)
                continue;
            last = rgb;
            if (exactIndex(rgb) >= 0)
                continue;
            if (m_palette.size() == 256)
                return false;
            quint32 slot = hashSlot(rgb);
            while (m_keys[slot] != 0)
                slot = (slot + 1) & (kSlots - 1);
            m_keys[slot] = rgb | 1u << 24;
            m_indices[slot] = uchar(m_palette.size());
            m_palette.append(qRgb(p[0], p[1], p[2]));
        }
    }
    return true;
}

int ColourReduction::exactIndex(quint32 rgb) const
{
    for (quint32 slot = hashSlot(rgb);; slot = (slot + 1) & (kSlots - 1)) {
        const quint32 key = m_keys[slot];
        if (key == 0)
            return -1;
        if (key == (rgb | 1u << 24))
            return m_indices[slot];
    }
}

const uchar* ColourReduction::row(int y)
{
    const uchar* src = m_rows->row(y);
    uchar* out = m_line.data();
    const int w = m_image.width();
    if (m_kind == PageKind::Bilevel) {
        for (int x = 0; x < w; ++x)
            out[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
        return out;
    }
    if (m_kind == PageKind::Gray)
        return src;
    if (m_exact) {
        quint32 last = 0xffffffff;
        uchar index = 0;
        for (int x = 0; x < w; ++x, src += 3) {
            const quint32 rgb = quint32(src[0]) << 16 | quint32(src[1]) << 8 | src[2];
            if (rgb != last) {
                last = rgb;
                index = uchar(exactIndex(rgb));
            }
            out[x] = index;
        }
        return out;
    }
    static const DitherTable red(kLevelsR), green(kLevelsG), blue(kLevelsB);
    const int rowPhase = (y & 3) * 4;
    for (int x = 0; x < w; ++x, src += 3) {
        const int t = rowPhase + (x & 3);
        out[x] = uchar((red.level[t][src[0]] * kLevelsG + green.level[t][src[1]]) * kLevelsB
                       + blue.level[t][src[2]]);
    }
    return out;
}
