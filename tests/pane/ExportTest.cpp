// SPDX-License-Identifier: GPL-3.0-or-later
#include "PaneFixture.h"

#include "tests/output/PageFixtures.h"
#include "output/MultipageExport.h"
#include "app/SettingsStore.h"
#include "scanner/ScannerLibrary.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <tiffio.h>

namespace {
struct Page
{
    QSize size;
    QRgb colour;
};

// Three pages told apart by size and colour; at the copies' 96 dpi a PDF page is
// 0.75 pt per pixel.
const QString kCaptions[] = {"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
const Page kPages[] = {{{40, 32}, qRgb(255, 0, 0)},
                       {{80, 20}, qRgb(0, 255, 0)},
                       {{24, 64}, qRgb(0, 0, 255)},
                       {{16, 16}, qRgb(0, 0, 0)}};

QByteArray head(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4) : QByteArray();
}

// Size and centre colour of every page of a TIFF file, as libtiff reads them.
QList<Page> tiffPages(const QString& path)
{
    QList<Page> pages;
    forEachTiffPage(path, [&](TIFF* t) {
        uint32_t w = 0, h = 0;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
        std::vector<uint32_t> raster(size_t(w) * h);
        TIFFReadRGBAImageOriented(t, w, h, raster.data(), ORIENTATION_TOPLEFT, 0);
        const uint32_t p = raster[size_t(h / 2) * w + w / 2];
        pages.append({QSize(int(w), int(h)), qRgb(TIFFGetR(p), TIFFGetG(p), TIFFGetB(p))});
    });
    return pages;
}

QList<QSizeF> expectedPdfSizes(const QList<int>& order)
{
    QList<QSizeF> sizes;
    for (int i : order)
        sizes.append(QSizeF(kPages[i].size) * 0.75);
    return sizes;
}
} // namespace

class ExportTest : public PaneTest
{
protected:
    void SetUp() override
    {
        PaneTest::SetUp();
        for (int i = 0; i < 4; ++i)
            addEntry(kCaptions[i], kPages[i].size, QColor(kPages[i].colour));
        // Selected in another order than the list's: c, a, b; d stays out.
        click(2);
        click(0, Qt::ControlModifier);
        click(1, Qt::ControlModifier);
    }
    QString target(const QString& name) const { return root() + "/" + name; }
    QStringList selectedCaptions() const
    {
        QStringList out;
        for (const QListWidgetItem* item : list()->selectedItems())
            out << item->text();
        out.sort();
        return out;
    }
};

// The selected pages' temporary copies in list order, whatever the output files became; the
// file's format follows the typed name, the message follows the command.
TEST_F(ExportTest, SelectedPagesInListOrderFormatByTypedName)
{
    struct Case
    {
        const char* command;
        const char* typed;
        const char* written;
        bool pdf;
        const char* message;
    };
    const Case cases[] = {
        {"SavetosinglePDF", "doc1.pdf", "doc1.pdf", true, "PDF file successfully saved"},
        {"Savetotiff", "doc2.tiff", "doc2.tiff", false, "TIFF file successfully saved"},
        {"Savetotiff", "doc3.pdf", "doc3.pdf", true, "TIFF file successfully saved"},
        {"SavetosinglePDF", "doc4", "doc4.pdf", true, "PDF file successfully saved"},
        {"Savetotiff", "doc5", "doc5.tiff", false, "TIFF file successfully saved"},
    };
    // The output files of the pages no longer matter once their copies exist.
    QFile::remove(outputFile("a.jpg"));
    QFile::rename(outputFile("b.jpg"), outputFile("renamed.jpg"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        dialogs->messages.clear();
        dialogs->saveTitles.clear();
        dialogs->saveFilters.clear();
        dialogs->saveFolders.clear();
        dialogs->saveNames.push_back(target(c.typed));

        action(c.command)->trigger();

        const bool pdfCommand = QByteArray(c.command) == "SavetosinglePDF";
        EXPECT_EQ(dialogs->saveTitles,
                  QStringList{pdfCommand ? "Save multipage PDF" : "Save multipage TIFF"});
        EXPECT_EQ(dialogs->saveFilters,
                  QStringList{pdfCommand ? "PDF files (*.pdf)" : "TIFF files (*.tiff)"});
        EXPECT_EQ(dialogs->saveFolders, QStringList{scratchDir()}); // the destination folder
        ASSERT_EQ(dialogs->messages.size(), 1);
        EXPECT_EQ(dialogs->messages[0].icon, Dialogs::Information);
        EXPECT_EQ(dialogs->messages[0].title, "Quillora");
        EXPECT_EQ(dialogs->messages[0].text, c.message);

        const QString written = target(c.written);
        if (c.pdf) {
            EXPECT_EQ(head(written), "%PDF");
            EXPECT_EQ(pdfPageSizes(written), expectedPdfSizes({0, 1, 2}));
        } else {
            const QList<Page> pages = tiffPages(written);
            ASSERT_EQ(pages.size(), 3);
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(pages[i].size, kPages[i].size) << i;
                EXPECT_EQ(pages[i].colour, kPages[i].colour) << i;
            }
        }
    }
    EXPECT_EQ(selectedCaptions(), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
}

// The export writes with the format settings as stored: each TIFF choice as its own
// compression, the stored JPEG quality, and 75 when none is stored. Stored, not what the
// last scan handed to the scanner library: after a Save in the format settings window the
// export follows what that window shows.
TEST_F(ExportTest, StoredFormatSettingsChooseTheCompressionAndQuality)
{
    const int tags[] = {1, 2, 3, 4, 5, 7};   // none, RLE, G3, G4, LZW, JPEG
    for (int index = 0; index < 6; ++index) {
        SCOPED_TRACE(index);
        SettingsStore().writeInteger("TIFFCompression", index);
        const QString file = target(QStringLiteral("c%1.tiff").arg(index));
        dialogs->saveNames.push_back(file);
        action("Savetotiff")->trigger();
        EXPECT_EQ(tiffCompressions(file), QList<int>(3, tags[index]));
    }

    const auto pdfBytes = [&](const QString& name) {
        dialogs->saveNames.push_back(target(name));
        action("SavetosinglePDF")->trigger();
        QFile f(target(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    EXPECT_TRUE(jpegHasQuality(pdfBytes("unstored.pdf"), 75));
    ScannerLibrary::instance().SetJpegQuality(30);   // as a scan before the Save would have
    SettingsStore().writeInteger("JPEGCompression", 90);
    EXPECT_TRUE(jpegHasQuality(pdfBytes("stored.pdf"), 90));
}

TEST_F(ExportTest, CancelledDialogChangesNothing)
{
    const QStringList before = QDir(root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    action("SavetosinglePDF")->trigger();
    action("Savetotiff")->trigger();
    EXPECT_EQ(dialogs->saveTitles.size(), 2);
    EXPECT_TRUE(dialogs->messages.isEmpty());
    EXPECT_EQ(QDir(root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_EQ(selectedCaptions(), (QStringList{"a.jpg", "b.jpg", "c.jpg"}));
}

// Every failure is told with its reason instead of the success message, and nothing is
// left under the chosen name (a file that was there stays as it was).
TEST_F(ExportTest, FailuresAreReportedAndLeaveNoFile)
{
    struct Case
    {
        const char* name;
        QString typed;
        bool copyMissing;
        bool existing;
    };
    const Case cases[] = {
        {"folder is a file", outputFile("d.jpg") + "/doc.pdf", false, false},
        {"folder is gone", root() + "/gone/doc.tiff", false, false},
        {"neither pdf nor tiff", target("doc.png"), false, false},
        {"unreadable copy", target("doc.pdf"), true, false},
        {"unreadable copy, file there before", target("old.tiff"), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dialogs->messages.clear();
        const QString copyB = entryCopyPath(list()->item(1));
        if (c.copyMissing)
            QFile::rename(copyB, copyB + ".away");
        if (c.existing)
            writeBytes(c.typed, "earlier document");
        dialogs->saveNames.push_back(c.typed);

        action("Savetotiff")->trigger();

        ASSERT_EQ(dialogs->messages.size(), 1);
        EXPECT_EQ(dialogs->messages[0].icon, Dialogs::Critical);
        EXPECT_TRUE(dialogs->messages[0].text.contains(QFileInfo(c.typed).fileName()))
            << dialogs->messages[0].text.toStdString();
        if (c.existing) {
            QFile f(c.typed);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), "earlier document");
        } else {
            EXPECT_FALSE(QFileInfo::exists(c.typed));
        }
        EXPECT_EQ(QDir(root()).entryList(QDir::Files), c.existing ? QStringList{"old.tiff"}
                                                                 : QStringList{});
        if (c.copyMissing)
            QFile::rename(copyB + ".away", copyB);
        QFile::remove(c.typed);
    }
}

// Cancelling while the pages are written leaves no file, whenever it happens.
TEST_F(ExportTest, CancelDuringWritingLeavesNoFile)
{
    QStringList copies;
    for (int row = 0; row < 3; ++row)
        copies << entryCopyPath(list()->item(row));
    for (int cancelAt = 0; cancelAt <= 3; ++cancelAt) {
        SCOPED_TRACE(cancelAt);
        for (const char* name : {"doc.pdf", "doc.tiff"}) {
            const MultipageExportResult r = exportMultipage(
                copies, target(name), ImageWriteOptions(), [&](int done) { return done < cancelAt; });
            EXPECT_FALSE(r.ok);
            EXPECT_TRUE(r.cancelled);
            EXPECT_TRUE(QDir(root()).entryList(QDir::Files).isEmpty());
        }
    }
}
