// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/ImageFiles.h"

#include "IsolatedTest.h"
#include "PageFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <tiffio.h>
#include <zlib.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class ImageFilesTest : public IsolatedTest
{
protected:
    QString out(const QString& name) const { return scratchDir() + QLatin1Char('/') + name; }
};

// Compares a decoded page with the original; `tolerance` is the largest mean channel
// difference accepted (0 for lossless formats).
void expectSamePixels(const QImage& written, const QImage& original, double tolerance)
{
    ASSERT_EQ(written.size(), original.size());
    const QImage a = written.convertToFormat(QImage::Format_RGB888);
    const QImage b = original.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* ra = a.constScanLine(y);
        const uchar* rb = b.constScanLine(y);
        for (int i = 0; i < 3 * a.width(); ++i)
            sum += std::abs(int(ra[i]) - int(rb[i]));
    }
    EXPECT_LE(sum / (3.0 * a.width() * a.height()), tolerance);
}

struct FormatCase
{
    const char* name;
    const char* page;    // colour, gray, bilevel, noisy, few (colours)
    int tiffCompression;
    int bitsPerPixel;    // as stored in the file
    bool resolution;     // the format records it
    double tolerance;    // mean pixel difference after decoding; < 0: not compared by Qt
};

// A colour page of under 256 colours, which GIF must keep exactly.
QImage fewColoursPage()
{
    QImage page = colourPage(301, 203, 150);
    for (int y = 0; y < page.height(); ++y) {
        uchar* row = page.scanLine(y);
        for (int i = 0; i < 3 * page.width(); ++i)
            row[i] &= 0xc0;
    }
    return page;
}

QImage pageOf(const char* kind)
{
    const QString k = QLatin1String(kind);
    return k == QLatin1String("gray") ? grayPage(301, 203, 150)
         : k == QLatin1String("bilevel") ? bilevelPage(301, 203, 150)
         : k == QLatin1String("noisy") ? noisyPage(301, 203, 150)
         : k == QLatin1String("few") ? fewColoursPage()
                                      : colourPage(301, 203, 150);
}

} // namespace

TEST_F(ImageFilesTest, EveryFormatIsReadBackWithItsSizeDepthAndResolution)
{
    const FormatCase cases[] = {
        {"page.bmp", "colour", 1, 24, true, 0},
        {"page.BMP", "gray", 1, 8, true, 0},
        {"page.bmp", "bilevel", 1, 1, true, 0},
        {"page.gif", "colour", 1, 8, false, 40},
        {"page.gif", "gray", 1, 8, false, 0},
        {"page.gif", "few", 1, 8, false, 0},
        {"page.jpg", "colour", 1, 24, true, 8},
        {"page.JPEG", "gray", 1, 8, true, 4},
        {"page.png", "colour", 1, 24, true, 0},
        {"page.png", "bilevel", 1, 1, true, 0},
        {"page.png", "noisy", 1, 24, true, 0},
        {"page.png", "gray", 1, 8, true, 0},
        {"page.pdf", "colour", 1, 24, true, -1},
        {"page.pdf", "gray", 1, 8, true, -1},
        {"page.pdf", "bilevel", 1, 1, true, -1},
        {"page.tif", "colour", 1, 24, true, 0},
        {"page.tiff", "gray", 5, 8, true, 0},
        {"page.tiff", "colour", 5, 24, true, 0},
        {"page.TIF", "bilevel", 1, 1, true, 0},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.page);
        const QString path = out(QString::fromLatin1(c.page) + QLatin1Char('-') + QLatin1String(c.name));
        const QImage page = pageOf(c.page);
        ImageWriteOptions options;
        options.tiffCompression = c.tiffCompression;
        QString error;
        ASSERT_TRUE(writeImageFile(page, path, options, &error)) << error.toStdString();
        const FileProbe p = probeFile(path);
        ASSERT_TRUE(p.ok) << p.failure.toStdString();
        EXPECT_EQ(p.width, 301);
        EXPECT_EQ(p.height, 203);
        EXPECT_EQ(p.bitsPerPixel, c.bitsPerPixel);
        if (c.resolution) {
            EXPECT_NEAR(p.dpiX, 150, 0.5);
            EXPECT_NEAR(p.dpiY, 150, 0.5);
        }
        if (QString::fromLatin1(c.name).endsWith(QLatin1String(".pdf"))) {
            // The paper size: 301 x 203 pixels at 150 dpi.
            EXPECT_NEAR(p.pageWidthPt, 301 * 72.0 / 150, 0.01);
            EXPECT_NEAR(p.pageHeightPt, 203 * 72.0 / 150, 0.01);
            EXPECT_EQ(p.pages, 1);
        }
        if (c.tolerance >= 0)
            expectSamePixels(decodeFile(path), page, c.tolerance);
    }
}

namespace {

// A PNG file's chunks are whole and their checksums right, and its image data is one zlib
// stream that inflates to exactly the filtered rows, its own checksum right: what a strict
// reader demands of bands coded apart and joined.
void expectSoundPng(const QString& path, int width, int height, int bitsPerPixel)
{
    QFile in(path);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray file = in.readAll();
    ASSERT_TRUE(file.startsWith("\x89PNG\r\n\x1a\n"));
    QByteArray data;
    qsizetype at = 8;
    QByteArray last;
    while (at + 12 <= file.size()) {
        const auto* p = reinterpret_cast<const uchar*>(file.constData() + at);
        const quint32 length = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
        ASSERT_LE(qsizetype(length) + 12, file.size() - at);
        const quint32 crc = quint32(p[8 + length]) << 24 | quint32(p[9 + length]) << 16
                          | quint32(p[10 + length]) << 8 | p[11 + length];
        EXPECT_EQ(crc32(0, p + 4, uInt(length + 4)), crc);
        last = QByteArray(reinterpret_cast<const char*>(p + 4), 4);
        if (last == "IDAT")
            data.append(reinterpret_cast<const char*>(p + 8), length);
        at += qsizetype(length) + 12;
    }
    EXPECT_EQ(at, file.size());
    EXPECT_EQ(last, "IEND");
    const std::size_t rows = std::size_t(height) * (1 + (std::size_t(width) * bitsPerPixel + 7) / 8);
    std::vector<uchar> inflated(rows + 1);
    z_stream z{};
    ASSERT_EQ(inflateInit(&z), Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = inflated.data();
    z.avail_out = uInt(inflated.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END); // the checksum is checked here
    EXPECT_EQ(z.total_out, rows);
    EXPECT_EQ(z.avail_in, 0u);
    inflateEnd(&z);
}

} // namespace

TEST_F(ImageFilesTest, LargePagesCodedInPartsDecodeExactly)
{
    // Pages of several megabytes are coded in parts side by side (LZW strips, PNG bands); the
    // parts must join into one file a reader takes whole. Clean rows above noisy ones.
    QImage colour = colourPage(1600, 1300, 300);
    const QImage noise = noisyPage(1600, 1300, 300);
    for (int y = 700; y < 1300; ++y)
        std::memcpy(colour.scanLine(y), noise.constScanLine(y), size_t(1600 * 3));
    const QImage gray = grayPage(2400, 1900, 300);
    const QImage bilevel = bilevelPage(4001, 2900, 300);
    ImageWriteOptions lzw;
    lzw.tiffCompression = 5;
    for (const char* ext : {"png", "tif"}) {
        for (const QImage& page : {colour, gray, bilevel}) {
            const QString path = out(QStringLiteral("large-%1.%2").arg(page.depth()).arg(QLatin1String(ext)));
            SCOPED_TRACE(path.toStdString());
            QString error;
            ASSERT_TRUE(writeImageFile(page, path, lzw, &error)) << error.toStdString();
            expectSamePixels(decodeFile(path), page, 0);
            if (QLatin1String(ext) == QLatin1String("png"))
                expectSoundPng(path, page.width(), page.height(), page.depth() == 1 ? 1 : page.depth() == 8 ? 8 : 24);
        }
    }
}

namespace {

// Rows of a page seen in place, as the scanner library sees the rows that arrived so far.
QImage rowsOf(const QImage& page, int y, int rows)
{
    QImage view(page.constScanLine(y), page.width(), rows, page.bytesPerLine(), page.format());
    view.setColorTable(page.colorTable());
    return view;
}

// Hands a page to a streamed file in uneven parts, as a scanner's rows arrive.
bool streamPage(StreamedPageFile& file, const QImage& page, QString* error)
{
    int y = 0;
    for (int part : {1, 37, 250, 16, 999}) {
        const int rows = std::min(part, page.height() - y);
        if (rows > 0 && !file.addRows(rowsOf(page, y, rows), error))
            return false;
        y += rows;
    }
    return y == page.height() || file.addRows(rowsOf(page, y, page.height() - y), error);
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_F(ImageFilesTest, PagesCodedAsTheirRowsArriveMakeTheSameFileAsWholePages)
{
    // The colour page is large enough for its LZW strips to be coded in parallel, and its 117
    // strips leave one for the last window of 116: fewer strips than threads there.
    const QImage colour = colourPage(1500, 1872, 300);
    const QImage gray = grayPage(333, 250, 150);
    QImage scanned = bilevelPage(333, 250, 150);
    scanned.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});   // as the scanner has it
    scanned.invertPixels();
    const QImage bilevel = scanned;
    for (const char* ext : {"jpg", "png", "tif"}) {
        for (int compression : {1, 2, 3, 4, 5, 7}) {
            if (QLatin1String(ext) != QLatin1String("tif") && compression > 1)
                continue;
            for (const QImage* page : {&colour, &gray, &bilevel}) {
                const QString name = QStringLiteral("%1-%2").arg(page->depth()).arg(compression);
                SCOPED_TRACE((name + QLatin1Char('.') + QLatin1String(ext)).toStdString());
                ImageWriteOptions options;
                options.tiffCompression = compression;
                options.jpegQuality = 83;
                const QString whole = out(name + QStringLiteral("-whole.") + QLatin1String(ext));
                const QString streamed = out(name + QStringLiteral("-streamed.") + QLatin1String(ext));
                QString error;
                ASSERT_TRUE(writeImageFile(*page, whole, options, &error)) << error.toStdString();
                auto file = StreamedPageFile::begin(streamed, page->format(), page->width(),
                                                    page->height(), page->dotsPerMeterX(),
                                                    page->dotsPerMeterY(), options, false);
                ASSERT_TRUE(file);
                QString written;
                ASSERT_TRUE(streamPage(*file, *page, &error)) << error.toStdString();
                ASSERT_TRUE(file->finish({}, &written, &error)) << error.toStdString();
                EXPECT_EQ(written, streamed);
                const QByteArray bytes = fileBytes(streamed);
                EXPECT_FALSE(bytes.isEmpty());
                EXPECT_TRUE(bytes == fileBytes(whole));
            }
        }
    }
    EXPECT_EQ(folderEntries(scratchDir()).filter(QStringLiteral(".part")), QStringList());
}

TEST_F(ImageFilesTest, AStreamedPageIsPlacedWithoutReplacingAndLeavesNothingWhenAbandoned)
{
    const QImage page = colourPage(120, 90, 100);
    QString error, written;
    writeBytes(out(QStringLiteral("p.png")), "mine");
    {
        // Given up half-way (the scan failed): no file, no temporary.
        auto file = StreamedPageFile::begin(out(QStringLiteral("q.png")), page.format(), 120, 90,
                                            3937, 3937, {}, true);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->addRows(page.copy(0, 0, 120, 40), &error));
        EXPECT_FALSE(file->finish({}, &written, &error));   // rows missing
    }
    EXPECT_EQ(folderEntries(scratchDir()), QStringList{QStringLiteral("p.png")});
    // No way on from a taken name: not started at all, the whole-page writer says why.
    EXPECT_FALSE(StreamedPageFile::begin(out(QStringLiteral("p.png")), page.format(), 120, 90,
                                         3937, 3937, {}, false));
    // A name taken meanwhile moves on to the next.
    auto file = StreamedPageFile::begin(out(QStringLiteral("p.png")), page.format(), 120, 90,
                                        3937, 3937, {}, true);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->addRows(page, &error));
    ASSERT_TRUE(file->finish([&] { return out(QStringLiteral("p_1.png")); }, &written, &error))
        << error.toStdString();
    EXPECT_EQ(written, out(QStringLiteral("p_1.png")));
    EXPECT_EQ(fileBytes(out(QStringLiteral("p.png"))), QByteArray("mine"));
    EXPECT_EQ(folderEntries(scratchDir()), (QStringList{QStringLiteral("p.png"), QStringLiteral("p_1.png")}));
}

TEST_F(ImageFilesTest, EachTiffCompressionIsRecordedAndDecodes)
{
    // The CCITT ones store a thresholded 1-bit page: the black block stays black, the light
    // top-right background stays white, whatever the page was.
    const QImage page = colourPage(240, 160, 200);
    for (int compression : {1, 2, 3, 4, 5, 7}) {
        SCOPED_TRACE(compression);
        const QString path = out(QStringLiteral("c%1.tiff").arg(compression));
        ImageWriteOptions options;
        options.tiffCompression = compression;
        QString error;
        ASSERT_TRUE(writeImageFile(page, path, options, &error)) << error.toStdString();

        TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
        ASSERT_NE(t, nullptr);
        uint16_t tag = 0, bits = 0;
        TIFFGetField(t, TIFFTAG_COMPRESSION, &tag);
        TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
        EXPECT_EQ(tag, compression);
        const bool fax = compression >= 2 && compression <= 4;
        EXPECT_EQ(bits, fax ? 1 : 8);
        std::vector<uint32_t> rgba(240 * 160);
        ASSERT_EQ(TIFFReadRGBAImageOriented(t, 240, 160, rgba.data(), ORIENTATION_TOPLEFT, 0), 1);
        TIFFClose(t);
        const auto at = [&](int x, int y) { return rgba[size_t(y) * 240 + x]; };
        EXPECT_LT(TIFFGetR(at(10, 10)) + TIFFGetG(at(10, 10)) + TIFFGetB(at(10, 10)), 60);
        if (fax) {
            EXPECT_EQ(at(230, 150) & 0xffffff, 0xffffffu & 0xffffff);   // light gradient: white
        } else {
            EXPECT_GT(TIFFGetR(at(230, 10)), 200);   // the red block keeps its channels
            EXPECT_LT(TIFFGetB(at(230, 10)), 60);
        }
    }
}

TEST_F(ImageFilesTest, RefusesWhatItCannotWriteAndLeavesNothing)
{
    const QImage page = colourPage(64, 48, 100);
    struct Refused { QString path; ImageWriteOptions options; QImage image; };
    ImageWriteOptions badCompression;
    badCompression.tiffCompression = 6;
    const Refused cases[] = {
        {out(QStringLiteral("page.xyz")), {}, page},
        {out(QStringLiteral("page")), {}, page},
        {out(QStringLiteral("page.")), {}, page},
        {out(QStringLiteral("page.tiff")), badCompression, page},
        {out(QStringLiteral("page.png")), {}, QImage()},
        {out(QStringLiteral("missing/page.png")), {}, page},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        QString error;
        EXPECT_FALSE(writeImageFile(c.image, c.path, c.options, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(folderEntries(scratchDir()), QStringList());
}

TEST_F(ImageFilesTest, AnExistingFileIsNeverReplaced)
{
    const QString path = out(QStringLiteral("page.png"));
    writeBytes(path, "mine");

    QString error;
    EXPECT_FALSE(writeImageFile(colourPage(64, 48, 100), path, {}, &error));
    EXPECT_TRUE(error.contains(QLatin1String("exists"))) << error.toStdString();

    // A scan job moves on to the next free name instead, the taken one still untouched.
    QStringList offered;
    const auto next = [&] {
        offered << out(QStringLiteral("page-%1.png").arg(offered.size() + 2));
        return offered.last();
    };
    QFile::copy(path, out(QStringLiteral("page-2.png")));
    QString written;
    ASSERT_TRUE(writeImageFileNoClobber(colourPage(64, 48, 100), path, {}, next, &written, &error))
        << error.toStdString();
    EXPECT_EQ(written, out(QStringLiteral("page-3.png")));
    EXPECT_EQ(QImage(written).size(), QSize(64, 48));
    for (const QString& taken : {path, out(QStringLiteral("page-2.png"))}) {
        QFile f(taken);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), QByteArray("mine"));
    }
    EXPECT_EQ(folderEntries(scratchDir()).size(), 3);   // no temporary file stayed
}

TEST_F(ImageFilesTest, AReadOnlyFolderGetsNoFile)
{
    FailingFolder readOnly(scratchDir(), FailingFolder::ReadOnly);
    if (!readOnly.active())
        SKIP_OR_FAIL_UNDER_CI(readOnly.reason());
    for (const char* name : {"p.bmp", "p.gif", "p.jpg", "p.png", "p.pdf", "p.tif"}) {
        SCOPED_TRACE(name);
        QString error;
        EXPECT_FALSE(writeImageFile(colourPage(64, 48, 100), out(QLatin1String(name)), {}, &error));
        EXPECT_TRUE(error.contains(QLatin1String("Read-only")) || error.contains(QLatin1String("denied")))
            << error.toStdString();
    }
    EXPECT_EQ(folderEntries(scratchDir()), QStringList());
}

TEST_F(ImageFilesTest, AFullDiskLeavesNoPartialFile)
{
    // 64 KiB of disk against a page that compresses to far more in every format, and large
    // enough to be coded in parts where a format does that.
    FailingFolder full(scratchDir(), FailingFolder::Full);
    if (!full.active())
        SKIP_OR_FAIL_UNDER_CI(full.reason());
    const QImage page = noisyPage(1200, 1200, 100);
    ImageWriteOptions lzw;
    lzw.tiffCompression = 5;
    for (const char* name : {"p.bmp", "p.gif", "p.jpg", "p.png", "p.pdf", "p.tif"}) {
        SCOPED_TRACE(name);
        QString error;
        EXPECT_FALSE(writeImageFile(page, out(QLatin1String(name)), lzw, &error));
        // The reason the system gave, not a guess.
        EXPECT_TRUE(error.contains(QLatin1String("No space left on device"))) << error.toStdString();
        EXPECT_EQ(folderEntries(scratchDir()), QStringList());
    }
    // Coded as the rows come, the same: the write that fails says why, nothing stays.
    for (const char* name : {"p.jpg", "p.png", "p.tif"}) {
        SCOPED_TRACE(name);
        auto file = StreamedPageFile::begin(out(QLatin1String(name)), page.format(), page.width(),
                                            page.height(), 3937, 3937, lzw, false);
        ASSERT_TRUE(file);
        QString error, written;
        bool ok = true;
        for (int y = 0; ok && y < page.height(); y += 100)
            ok = file->addRows(page.copy(0, y, page.width(), 100), &error);
        ok = file->finish({}, &written, &error) && ok;
        EXPECT_FALSE(ok);
        EXPECT_TRUE(error.contains(QLatin1String("No space left on device"))) << error.toStdString();
        file.reset();
        EXPECT_EQ(folderEntries(scratchDir()), QStringList());
    }
}

TEST_F(ImageFilesTest, LoadsBitmapsAndReportsWhatItCannotRead)
{
    const QImage page = colourPage(120, 90, 300);
    QString error;
    ASSERT_TRUE(writeImageFile(page, out(QStringLiteral("copy.bmp")), {}, &error));
    const QImage loaded = loadImageFile(out(QStringLiteral("copy.bmp")), &error);
    expectSamePixels(loaded, page, 0);
    EXPECT_NEAR(loaded.dotsPerMeterX() * 0.0254, 300, 0.5);

    // The same page stored top-down (negative height), as some writers do.
    QFile written(out(QStringLiteral("copy.bmp")));
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    QByteArray bytes = written.readAll();
    const int stride = (120 * 3 + 3) / 4 * 4;
    QByteArray topDown = bytes.left(54);
    for (int y = 89; y >= 0; --y)
        topDown += bytes.mid(54 + y * stride, stride);
    const qint32 negative = -90;
    std::memcpy(topDown.data() + 22, &negative, 4);
    writeBytes(out(QStringLiteral("topdown.bmp")), topDown);
    expectSamePixels(loadImageFile(out(QStringLiteral("topdown.bmp")), &error), page, 0);

    writeBytes(out(QStringLiteral("junk.bmp")), "BM not really a bitmap");
    for (const QString& bad : {out(QStringLiteral("gone.bmp")), out(QStringLiteral("junk.bmp"))}) {
        error.clear();
        EXPECT_TRUE(loadImageFile(bad, &error).isNull());
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST_F(ImageFilesTest, FineTextureOnAGradientCompressesAboutAsWellAsQtsOwnWriter)
{
    // What scanned paper and soft-edged print look like to a PNG filter: a fine repeating
    // texture that shifts a little from row to row, so few filtered bytes are zero although
    // the page is anything but noise. Taking it for noise loses the repeats (3-4x the size).
    QImage page(600, 600, QImage::Format_RGB888);
    const int texture[5] = {40, 0, 40, 9, 9};
    for (int y = 0; y < page.height(); ++y) {
        uchar* row = page.scanLine(y);
        for (int x = 0; x < page.width(); ++x) {
            const int t = texture[x % 5];
            row[3 * x] = uchar(t + (x * 3 + y * 7) / 10 % 120);
            row[3 * x + 1] = uchar(t + (x + y * 9) / 8 % 100);
            row[3 * x + 2] = uchar(t + (x * 2 + y * 5) / 6 % 110);
        }
    }
    QString error;
    const QString ours = out(QStringLiteral("texture.png"));
    ASSERT_TRUE(writeImageFile(page, ours, {}, &error)) << error.toStdString();
    const QString qts = out(QStringLiteral("texture-qt.png"));
    ASSERT_TRUE(page.save(qts, "PNG"));
    EXPECT_LT(QFileInfo(ours).size(), QFileInfo(qts).size() * 3 / 2)
        << QFileInfo(ours).size() << " against " << QFileInfo(qts).size();
    expectSamePixels(decodeFile(ours), page, 0);
}

TEST_F(ImageFilesTest, PagesAreReadBackFittedToABound)
{
    // The bitmaps the program writes (1, 8 and 24 bits) are read a row at a time and
    // averaged down; another format goes through Qt. Either way the proportions stay and a
    // page is never enlarged.
    struct Case { const char* name; QImage page; };
    const Case cases[] = {
        {"colour.bmp", colourPage(301, 203, 300)},
        {"gray.bmp", grayPage(301, 203, 300)},
        {"bilevel.bmp", bilevelPage(301, 203, 300)},
        {"colour.png", colourPage(301, 203, 300)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = out(QLatin1String(c.name));
        QString error;
        ASSERT_TRUE(writeImageFile(c.page, path, {}, &error)) << error.toStdString();
        EXPECT_EQ(imageFileSize(path, &error), QSize(301, 203));
        expectSamePixels(loadImageFileFitted(path, QSize(1000, 1000), &error), c.page, 0);

        const QImage reduced = loadImageFileFitted(path, QSize(100, 100), &error);
        ASSERT_EQ(reduced.size(), QSize(100, 67)) << error.toStdString();
        expectSamePixels(reduced, c.page.scaled(100, 67, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 6);
        EXPECT_EQ(loadImageFileFitted(path, QSize(50, 1000), &error).size(), QSize(50, 33));
    }
    writeBytes(out(QStringLiteral("junk.bmp")), "BM not really a bitmap");
    for (const QString& bad : {out(QStringLiteral("gone.bmp")), out(QStringLiteral("junk.bmp"))}) {
        QString error;
        EXPECT_TRUE(imageFileSize(bad, &error).isEmpty());
        EXPECT_FALSE(error.isEmpty());
    }
}

// A program killed while writing leaves its temporary file behind. The next write into that
// folder removes such files, but only ours that nobody holds: not one another running
// program is writing, not one of a document still being written here, and nothing else.
TEST_F(ImageFilesTest, AbandonedPartFilesAreRemovedByTheNextWriteAndNothingElse)
{
    const QString dir = scratchDir();
    const QString stale = out(QStringLiteral(".quillora-00000000000000aa.part"));
    const QString heldElsewhere = out(QStringLiteral(".quillora-00000000000000bb.part"));
    writeBytes(stale, "left by a killed program");
    writeBytes(heldElsewhere, "another program is writing this");
    const QStringList notOurs = {QStringLiteral(".quillora-00000000000000CC.part"),
                                 QStringLiteral(".quillora-0000aa.part"),
                                 QStringLiteral("quillora-00000000000000dd.part"),
                                 QStringLiteral(".quillora-00000000000000ee.part.bak")};
    for (const QString& name : notOurs)
        writeBytes(out(name), "someone else's");
    const QString linked = out(QStringLiteral(".quillora-00000000000000ff.part"));
    const QString linkTarget = root() + QStringLiteral("/elsewhere");
    writeBytes(linkTarget, "not in this folder");
    ASSERT_TRUE(QFile::link(linkTarget, linked));
    ASSERT_TRUE(QDir().mkdir(out(QStringLiteral(".quillora-0000000000000abc.part"))));

    // A second process holds its file locked, as a running program does while writing.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const QByteArray heldPath = QFile::encodeName(heldElsewhere);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {   // only calls a forked child of a threaded process may make
        const int fd = ::open(heldPath.constData(), O_RDONLY);
        if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::write(ready[1], "x", 1) == 1)
            ::pause();
        ::_exit(1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    // And this process is writing a document into the same folder.
    QString error;
    auto document = MultipageWriter::begin(out(QStringLiteral("doc.pdf")), {}, &error);
    ASSERT_TRUE(document) << error.toStdString();
    ASSERT_TRUE(document->appendPage(colourPage(64, 48, 100), &error)) << error.toStdString();

    ASSERT_TRUE(writeImageFile(colourPage(64, 48, 100), out(QStringLiteral("page.png")), {}, &error))
        << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_TRUE(QFileInfo::exists(heldElsewhere));
    for (const QString& name : notOurs)
        EXPECT_TRUE(QFileInfo::exists(out(name))) << name.toStdString();
    EXPECT_TRUE(QFileInfo(linked).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(linkTarget));
    EXPECT_TRUE(QFileInfo(out(QStringLiteral(".quillora-0000000000000abc.part"))).isDir());
    ASSERT_TRUE(document->finish(&error)) << error.toStdString();
    EXPECT_EQ(probeFile(out(QStringLiteral("doc.pdf"))).pages, 1);

    // Killed, the other program's file is abandoned too.
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_TRUE(writeImageFile(colourPage(64, 48, 100), out(QStringLiteral("page2.png")), {}, &error));
    EXPECT_FALSE(QFileInfo::exists(heldElsewhere));
    QStringList left = notOurs;
    left << QFileInfo(linked).fileName() << QStringLiteral(".quillora-0000000000000abc.part")
         << QStringLiteral("doc.pdf") << QStringLiteral("page.png") << QStringLiteral("page2.png");
    QStringList entries = folderEntries(dir);
    left.sort();
    entries.sort();
    EXPECT_EQ(entries, left);
}
