// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <functional>

class QImage;
class QPaintDevice;
class QPainter;

// The one-page sheet the Preview command shows and prints: a single image box on a design
// page, lengths in inches. The box is anchored to all four page edges, so on any other
// paper it keeps its left and top position and its distances to the right and bottom edges.
struct PrintLayout
{
    QSizeF designPage{8.5, 11.0};
    QRectF imageBox{0.2, 0.2, 8.0, 10.4};

    // The image box on a sheet of `sheet` inches.
    QRectF imageBoxOn(const QSizeF& sheet) const;
};

// Where a picture of `picture` pixels goes inside `box`: as large as fits without
// distortion, at the box's top-left corner (not centred). Only the proportions count.
QRectF fitInsideTopLeft(const QSize& picture, const QRectF& box);

// The paper a painter draws on: its size in inches, where the paper's top-left corner lies
// in the painter's coordinates (printers paint from the printable area by default) and the
// device's resolution. A printer or PDF writer gives its page; any other device (an image)
// is a sheet of its own size.
struct Sheet
{
    QSizeF inches;
    QPointF origin;
    double dpiX = 72;
    double dpiY = 72;
};
Sheet sheetOf(QPaintDevice& device);

// The one render routine of the sheet, for the preview, the printer and the tests: draws
// `picture` into the layout's image box on the painter's sheet.
void renderPrintLayout(QPainter& painter, const QImage& picture,
                       const PrintLayout& layout = PrintLayout());

// The same for a picture of `pictureSize` pixels that is fetched only at the size it takes on
// the device: picture(bound) returns it reduced to fit `bound` device pixels (or whole when
// smaller). A page scanned at a higher resolution than the printer's is never held whole.
void renderPrintLayout(QPainter& painter, const QSize& pictureSize,
                       const std::function<QImage(const QSize& bound)>& picture,
                       const PrintLayout& layout = PrintLayout());
