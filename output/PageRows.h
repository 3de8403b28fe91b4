// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>

// How a page's samples are laid out in a file: one bit (black and white), 8-bit gray, or
// 8-bit RGB.
enum class PageKind { Bilevel, Gray, Colour };

PageKind pageKind(const QImage& image);

// The page's rows in one layout, converted a strip at a time so that a page is never copied
// whole: Format_Mono (packed, most significant bit first, 1 = black), Format_Grayscale8,
// Format_RGB888 or Format_BGR888. Converting colour or gray to Format_Mono thresholds at mid-gray.
class PageRows
{
public:
    PageRows(const QImage& image, QImage::Format layout);

    const uchar* row(int y);
    int bytesPerRow() const { return m_bytesPerRow; }

private:
    void convertStripAt(int y);

    const QImage& m_image;
    QImage::Format m_layout;
    int m_bytesPerRow;
    bool m_direct = false;       // the page already has the layout: rows are read in place
    bool m_invertBits = false;   // a bilevel page whose index 1 is the light colour
    QImage m_strip;
    int m_stripTop = -1;
    QByteArray m_flipped;
};

// Resolution of the page in dots per inch, snapped to a whole number when it is one but for
// the rounding of dots per metre (300 dpi is stored as 11811 dots per metre).
double dotsPerInchX(const QImage& image);
double dotsPerInchY(const QImage& image);
double dotsPerInch(int dotsPerMeter);

// How many threads code a page of this many raw bytes: one core each, at most four, once the
// page is large enough (4 MiB) for the work to outweigh starting them; otherwise one.
int codingThreads(qint64 rawBytes);
