// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/Thumbnail.h"
#include "IsolatedTest.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

using ThumbnailTest = IsolatedTest;

struct ThumbnailCase
{
    int width, height;
    QSize fitted;
    QPoint offset;
};

TEST_F(ThumbnailTest, ThumbnailGeometry)
{
    const QList<ThumbnailCase> cases = {
        {600, 600, {75, 75}, {12, 0}},
        {850, 1100, {57, 75}, {21, 0}},
        {1100, 850, {100, 77}, {0, -1}},
    };
    for (const ThumbnailCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        const ThumbnailPlacement p = thumbnailPlacement(c.width, c.height);
        EXPECT_EQ(p.fitted, c.fitted);
        EXPECT_EQ(p.offset, c.offset);

        // A black page drawn on white: the black area is the fitted picture, clipped.
        QImage page(c.width, c.height, QImage::Format_RGB32);
        page.fill(Qt::black);
        const QString copy = tempDir() + "/page.bmp";
        ASSERT_TRUE(page.save(copy, "BMP"));
        const QImage thumb = MakeThumbnail(copy, c.width, c.height);
        ASSERT_EQ(thumb.size(), QSize(100, 75));
        const QRect black = QRect(c.offset, c.fitted) & thumb.rect();
        for (int y = 0; y < 75; ++y)
            for (int x = 0; x < 100; ++x)
                ASSERT_EQ(thumb.pixel(x, y),
                          black.contains(x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255))
                    << x << "," << y;
    }
}

TEST_F(ThumbnailTest, ThumbnailOfUnreadableCopyIsWhite)
{
    const QImage thumb = MakeThumbnail(tempDir() + "/missing.bmp", 850, 1100);
    ASSERT_EQ(thumb.size(), QSize(100, 75));
    EXPECT_EQ(thumb.pixel(50, 37), qRgb(255, 255, 255));
}

} // namespace
