// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PrintLayout.h"

#include <QImage>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>
#include <QtMath>

QRectF PrintLayout::imageBoxOn(const QSizeF& sheet) const
{
    return QRectF(imageBox.topLeft(),
                  QSizeF(imageBox.width() + sheet.width() - designPage.width(),
                         imageBox.height() + sheet.height() - designPage.height()));
}

QRectF fitInsideTopLeft(const QSize& picture, const QRectF& box)
{
    if (picture.isEmpty() || box.isEmpty())
        return QRectF(box.topLeft(), QSizeF(0, 0));
    const double w = picture.width();
    const double h = picture.height();
    // Compared as products so that neither side divides by a tiny number.
    if (w * box.height() > h * box.width())
        return QRectF(box.topLeft(), QSizeF(box.width(), box.width() * h / w));
    return QRectF(box.topLeft(), QSizeF(box.height() * w / h, box.height()));
}

Sheet sheetOf(QPaintDevice& device)
{
    Sheet sheet;
    sheet.dpiX = device.logicalDpiX();
    sheet.dpiY = device.logicalDpiY();
    if (auto* paged = dynamic_cast<QPagedPaintDevice*>(&device)) {
        const QPageLayout layout = paged->pageLayout();
        const QRectF full = layout.fullRect(QPageLayout::Inch);
        sheet.inches = full.size();
        auto* printer = dynamic_cast<QPrinter*>(&device);
        if (!(printer && printer->fullPage())) {
            const QRectF paint = layout.paintRect(QPageLayout::Inch);
            sheet.origin = QPointF(-paint.left() * sheet.dpiX, -paint.top() * sheet.dpiY);
        }
        return sheet;
    }
    sheet.inches = QSizeF(device.width() / sheet.dpiX, device.height() / sheet.dpiY);
    return sheet;
}

void renderPrintLayout(QPainter& painter, const QSize& pictureSize,
                       const std::function<QImage(const QSize& bound)>& picture,
                       const PrintLayout& layout)
{
    if (!painter.device() || pictureSize.isEmpty())
        return;
    const Sheet sheet = sheetOf(*painter.device());
    const QRectF inches = fitInsideTopLeft(pictureSize, layout.imageBoxOn(sheet.inches));
    const QRectF target(sheet.origin.x() + inches.left() * sheet.dpiX,
                        sheet.origin.y() + inches.top() * sheet.dpiY,
                        inches.width() * sheet.dpiX, inches.height() * sheet.dpiY);
    const QImage drawn = picture(QSize(qCeil(target.width()), qCeil(target.height())));
    if (drawn.isNull())
        return;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, drawn);
    painter.restore();
}

void renderPrintLayout(QPainter& painter, const QImage& picture, const PrintLayout& layout)
{
    renderPrintLayout(painter, picture.size(), [&picture](const QSize&) { return picture; }, layout);
}
