// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

class QFile;
class QIODevice;

// The layout of an uncompressed Windows bitmap of 1, 8 or 24 bits per pixel, the kinds this
// program writes itself, read from the file's headers alone.
struct PlainBitmap
{
    qint64 dataOffset = 0;
    int width = 0;
    int height = 0;          // rows
    bool bottomUp = true;    // rows stored from the last to the first
    int bitsPerPixel = 0;
    qint64 stride = 0;       // bytes per stored row
    QList<QRgb> palette;     // 1 and 8 bits
    int dotsPerMeterX = 0;
    int dotsPerMeterY = 0;

    // false for anything else (other depths, compression, a file too short for its rows).
    static bool read(QIODevice& file, PlainBitmap* out);
    bool grayPalette() const;
};

// The pixels of a 24-bit plain bitmap, mapped from `file` (opened here, its header read into
// *bitmap); null when the file is no such bitmap or cannot be mapped.
const uchar* mapColourBitmap(QFile& file, PlainBitmap* bitmap);

// The picture of a plain bitmap reduced to fit `bound` without distortion (never enlarged),
// each pixel the average of the area it covers. The file is read a row at a time, so a page
// far larger than the result is never held in memory. 8-bit RGB, or 8-bit gray for a gray or
// black-and-white page. A null image when the file cannot be read.
QImage readPlainBitmapFitted(QIODevice& file, const PlainBitmap& bitmap, const QSize& bound);

// The largest size of the given proportions inside `bound`, at most `size` itself; each side
// at least 1.
QSize fittedSize(const QSize& size, const QSize& bound);
