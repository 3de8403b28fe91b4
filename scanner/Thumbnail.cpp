// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/Thumbnail.h"

#include <QImageReader>
#include <QPainter>

namespace {
constexpr int kWidth = 100;
constexpr int kHeight = 75;
} // namespace

ThumbnailPlacement thumbnailPlacement(int width, int height)
{
    ThumbnailPlacement p;
    if (width <= 0 || height <= 0)
        return p;
    // 64-bit products: a page of more than 21 million pixels a side would overflow 32 bits.
    if (width > height)
        p.fitted = QSize(kWidth, int(qint64(kWidth) * height / width));
    else
        p.fitted = QSize(int(qint64(kHeight) * width / height), kHeight);
    p.offset = QPoint((kWidth - p.fitted.width()) / 2, (kHeight - p.fitted.height()) / 2);
    return p;
}

namespace {

QImage whiteThumbnail()
{
    QImage thumbnail(kWidth, kHeight, QImage::Format_RGB32);
    thumbnail.fill(Qt::white);
    return thumbnail;
}

QImage drawn(const ThumbnailPlacement& p, const QImage& fitted)
{
    QImage thumbnail = whiteThumbnail();
    if (fitted.isNull())
        return thumbnail;
    QPainter painter(&thumbnail);
    painter.drawImage(
        p.offset, fitted.size() == p.fitted
                      ? fitted
                      : fitted.scaled(p.fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return thumbnail;
}

} // namespace

QImage MakeThumbnail(const QString& copyPath, int width, int height)
{
    const ThumbnailPlacement p = thumbnailPlacement(width, height);
    if (p.fitted.isEmpty())
        return whiteThumbnail();
    QImageReader reader(copyPath);
    // Reading at the fitted size lets the decoder skip most of a large page.
    reader.setScaledSize(p.fitted);
    return drawn(p, reader.read());
}

QImage makeThumbnail(const QImage& page, int width, int height)
{
    const ThumbnailPlacement p = thumbnailPlacement(width, height);
    if (p.fitted.isEmpty() || page.isNull())
        return whiteThumbnail();
    // A cheap first step down to four times the fitted size, then a smooth one: the
    // picture looks the same and a page of tens of megapixels is not averaged in full.
    const QSize coarse = p.fitted * 4;
    const QImage reduced = page.width() > coarse.width() && page.height() > coarse.height()
                               ? page.scaled(coarse, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                               : page;
    return drawn(p, reduced.scaled(p.fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}
