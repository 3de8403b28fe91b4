// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/ImageFiles.h"

#include "IsolatedTest.h"
#include "PageFixtures.h"

#include <QFile>

#include <tiffio.h>

namespace {

class MultipageWriterTest : public IsolatedTest
{
protected:
    QString out(const QString& name) const { return scratchDir() + QLatin1Char('/') + name; }

    // Three pages, each of its own size, kind and resolution.
    static QList<QImage> pages()
    {
        return {colourPage(300, 200, 100), grayPage(150, 250, 150), bilevelPage(400, 120, 200)};
    }

    bool writeAll(const QString& path, const ImageWriteOptions& options, QString* error)
    {
        auto writer = MultipageWriter::begin(path, options, error);
        if (!writer)
            return false;
        for (const QImage& page : pages())
            if (!writer->appendPage(page, error))
                return false;
        return writer->finish(error);
    }
};

} // namespace

TEST_F(MultipageWriterTest, PdfHasAPagePerImageEachAtItsOwnSize)
{
    const QString path = out(QStringLiteral("doc.pdf"));
    QString error;
    ASSERT_TRUE(writeAll(path, {}, &error)) << error.toStdString();
    const QString info = runTool(QStringLiteral("pdfinfo"), {QStringLiteral("-f"), QStringLiteral("1"),
                                                             QStringLiteral("-l"), QStringLiteral("3"), path})
                             .simplified();
    EXPECT_TRUE(info.contains(QLatin1String("Pages: 3"))) << info.toStdString();
    // 300x200 at 100 dpi, 150x250 at 150 dpi, 400x120 at 200 dpi, in points.
    EXPECT_TRUE(info.contains(QLatin1String("Page 1 size: 216 x 144 pts"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QLatin1String("Page 2 size: 72 x 120 pts"))) << info.toStdString();
    EXPECT_TRUE(info.contains(QLatin1String("Page 3 size: 144 x 43.2 pts"))) << info.toStdString();
    EXPECT_EQ(folderEntries(scratchDir()), QStringList{QStringLiteral("doc.pdf")});
}

TEST_F(MultipageWriterTest, TiffHasADirectoryPerPageWithTheCompressionInForce)
{
    for (int compression : {5, 4}) {
        SCOPED_TRACE(compression);
        const QString path = out(QStringLiteral("doc%1.tif").arg(compression));
        ImageWriteOptions options;
        options.tiffCompression = compression;
        QString error;
        ASSERT_TRUE(writeAll(path, options, &error)) << error.toStdString();

        int rc = 0;
        const QString info = runTool(QStringLiteral("tiffinfo"), {path}, &rc);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(info.count(QLatin1String("TIFF Directory")), 3);

        TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
        ASSERT_NE(t, nullptr);
        const QList<QImage> expected = pages();
        int index = 0;
        do {
            uint32_t w = 0, h = 0;
            uint16_t tag = 0;
            TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
            TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
            TIFFGetField(t, TIFFTAG_COMPRESSION, &tag);
            EXPECT_EQ(QSize(int(w), int(h)), expected[index].size());
            EXPECT_EQ(tag, compression);
            ++index;
        } while (TIFFReadDirectory(t) && index < 3);
        TIFFClose(t);
    }
}

TEST_F(MultipageWriterTest, ReplacesAnExistingFileOnlyWhenComplete)
{
    const QString path = out(QStringLiteral("doc.tiff"));
    writeBytes(path, "old");

    QString error;
    auto writer = MultipageWriter::begin(path, {}, &error);
    ASSERT_TRUE(writer) << error.toStdString();
    ASSERT_TRUE(writer->appendPage(colourPage(100, 80, 100), &error));
    EXPECT_EQ(QFileInfo(path).size(), 3);   // still the old file while the new one grows
    ASSERT_TRUE(writer->finish(&error)) << error.toStdString();
    EXPECT_EQ(probeFile(path).pages, 1);
    EXPECT_EQ(folderEntries(scratchDir()), QStringList{QStringLiteral("doc.tiff")});
}

// A document that must not replace anything (a file named on the command line) fails when
// the name was taken while it grew, and leaves that file alone.
TEST_F(MultipageWriterTest, ANewDocumentNeverReplacesAFileThatAppeared)
{
    const QString path = out(QStringLiteral("new.pdf"));
    ImageWriteOptions options;
    options.replaceExisting = false;
    QString error;
    auto writer = MultipageWriter::begin(path, options, &error);
    ASSERT_TRUE(writer) << error.toStdString();
    ASSERT_TRUE(writer->appendPage(colourPage(100, 80, 100), &error));
    writeBytes(path, "theirs");
    EXPECT_FALSE(writer->finish(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("exists already"))) << error.toStdString();
    writer.reset();
    EXPECT_EQ(QFileInfo(path).size(), 6);
    EXPECT_EQ(folderEntries(scratchDir()), QStringList{QStringLiteral("new.pdf")});
}

TEST_F(MultipageWriterTest, AnAbandonedOrFailedDocumentLeavesNothing)
{
    QString error;
    {
        auto writer = MultipageWriter::begin(out(QStringLiteral("gone.pdf")), {}, &error);
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->appendPage(colourPage(100, 80, 100), &error));
    }   // destroyed unfinished
    {
        auto writer = MultipageWriter::begin(out(QStringLiteral("bad.tif")), {}, &error);
        ASSERT_TRUE(writer);
        EXPECT_FALSE(writer->appendPage(QImage(), &error));   // an unreadable copy
        EXPECT_FALSE(writer->finish(&error));
    }
    {
        auto writer = MultipageWriter::begin(out(QStringLiteral("empty.pdf")), {}, &error);
        ASSERT_TRUE(writer);
        EXPECT_FALSE(writer->finish(&error));   // no pages: no document
    }
    for (const char* name : {"doc.png", "doc", "missing/doc.pdf"}) {
        error.clear();
        EXPECT_FALSE(MultipageWriter::begin(out(QLatin1String(name)), {}, &error)) << name;
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(folderEntries(scratchDir()), QStringList());
}

TEST_F(MultipageWriterTest, FailingFoldersGetNoDocument)
{
    {
        FailingFolder readOnly(scratchDir(), FailingFolder::ReadOnly);
        if (!readOnly.active())
            SKIP_OR_FAIL_UNDER_CI(readOnly.reason());
        QString error;
        EXPECT_FALSE(MultipageWriter::begin(out(QStringLiteral("doc.pdf")), {}, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    FailingFolder full(scratchDir(), FailingFolder::Full);
    if (!full.active())
        SKIP_OR_FAIL_UNDER_CI(full.reason());
    for (const char* name : {"doc.pdf", "doc.tif"}) {
        SCOPED_TRACE(name);
        QString error;
        auto writer = MultipageWriter::begin(out(QLatin1String(name)), {}, &error);
        ASSERT_TRUE(writer) << error.toStdString();
        bool ok = true;
        for (int i = 0; ok && i < 3; ++i)
            ok = writer->appendPage(noisyPage(400, 400, 100), &error);
        ok = ok && writer->finish(&error);
        EXPECT_FALSE(ok);
        EXPECT_TRUE(error.contains(QLatin1String("No space left on device"))) << error.toStdString();
        writer.reset();
        EXPECT_EQ(folderEntries(scratchDir()), QStringList());
    }
}
