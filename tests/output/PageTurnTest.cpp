// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/PageTurn.h"

#include "output/ImageFiles.h"

#include "IsolatedTest.h"
#include "PageFixtures.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <tiffio.h>

#include <cmath>

namespace {

class PageTurnTest : public IsolatedTest
{
protected:
    QString out(const QString& name) const { return scratchDir() + QLatin1Char('/') + name; }
};

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// 150 dpi across, 300 dpi down, so that a turn that forgets the resolution shows.
QImage withResolution(QImage page)
{
    page.setDotsPerMeterX(qRound(150 / 0.0254));
    page.setDotsPerMeterY(qRound(300 / 0.0254));
    return page;
}

QImage pageOf(const char* kind, int width, int height)
{
    const QString k = QString::fromLatin1(kind);
    return withResolution(k == "gray" ? grayPage(width, height, 150)
                          : k == "bilevel" ? bilevelPage(width, height, 150)
                                           : colourPage(width, height, 150));
}

bool dark(QRgb p) { return qGray(p) < 60; }

bool turn(const QString& path, int quarterTurns, QString* error = nullptr)
{
    PageTurn t;
    return t.prepare(path, quarterTurns, nullptr, error) && t.commit(error);
}

// The page pictured as one reader sees it: pdftoppm for PDF (as a viewer shows it, page
// rotation included), the project's probes for the rest.
QImage shown(const QString& path)
{
    if (!path.endsWith(QLatin1String(".pdf")))
        return decodeFile(path);
    const QString png = path + QStringLiteral("-shown");
    runTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("150"),
                                         QStringLiteral("-singlefile"), QStringLiteral("-png"), path, png});
    const QImage image(png + QStringLiteral(".png"));
    QFile::remove(png + QStringLiteral(".png"));
    return image;
}

} // namespace

// Every format turned right: the page lies on its side the right way round (the black block
// of the top-left corner goes to the top-right one), the resolution turns with it, a TIFF
// keeps its compression; four turns give the very same file back wherever nothing is decoded
// or the coding is lossless.
TEST_F(PageTurnTest, EveryFormatTurnsAndFourTurnsGiveTheFileBack)
{
    struct Case
    {
        const char* name;
        const char* page;
        int tiffCompression;
        QSize size;
        enum { SameBytes, SamePixels, SameSize } back;
    };
    const Case cases[] = {
        {"colour.bmp", "colour", 1, {120, 80}, Case::SameBytes},
        {"gray.bmp", "gray", 1, {120, 80}, Case::SameBytes},
        {"bilevel.bmp", "bilevel", 1, {121, 83}, Case::SameBytes},
        {"colour.gif", "colour", 1, {120, 80}, Case::SamePixels},
        {"colour.png", "colour", 1, {121, 83}, Case::SameBytes},
        {"bilevel.png", "bilevel", 1, {121, 83}, Case::SameBytes},
        {"plain.tiff", "colour", COMPRESSION_NONE, {121, 83}, Case::SameBytes},
        {"rle.tiff", "bilevel", COMPRESSION_CCITTRLE, {121, 83}, Case::SameBytes},
        {"g3.tiff", "bilevel", COMPRESSION_CCITTFAX3, {121, 83}, Case::SameBytes},
        {"g4.tiff", "bilevel", COMPRESSION_CCITTFAX4, {121, 83}, Case::SameBytes},
        {"lzw.tiff", "gray", COMPRESSION_LZW, {121, 83}, Case::SameBytes},
        {"jpeg.tiff", "colour", COMPRESSION_JPEG, {128, 96}, Case::SameSize},
        // Whole 16 x 16 blocks: turned without decoding.
        {"colour.jpg", "colour", 1, {128, 96}, Case::SameBytes},
        {"gray.jpg", "gray", 1, {120, 88}, Case::SameBytes},
        // Partial blocks on the edges: coded anew.
        {"odd.jpg", "colour", 1, {121, 83}, Case::SameSize},
        {"colour.pdf", "colour", 1, {120, 80}, Case::SameBytes},
        {"bilevel.pdf", "bilevel", 1, {121, 83}, Case::SameBytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = out(QString::fromLatin1(c.name));
        ImageWriteOptions options;
        options.tiffCompression = c.tiffCompression;
        options.jpegQuality = 83;
        QString error;
        ASSERT_TRUE(writeImageFile(pageOf(c.page, c.size.width(), c.size.height()), path, options, &error))
            << error.toStdString();
        const QByteArray before = bytesOf(path);
        const QImage shownBefore = shown(path);
        const FileProbe probeBefore = probeFile(path);

        ASSERT_TRUE(turn(path, 1, &error)) << error.toStdString();
        const QImage right = shown(path);
        ASSERT_EQ(right.size(), shownBefore.size().transposed());
        EXPECT_TRUE(dark(right.pixel(right.width() - 3, 2)));
        EXPECT_FALSE(dark(right.pixel(2, 2)));
        const FileProbe probe = probeFile(path);
        if (!QString::fromLatin1(c.name).endsWith(QLatin1String(".pdf"))) {
            EXPECT_EQ(QSize(probe.width, probe.height), c.size.transposed());
            EXPECT_NEAR(probe.dpiX, probeBefore.dpiY, 0.5);
            EXPECT_NEAR(probe.dpiY, probeBefore.dpiX, 0.5);
        }
        EXPECT_EQ(probe.tiffCompression, probeBefore.tiffCompression);
        EXPECT_EQ(probe.bitsPerPixel, probeBefore.bitsPerPixel);
        if (QString::fromLatin1(c.name).endsWith(QLatin1String(".jpg"))) {
            EXPECT_EQ(jpegQualityOf(bytesOf(path)), 83);
        }

        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(turn(path, 1, &error)) << error.toStdString();
        switch (c.back) {
        case Case::SameBytes: EXPECT_EQ(bytesOf(path), before); break;
        case Case::SamePixels:
            EXPECT_EQ(shown(path).convertToFormat(QImage::Format_RGB32),
                      shownBefore.convertToFormat(QImage::Format_RGB32));
            break;
        case Case::SameSize: EXPECT_EQ(shown(path).size(), shownBefore.size()); break;
        }
        EXPECT_EQ(folderEntries(scratchDir()).size(), 1); // no temporary file stays
        QFile::remove(path);
    }
}

// Left and upside down are the other turns, not right turns in disguise.
TEST_F(PageTurnTest, LeftAndHalfTurns)
{
    const QString path = out(QStringLiteral("page.png"));
    ASSERT_TRUE(writeImageFile(pageOf("colour", 120, 80), path, {}, nullptr));
    ASSERT_TRUE(turn(path, 3));
    QImage page = decodeFile(path);
    EXPECT_TRUE(dark(page.pixel(2, page.height() - 3)));  // top-left went to bottom-left
    ASSERT_TRUE(turn(path, 3));
    ASSERT_TRUE(turn(path, 2));
    page = decodeFile(path);
    EXPECT_EQ(page.size(), QSize(120, 80));
    EXPECT_TRUE(dark(page.pixel(2, 2)));
}

// A lossy page coded anew starts from the page's own pixels when they are given, and keeps
// its quality.
// A colour bitmap is turned straight from its file: every pixel lands where the general turn
// puts it, for each turn, rows padded or not.
TEST_F(PageTurnTest, ColourBitmapsTurnPixelForPixel)
{
    for (const QSize size : {QSize(37, 23), QSize(40, 24)}) {
        const QImage page = pageOf("colour", size.width(), size.height()).convertToFormat(QImage::Format_RGB888);
        for (int turns = 1; turns <= 3; ++turns) {
            SCOPED_TRACE(turns);
            const QString path = out(QStringLiteral("copy.bmp"));
            ASSERT_TRUE(writeImageFile(page, path, {}, nullptr));
            ASSERT_TRUE(turn(path, turns));
            const QImage expected = turnedImage(page, turns);
            EXPECT_EQ(decodeFile(path).convertToFormat(QImage::Format_RGB888), expected);
            const FileProbe probe = probeFile(path);
            EXPECT_NEAR(probe.dpiX, turns == 2 ? 150 : 300, 0.5);
            QFile::remove(path);
        }
    }
}

TEST_F(PageTurnTest, LossyRecodingStartsFromTheOriginal)
{
    const QImage page = pageOf("colour", 121, 83);
    const QString path = out(QStringLiteral("odd.jpg"));
    ImageWriteOptions options;
    options.jpegQuality = 40;
    ASSERT_TRUE(writeImageFile(page, path, options, nullptr));
    const QImage original = turnedImage(page, 1);
    PageTurn t;
    ASSERT_TRUE(t.prepare(path, 1, [&] { return &original; }, nullptr));
    ASSERT_TRUE(t.commit(nullptr));
    EXPECT_EQ(jpegQualityOf(bytesOf(path)), 40);
    EXPECT_EQ(t.image(), original);
}

// A file that is gone, read-only or in a folder that refuses writes is not turned: the
// reason is given and the file stays as it was.
TEST_F(PageTurnTest, FilesThatCannotBeTurnedStayAsTheyWere)
{
    const QString path = out(QStringLiteral("page.bmp"));
    ASSERT_TRUE(writeImageFile(pageOf("colour", 40, 30), path, {}, nullptr));
    const QByteArray before = bytesOf(path);
    QString error;

    EXPECT_FALSE(turn(out(QStringLiteral("gone.bmp")), 1, &error));
    EXPECT_TRUE(error.contains(QLatin1String("no longer exists"))) << error.toStdString();

    writeBytes(out(QStringLiteral("notes.txt")), "just text");
    EXPECT_FALSE(turn(out(QStringLiteral("notes.txt")), 1, &error));
    EXPECT_EQ(bytesOf(out(QStringLiteral("notes.txt"))), "just text");
    QFile::remove(out(QStringLiteral("notes.txt")));

    QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    EXPECT_FALSE(turn(path, 1, &error));
    EXPECT_TRUE(error.contains(QLatin1String("read-only"))) << error.toStdString();
    EXPECT_EQ(bytesOf(path), before);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);

    FailingFolder folder(scratchDir(), FailingFolder::ReadOnly);
    if (!folder.active())
        GTEST_SKIP() << folder.reason().toStdString();
    EXPECT_FALSE(turn(path, 1, &error));
    EXPECT_TRUE(error.contains(scratchDir())) << error.toStdString();
    EXPECT_EQ(bytesOf(path), before);
    EXPECT_EQ(folderEntries(scratchDir()), QStringList{QStringLiteral("page.bmp")});
}

TEST_F(PageTurnTest, JpegQualityIsReadFromTheTables)
{
    for (int quality : {5, 30, 50, 75, 90, 100}) {
        const QString path = out(QStringLiteral("q%1.jpg").arg(quality));
        ImageWriteOptions options;
        options.jpegQuality = quality;
        ASSERT_TRUE(writeImageFile(pageOf("colour", 32, 32), path, options, nullptr));
        EXPECT_EQ(jpegQualityOf(bytesOf(path)), quality);
    }
    EXPECT_EQ(jpegQualityOf(QByteArray("no tables here")), 0);
}
