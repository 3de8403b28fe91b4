// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/ScanJob.h"
#include "RecordingLibrary.h"
#include "SaneFixture.h"
#include "tests/output/PageFixtures.h"
#include "app/Error.h"
#include "app/SettingsStore.h"
#include "scanner/SourceDialog.h"
#include "scanner/SourceOptions.h"
#include "scanner/WidgetAcquisitionUi.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPushButton>
#include <QTimer>

#include <gmock/gmock.h>

using testing::ElementsAre;

namespace {

const QString kScanner = QStringLiteral("Noname frontend-tester");

// The messages the jobs show; the core jobs need no widgets, so neither do these tests.
struct RecordedMessages : ConsoleDialogs
{
    struct Shown
    {
        QString title, text;
    };
    QList<Shown> messages;

    RecordedMessages() { Dialogs::setCurrent(this); }
    ~RecordedMessages() override { Dialogs::setCurrent(nullptr); }
    Button message(Icon, const QString& title, const QString& text, Buttons,
                   Button defaultButton) override
    {
        messages << Shown{title, text};
        return defaultButton;
    }
    QStringList texts() const
    {
        QStringList all;
        for (const Shown& m : messages)
            all << m.text;
        return all;
    }
};

// The scan jobs against the SANE test scanner, pages collected as the images pane would.
class ScanJobTest : public SaneFixture
{
protected:
    void SetUp() override
    {
        SaneFixture::SetUp();
        folder = scratchDir();
        settings.sourceName = kScanner;
        settings.hideUi = true;
        settings.pixelType = 2;
        settings.resolutionText = [this] { return resolution; };
        settings.sequenceMode = true;
        settings.startText = [this] { return QString::number(counter); };
        settings.naming = {[this] { return folder; }, [this] { return prefix; },
                           [this] { return extension; }};
        pane.copyInUse = [this](const QString& path) {
            return std::any_of(pages.begin(), pages.end(),
                               [&](const ScannedPage& p) { return p.copyPath == path; });
        };
        pane.addPage = [this](const ScannedPage& page) { pages << page; };
        pane.raiseCounter = [this] { ++counter; };
    }

    ScanJobResult run()
    {
        return runScanJob(library, settings, pane, QStringLiteral("Unable to scan."));
    }

    void useFeeder()
    {
        settings.useFeeder = true;
        ASSERT_TRUE(ScannerLibrary::instance().OpenSourceByName(kScanner.toUtf8().constData()));
        // The test scanner's feeder holds ten sheets.
        ASSERT_TRUE(ScannerLibrary::instance().sourceOptions()->setValue(
            QStringLiteral("source"), QStringLiteral("Automatic Document Feeder")));
        ScannerLibrary::instance().EndAcquisition();
    }

    static void writeBytesTo(const QString& path)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a folder");
    }

    QStringList filesIn(const QString& dir) const
    {
        return QDir(dir).entryList(QDir::Files, QDir::Name);
    }

    RecordedMessages dialogs;
    RecordingLibrary library{ScannerLibrary::instance()};
    ScanJobSettings settings;
    ScanJobPane pane;
    QList<ScannedPage> pages;
    QString folder, prefix = QStringLiteral("Quillora_"), extension = QStringLiteral("jpg");
    QString resolution = QStringLiteral("75");
    int counter = 1;
};

TEST_F(ScanJobTest, FlatbedGivesOnePageFileCopyAndEntryWithLibraryCallsInOrder)
{
    {
        SettingsStore store;
        store.writeInteger("JPEGCompression", 40);
        store.writeInteger("TIFFCompression", 5);
    }
    const ScanJobResult result = run();

    EXPECT_EQ(result.pages, 1);
    EXPECT_TRUE(result.failures.isEmpty());
    EXPECT_THAT(filesIn(folder), ElementsAre("Quillora_1.jpg"));
    ASSERT_EQ(pages.size(), 1);
    const ScannedPage& page = pages.first();
    EXPECT_EQ(page.caption, "Quillora_1.jpg");
    EXPECT_EQ(page.outputPath, folder + "/Quillora_1.jpg");
    EXPECT_EQ(page.copyPath, tempDir() + "/temp1.bmp");
    EXPECT_THAT(filesIn(tempDir()), ElementsAre("temp1.bmp"));
    // 80 x 100 mm at 75 dpi, read back from both files.
    EXPECT_EQ(QImageReader(page.outputPath).size(), QSize(236, 295));
    EXPECT_EQ(QImageReader(page.copyPath).size(), QSize(236, 295));
    EXPECT_EQ(page.thumbnail.size(), QSize(100, 75));
    EXPECT_EQ(page.thumbnail.pixel(0, 0), qRgb(255, 255, 255)); // left of the portrait page
    EXPECT_EQ(counter, 2);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_THAT(library.calls,
                ElementsAre("SetLibraryOptionA(0)", "SetHideUI(1)", "SetKeepSourceOpen(0)",
                            "SetLibraryOptionB(0)", "SetJpegQuality(40)", "SetTiffCompression(0,7)",
                            "OpenSourceByName(" + kScanner + ")", "SetUseFeeder(0)",
                            "SetSourceOptionA(1)", "SetSourceOptionB(-1)", "SetSourceOptionC(1)",
                            "SetSourceOptionD(1)", "SetPixelType(2)", "SetResolution(75)",
                            "AcquireImage", "EndAcquisition"));
    EXPECT_EQ(library.released, 1);
}

// Each choice of the format settings window reaches the page file as its own TIFF
// compression; with no quality stored the JPEG quality is 75.
TEST_F(ScanJobTest, StoredFormatSettingsReachThePageFiles)
{
    extension = "tiff";
    const int tags[] = {1, 2, 3, 4, 5, 7};   // none, RLE, G3, G4, LZW, JPEG
    for (int index = 0; index < 6; ++index) {
        SCOPED_TRACE(index);
        SettingsStore().writeInteger("TIFFCompression", index);
        pages.clear();
        run();
        ASSERT_EQ(pages.size(), 1);
        EXPECT_EQ(tiffCompressions(pages[0].outputPath), QList<int>{tags[index]});
    }

    extension = "jpg";
    SettingsStore().deleteValue("TIFFCompression");
    library.calls.clear();
    pages.clear();
    run();
    ASSERT_EQ(pages.size(), 1);
    QFile page(pages[0].outputPath);
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_TRUE(jpegHasQuality(page.readAll(), 75));
    EXPECT_TRUE(library.calls.contains("SetJpegQuality(75)"));
    EXPECT_FALSE(library.calls.join(u' ').contains("SetTiffCompression")); // the library's own stays
}

TEST_F(ScanJobTest, WithTheScannersOwnDialogEachScanIsAPageUntilTheUserCloses)
{
    // The dialog stays open between pages; the job goes on while the user may still press
    // Scan, and ends quietly when the dialog is closed.
    WidgetAcquisitionUi ui;
    AcquisitionUi::setCurrent(&ui);
    settings.hideUi = false;
    QStringList clicks{QStringLiteral("btn_Scan"), QStringLiteral("btn_Scan"),
                       QStringLiteral("btn_Close")};
    QTimer user;
    user.setInterval(1);
    QObject::connect(&user, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<SourceDialog*>(w);
            if (!d || !d->isVisible() || clicks.isEmpty())
                continue;
            auto* scan = d->findChild<QPushButton*>(QStringLiteral("btn_Scan"));
            if (scan->isEnabled()) // idle: not reading a page
                d->findChild<QPushButton*>(clicks.takeFirst())->click();
        }
    });
    user.start();
    const ScanJobResult result = run();
    AcquisitionUi::setCurrent(nullptr);

    EXPECT_TRUE(clicks.isEmpty());
    EXPECT_EQ(result.pages, 2);
    EXPECT_TRUE(result.failures.isEmpty());
    EXPECT_THAT(filesIn(folder), ElementsAre("Quillora_1.jpg", "Quillora_2.jpg"));
    EXPECT_THAT(filesIn(tempDir()), ElementsAre("temp1.bmp", "temp2.bmp"));
    EXPECT_EQ(pages.size(), 2);
    EXPECT_EQ(counter, 3);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(library.calls.mid(1, 2), QStringList({"SetHideUI(0)", "SetKeepSourceOpen(1)"}));
    EXPECT_EQ(library.calls.count(QStringLiteral("AcquireImage")), 3); // the last one: closed
    EXPECT_EQ(library.calls.last(), QStringLiteral("EndAcquisition"));
    EXPECT_EQ(library.released, 2);
}

TEST_F(ScanJobTest, FeederGivesTenPagesAndLaterRunsGoBehind)
{
    useFeeder();
    const ScanJobResult result = run();

    EXPECT_EQ(result.pages, 10);
    EXPECT_EQ(filesIn(folder).size(), 10);
    EXPECT_EQ(filesIn(tempDir()).size(), 10);
    ASSERT_EQ(pages.size(), 10);
    EXPECT_EQ(pages.first().caption, "Quillora_1.jpg");
    EXPECT_EQ(pages.last().caption, "Quillora_10.jpg");
    EXPECT_EQ(counter, 11);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.texts().join(u'|').toStdString();
    EXPECT_FALSE(library.openSources);
}

TEST_F(ScanJobTest, SequenceModeSkipsTakenNames)
{
    QFile taken(folder + "/Quillora_1.jpg");
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.write("not a scan");
    taken.close();

    run();

    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages.first().caption, "Quillora_1_1.jpg");
    EXPECT_EQ(counter, 2);
    QFile kept(folder + "/Quillora_1.jpg");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "not a scan");
    EXPECT_EQ(QImageReader(folder + "/Quillora_1_1.jpg").size(), QSize(236, 295));
}

TEST_F(ScanJobTest, CancelOnFirstPageLeavesNothing)
{
    // The scanner stops the very first read as if the user had cancelled it.
    writeTestConf({QStringLiteral("read-status-code \"SANE_STATUS_CANCELLED\"")});
    run();

    EXPECT_TRUE(pages.isEmpty());
    EXPECT_TRUE(filesIn(folder).isEmpty());
    EXPECT_TRUE(filesIn(tempDir()).isEmpty());
    EXPECT_EQ(counter, 1);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(library.calls.last(), "EndAcquisition");
}

TEST_F(ScanJobTest, JamAfterSomePagesKeepsThemAndReports)
{
    useFeeder();
    library.jamAfterPages = 3;
    const ScanJobResult result = run();

    EXPECT_EQ(result.pages, 3);
    EXPECT_EQ(pages.size(), 3);
    EXPECT_EQ(filesIn(folder).size(), 3);
    EXPECT_EQ(counter, 4);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages.first().text, "Unable to scan.\nDocument feeder jammed");
    EXPECT_FALSE(library.openSources);
    // Reported after the source was closed.
    EXPECT_EQ(library.calls.mid(library.calls.size() - 2),
              QStringList({"EndAcquisition", "ReportLastError(Unable to scan.)"}));
}

TEST_F(ScanJobTest, AFolderThatCannotTakeTheFileIsFoundBeforeAnySheetIsPulled)
{
    useFeeder();
    const QString plainFile = folder + "/a-file";
    writeBytesTo(plainFile);
    const struct { const char* what; QString folder; const char* reason; } cases[] = {
        {"missing", folder + "/missing", "No such file or directory"},
        {"a file", plainFile, "Not a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        folder = c.folder;
        library.calls.clear();
        dialogs.messages.clear();
        const ScanJobResult result = run();

        EXPECT_EQ(result.pages, 0);
        EXPECT_FALSE(library.calls.contains("AcquireImage"));
        EXPECT_TRUE(pages.isEmpty());
        EXPECT_TRUE(filesIn(tempDir()).isEmpty());
        EXPECT_EQ(counter, 1);
        EXPECT_FALSE(library.openSources);
        ASSERT_EQ(dialogs.messages.size(), 1);
        EXPECT_EQ(dialogs.messages.first().text,
                  "Unable to scan.\nCannot create a file in " + c.folder + ": " + c.reason);
    }
}

// A feeder run stops at the first page that cannot be written: the pages before stay, the
// failed sheet stays in the pane through its copy, and the failure is told once.
TEST_F(ScanJobTest, FeederRunStopsAtTheFirstPageThatCannotBeWritten)
{
    useFeeder();
    folder += "/scans";
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString movedAway = folder + "-moved";
    library.afterPage = [&](int n) {
        if (n == 4) {
            ASSERT_TRUE(QDir().rename(folder, movedAway));
        }
    };
    const ScanJobResult result = run();

    EXPECT_EQ(result.pages, 4);
    EXPECT_EQ(library.calls.count(QStringLiteral("AcquireImage")), 4);
    EXPECT_THAT(filesIn(movedAway), ElementsAre("Quillora_1.jpg", "Quillora_2.jpg", "Quillora_3.jpg"));
    ASSERT_EQ(pages.size(), 4);
    EXPECT_TRUE(pages[2].written);
    EXPECT_FALSE(pages[3].written);
    EXPECT_EQ(pages[3].caption, "Quillora_4.jpg");
    EXPECT_TRUE(QFileInfo(pages[3].copyPath).isFile());
    EXPECT_EQ(QImageReader(pages[3].copyPath).size(), QSize(236, 295));
    EXPECT_EQ(result.failures.size(), 1);
    ASSERT_EQ(dialogs.messages.size(), 1);
    const QString text = dialogs.messages.first().text;
    EXPECT_TRUE(text.startsWith("Unable to scan.\n" + folder + "/Quillora_4.jpg: ")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("No such file or directory")) << text.toStdString();
    EXPECT_FALSE(library.openSources);
}

TEST_F(ScanJobTest, SameSuffixAgainKeepsBothCopies)
{
    run();
    counter = 1; // the user sets the start number back and picks another folder
    folder = root() + "/elsewhere";
    ASSERT_TRUE(QDir().mkpath(folder));
    run();

    ASSERT_EQ(pages.size(), 2);
    EXPECT_EQ(pages[0].caption, pages[1].caption);
    EXPECT_NE(pages[0].copyPath, pages[1].copyPath);
    EXPECT_EQ(pages[1].copyPath, tempDir() + "/temp1_1.bmp");
    EXPECT_TRUE(QFileInfo(pages[0].copyPath).isFile());
    EXPECT_TRUE(QFileInfo(pages[1].copyPath).isFile());
}

TEST_F(ScanJobTest, StaleCopyOfAnEarlierRunIsReplaced)
{
    QFile stale(tempDir() + "/temp1.bmp");
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("left over");
    stale.close();

    run();

    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages.first().copyPath, tempDir() + "/temp1.bmp");
    EXPECT_EQ(QImageReader(pages.first().copyPath).size(), QSize(236, 295));
}

TEST_F(ScanJobTest, ResolutionThatIsNoNumberFailsButClosesTheSource)
{
    resolution.clear();
    EXPECT_THROW(run(), QuilloraError);
    EXPECT_FALSE(library.openSources);
    EXPECT_EQ(library.calls.last(), "EndAcquisition");
    EXPECT_TRUE(pages.isEmpty());
}

TEST_F(ScanJobTest, UnknownSourceReportsWithoutEndingAcquisition)
{
    settings.sourceName = "No such scanner";
    run();
    EXPECT_TRUE(pages.isEmpty());
    EXPECT_FALSE(library.calls.contains("EndAcquisition"));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages.first().text.startsWith("Unable to scan.\n"));
}

TEST_F(ScanJobTest, CommandLineScanWritesNextFreePage)
{
    writeTestConf({QStringLiteral("test-picture \"Color pattern\"")});
    CommandLineScan scan;
    scan.resolution = 150;
    scan.mode = 2;
    scan.ext = "png";
    scan.path = folder;
    scan.fname = "Page";
    int cliCounter = 1;
    const CommandLineScanResult first =
        runCommandLineScan(library, scan, cliCounter, "Unable to scan.");
    const CommandLineScanResult second =
        runCommandLineScan(library, scan, cliCounter, "Unable to scan.");

    EXPECT_TRUE(first.written);
    EXPECT_EQ(first.path, folder + "/Page 1.png");
    EXPECT_EQ(second.path, folder + "/Page 2.png");
    EXPECT_EQ(cliCounter, 2);
    const QImage page(first.path);
    EXPECT_EQ(page.size(), QSize(472, 590));
    EXPECT_FALSE(page.isGrayscale());
    EXPECT_TRUE(library.calls.contains("OpenDefaultSource"));
    EXPECT_TRUE(library.calls.contains("SetJpegQuality(75)"));
    EXPECT_FALSE(library.calls.join(u' ').contains("SetTiffCompression"));
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ScanJobTest, CommandLineScanIntoMissingFolderFails)
{
    CommandLineScan scan;
    scan.resolution = 75;
    scan.ext = "bmp";
    scan.path = folder + "/missing";
    scan.fname = "quillora";
    scan.sourceSelected = true;
    scan.sourceName = kScanner;
    int cliCounter = 1;
    const CommandLineScanResult result =
        runCommandLineScan(library, scan, cliCounter, "Unable to scan.");

    EXPECT_FALSE(result.written);
    EXPECT_FALSE(library.calls.contains("AcquireImage"));   // nothing was scanned to be lost
    EXPECT_FALSE(library.openSources);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages.first().text,
              "Unable to scan.\nCannot create a file in " + folder + "/missing: No such file or directory");
}

} // namespace
