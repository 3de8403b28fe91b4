// SPDX-License-Identifier: GPL-3.0-or-later
// The scanner library against SANE's test scanner: a real device behind the real SANE
// library, configured privately by the fixture.
#include "SaneFixture.h"

#include "app/Dialogs.h"
#include "scanner/SaneScannerLibrary.h"
#include "scanner/SourceOptions.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStringList>

#include <memory>

#include <tiffio.h>

#include <signal.h>
#include <sys/time.h>

namespace {

constexpr const char* kTester = "Noname frontend-tester";

class ScannerLibraryTest : public SaneFixture
{
protected:
    void SetUp() override
    {
        SaneFixture::SetUp();
        lib = std::make_unique<SaneScannerLibrary>();
    }
    void TearDown() override
    {
        lib.reset(); // closes the device and ends SANE before the private config goes
        SaneFixture::TearDown();
    }

    // Opens the test scanner as a hidden-dialog job does and sets its options.
    void open(int pixelType, double dpi, bool feeder = false)
    {
        ASSERT_EQ(lib->OpenSourceByName(kTester), 1) << qPrintable(lib->LastErrorText());
        lib->SetHideUI(1);
        lib->SetKeepSourceOpen(0);
        lib->SetUseFeeder(feeder ? 1 : 0);
        lib->SetPixelType(pixelType);
        lib->SetResolution(dpi);
    }
    void setOption(const char* name, const QVariant& value)
    {
        QString error;
        ASSERT_TRUE(lib->sourceOptions()->setValue(QString::fromLatin1(name), value, &error))
            << name << ": " << qPrintable(error);
    }

    std::unique_ptr<SaneScannerLibrary> lib;
};

TEST_F(ScannerLibraryTest, ListsEveryDeviceByProductName)
{
    ASSERT_EQ(lib->BeginSourceList(), 1);
    char name[ScannerLibrary::SourceNameSize];
    QStringList names;
    while (lib->NextSourceName(name))
        names << QString::fromLatin1(name);
    EXPECT_EQ(names, QStringList({kTester, kTester}));
    EXPECT_EQ(lib->NextSourceName(name), 0);
}

// A network host that never answers hides no local scanner and holds nothing up: the local
// devices are listed at once and can be scanned from while the network listing hangs; it
// ends by its deadline and adds nothing.
TEST_F(ScannerLibraryTest, SilentNetworkHostDelaysNothingLocal)
{
    SilentSaneHost host(saneConfigDir());
    ASSERT_TRUE(host.listening());
    qputenv("QUILLORA_SCANNER_DEADLINE_MS", "3000");
    lib = std::make_unique<SaneScannerLibrary>();

    QElapsedTimer timer;
    timer.start();
    ASSERT_EQ(lib->BeginSourceList(), 1) << qPrintable(lib->LastErrorText());
    char name[ScannerLibrary::SourceNameSize];
    QStringList names;
    while (lib->NextSourceName(name))
        names << QString::fromLatin1(name);
    EXPECT_EQ(names, QStringList({kTester, kTester}));
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_FALSE(lib->sourceListComplete());

    open(2, 50);
    EXPECT_NE(lib->AcquireImage(nullptr), 0u) << qPrintable(lib->LastErrorText());
    lib->EndAcquisition();
    EXPECT_LT(timer.elapsed(), 2000);

    lib->finishSourceList();
    EXPECT_TRUE(lib->sourceListComplete());
    EXPECT_EQ(lib->NextSourceName(name), 0);
    EXPECT_LT(timer.elapsed(), 6000);
}

// SANE runs in the helper alone: after a listing and a scan none of it is mapped here, and
// the page's pixels are the helper's shared memory itself, not a copy of it.
TEST_F(ScannerLibraryTest, SaneStaysOutOfThisProcessAndPagesAreNotCopied)
{
    ASSERT_EQ(lib->BeginSourceList(), 1);
    open(2, 100);
    const ScannerLibrary::Handle page = lib->AcquireImage(nullptr);
    ASSERT_NE(page, 0u) << qPrintable(lib->LastErrorText());
    const quintptr pixels = quintptr(lib->image(page).constBits());

    QFile maps(QStringLiteral("/proc/self/maps"));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    QByteArray pageMapping;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        EXPECT_FALSE(line.contains("libsane")) << line.constData();
        const QList<QByteArray> range = line.left(line.indexOf(' ')).split('-');
        if (range.size() == 2 && range[0].toULongLong(nullptr, 16) <= pixels
            && pixels < range[1].toULongLong(nullptr, 16))
            pageMapping = line;
    }
    EXPECT_TRUE(pageMapping.contains("/memfd:quillora-page")) << pageMapping.constData();
}

SaneScannerLibrary* g_interrupted = nullptr;
void cancelFromSignal(int) { g_interrupted->requestCancel(); }

// Ctrl-C of a command-line scan: a signal handler asks the page to stop, and it stops soon
// (cancelling is a normal end, not a failure).
TEST_F(ScannerLibraryTest, CancelAskedFromASignalHandlerStopsThePage)
{
    open(2, 300);
    setOption("read-delay", true);
    setOption("read-delay-duration", 200000); // a page of many seconds
    g_interrupted = lib.get();
    struct sigaction action = {};
    action.sa_handler = cancelFromSignal;
    struct sigaction before = {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &before), 0);
    itimerval in300ms = {{0, 0}, {0, 300000}};
    setitimer(ITIMER_REAL, &in300ms, nullptr);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(lib->AcquireImage(nullptr), 0u);
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_EQ(lib->LastErrorCode(), 0) << qPrintable(lib->LastErrorText());
    EXPECT_EQ(lib->GetTwainState(), ScannerLibrary::StateSourceOpen);
    sigaction(SIGALRM, &before, nullptr);
}

TEST(SourceNameTest, LongNamesAreCutBetweenCharacters)
{
    const QByteArray ascii(70, 'a');
    EXPECT_EQ(fitSourceName(ascii), QByteArray(63, 'a'));
    // "é" is two bytes: the 63rd byte would be the first half of one.
    const QByteArray accented = QByteArray(62, 'a') + "\xC3\xA9\xC3\xA9";
    EXPECT_EQ(fitSourceName(accented), QByteArray(62, 'a'));
    EXPECT_EQ(fitSourceName("Noname frontend-tester"), QByteArray("Noname frontend-tester"));
}

TEST_F(ScannerLibraryTest, UnknownNameOpensNothing)
{
    EXPECT_EQ(lib->OpenSourceByName("Noname frontend-teste"), 0);
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::SourceNotFound);
    EXPECT_LT(lib->GetTwainState(), ScannerLibrary::StateSourceOpen);
}

TEST_F(ScannerLibraryTest, DefaultSourceFollowsSaneDefaultDevice)
{
    qputenv("SANE_DEFAULT_DEVICE", "test:1");
    ASSERT_EQ(lib->OpenDefaultSource(), 1);
    EXPECT_EQ(lib->openSourceName(), QByteArray("Noname frontend-tester"));
    lib->EndAcquisition();
    qputenv("SANE_DEFAULT_DEVICE", "test:9");
    EXPECT_EQ(lib->OpenDefaultSource(), 0);
    EXPECT_NE(lib->LastErrorCode(), 0);
    qunsetenv("SANE_DEFAULT_DEVICE");
    EXPECT_EQ(lib->OpenDefaultSource(), 1);
}

TEST_F(ScannerLibraryTest, FlatbedPageWithHiddenDialogIsOneColourPageOfTheScanArea)
{
    open(2, 150);
    setOption("test-picture", QStringLiteral("Color pattern"));
    const ScannerLibrary::Handle page = lib->AcquireImage(nullptr);
    ASSERT_NE(page, 0u) << qPrintable(lib->LastErrorText());
    EXPECT_EQ(lib->ImageWidth(page), 472);  // 80 mm at 150 dpi
    EXPECT_EQ(lib->ImageHeight(page), 590); // 100 mm
    const QImage image = lib->image(page);
    EXPECT_FALSE(image.isGrayscale());
    EXPECT_EQ(image.depth(), 24);
    EXPECT_EQ(image.dotsPerMeterX(), 5906); // 150 dpi, so viewers show the paper size
    // A flatbed gives one page: the job's continue rule must stop.
    EXPECT_LT(lib->GetTwainState(), 6);
    EXPECT_EQ(lib->LastErrorCode(), 0);

    lib->ReleaseImage(page);
    EXPECT_TRUE(lib->image(page).isNull());
    lib->EndAcquisition();
    EXPECT_LT(lib->GetTwainState(), ScannerLibrary::StateSourceOpen);
    // Closed for good: a later job opens it again.
    open(1, 50);
    EXPECT_NE(lib->AcquireImage(nullptr), 0u);
}

TEST_F(ScannerLibraryTest, PixelTypeChoosesThePageKind)
{
    struct Case { int pixelType; int depth; bool gray; };
    for (const Case c : {Case{0, 1, true}, Case{1, 8, true}, Case{2, 24, false}}) {
        SCOPED_TRACE(c.pixelType);
        open(c.pixelType, 75);
        setOption("test-picture", QStringLiteral("Color pattern"));
        const ScannerLibrary::Handle page = lib->AcquireImage(nullptr);
        ASSERT_NE(page, 0u) << qPrintable(lib->LastErrorText());
        EXPECT_EQ(lib->image(page).depth(), c.depth);
        EXPECT_EQ(lib->image(page).allGray(), c.gray);
        lib->EndAcquisition();
    }
}

TEST_F(ScannerLibraryTest, ResolutionGoesToTheNearestAllowedValue)
{
    writeTestConf({"resolution_min 75.0", "resolution_quant 75.0"});
    struct Case { double asked; double used; };
    open(2, 75);
    for (const Case c : {Case{100, 75}, Case{120, 150}, Case{5000, 1200}, Case{10, 75}}) {
        lib->SetResolution(c.asked);
        EXPECT_EQ(lib->sourceOptions()->value(QStringLiteral("resolution")).toDouble(), c.used)
            << c.asked;
    }
}

TEST_F(ScannerLibraryTest, FeederGivesEveryPageThenEndsQuietly)
{
    open(1, 25, true);
    int pages = 0;
    QList<int> states;
    while (const ScannerLibrary::Handle page = lib->AcquireImage(nullptr)) {
        ++pages;
        lib->ReleaseImage(page);
        states << lib->GetTwainState();
        if (states.last() < 6 || pages > 20)
            break;
    }
    EXPECT_EQ(pages, 10); // the test scanner's feeder holds ten sheets
    EXPECT_EQ(states.count(6), 9);
    EXPECT_LT(states.last(), 6);
    EXPECT_EQ(lib->LastErrorCode(), 0) << qPrintable(lib->LastErrorText());

    // Ending the job while the next sheet is already on its way frees the device.
    open(1, 25, true);
    ASSERT_NE(lib->AcquireImage(nullptr), 0u);
    ASSERT_EQ(lib->GetTwainState(), ScannerLibrary::StateTransferReady);
    lib->EndAcquisition();
    open(1, 25, false);
    EXPECT_NE(lib->AcquireImage(nullptr), 0u) << qPrintable(lib->LastErrorText());
}

// Faults injected through the device's read status: each ends the acquisition with its
// reason, the device is left closable and reopenable, and a page taken before is intact.
TEST_F(ScannerLibraryTest, DeviceFaultsEndCleanlyAndKeepEarlierPages)
{
    struct Case { const char* status; int code; const char* text; };
    const Case cases[] = {
        {"SANE_STATUS_JAMMED", ScannerLibrary::DeviceJammed, "Document feeder jammed"},
        {"SANE_STATUS_COVER_OPEN", ScannerLibrary::DeviceCoverOpen, "Scanner cover is open"},
        {"SANE_STATUS_IO_ERROR", ScannerLibrary::DeviceIoError, "Error during device I/O"},
        {"SANE_STATUS_DEVICE_BUSY", ScannerLibrary::DeviceBusy, "Device busy"},
        // An empty feeder once a page came is the normal end of a feeder run.
        {"SANE_STATUS_NO_DOCS", ScannerLibrary::NoError, ""},
        {"SANE_STATUS_CANCELLED", ScannerLibrary::NoError, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        open(2, 50);
        setOption("test-picture", QStringLiteral("Color pattern"));
        const ScannerLibrary::Handle first = lib->AcquireImage(nullptr);
        ASSERT_NE(first, 0u);
        const QImage before = lib->image(first).copy();

        setOption("read-return-value", QString::fromLatin1(c.status));
        EXPECT_EQ(lib->AcquireImage(nullptr), 0u);
        EXPECT_EQ(lib->LastErrorCode(), c.code);
        EXPECT_EQ(lib->LastErrorText(), QString::fromLatin1(c.text));
        EXPECT_EQ(lib->GetTwainState(), ScannerLibrary::StateSourceOpen);
        EXPECT_EQ(lib->image(first), before);

        setOption("read-return-value", QStringLiteral("Default"));
        lib->EndAcquisition();
        EXPECT_EQ(lib->image(first), before);
        lib->ReleaseImage(first);
    }
    // Nothing stayed open: a fresh job scans again.
    open(1, 50);
    EXPECT_NE(lib->AcquireImage(nullptr), 0u);
}

TEST_F(ScannerLibraryTest, EmptyFeederAtTheStartIsAnError)
{
    open(1, 50, true);
    setOption("read-return-value", QStringLiteral("SANE_STATUS_NO_DOCS"));
    EXPECT_EQ(lib->AcquireImage(nullptr), 0u);
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::DeviceNoDocuments);
    EXPECT_EQ(lib->LastErrorText(), QStringLiteral("Document feeder out of documents"));
    EXPECT_EQ(lib->GetTwainState(), ScannerLibrary::StateSourceOpen);
}

// Records the messages the library shows (the core tests link no widgets).
struct RecordingDialogs : ConsoleDialogs
{
    RecordingDialogs() { Dialogs::setCurrent(this); }
    ~RecordingDialogs() override { Dialogs::setCurrent(nullptr); }
    Button message(Icon icon, const QString& title, const QString& text, Buttons, Button) override
    {
        messages.append({icon, title, text});
        return Ok;
    }
    struct Shown { Icon icon; QString title; QString text; };
    QList<Shown> messages;
};

TEST_F(ScannerLibraryTest, ReportLastErrorShowsTheTextAndTheReason)
{
    RecordingDialogs dialogs;
    open(2, 50);
    setOption("read-return-value", QStringLiteral("SANE_STATUS_JAMMED"));
    EXPECT_EQ(lib->AcquireImage(nullptr), 0u);
    lib->EndAcquisition();
    EXPECT_NE(lib->LastErrorCode(), 0); // closing keeps the failure for the job's report
    lib->ReportLastError(QStringLiteral("Unable to scan."));
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Warning);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith(QStringLiteral("Unable to scan.")));
    EXPECT_TRUE(dialogs.messages[0].text.contains(QStringLiteral("Document feeder jammed")));
}

// What scanimage, SANE's own front end, makes of the same settings.
QImage scanimageReference(const QStringList& options)
{
    QProcess p;
    p.start(QStringLiteral("scanimage"),
            QStringList{QStringLiteral("-d"), QStringLiteral("test:0"), QStringLiteral("--format=pnm")}
                + options);
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return {};
    return QImage::fromData(p.readAllStandardOutput());
}

// The largest difference of any colour channel of any pixel.
int largestDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    int largest = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

// Frames as devices really send them, decoded to the same page SANE's own front end sees,
// held whole and read through a window of a few rows into a file. The test scanner keeps
// option values across opens, so each case puts its own back.
TEST_F(ScannerLibraryTest, DecodesEveryKindOfFrame)
{
    lib->setPageWindowBytes(4096);
    struct Case
    {
        const char* label;
        int pixelType;
        QList<std::pair<const char*, QVariant>> options;
        int paddingPixels = 0; // scanimage writes padding as pixels: compare without it
        int tolerance = 0;     // 16-bit samples: readers round to 8 bits their own way
        int dpi = 50;
    };
    const QVariant yes(true);
    const Case cases[] = {
        {"gray 8", 1, {}},
        {"gray 1", 0, {}},
        {"color", 2, {}},
        {"color 16", 2, {{"depth", 16}}, 0, 1},
        {"gray 16", 1, {{"depth", 16}}, 0, 1},
        {"three-pass", 2, {{"three-pass", yes}}},
        {"three-pass BGR", 2, {{"three-pass", yes}, {"three-pass-order", QStringLiteral("BGR")}}},
        {"padding", 2, {{"ppl-loss", 7}}, 7},
        {"hand scanner", 2, {{"hand-scanner", yes}}},
        {"small reads", 1, {{"read-limit", yes}, {"read-limit-size", 113}}},
        {"large colour", 2, {}, 0, 0, 300},
        // Lines as long as the page's rows go straight into the page, undecoded.
        {"gray into place", 1, {}, 0, 0, 75},
        {"colour into place", 2, {}, 0, 0, 75},
        {"gray 1 into place", 0, {}, 0, 0, 122},
        // Of unknown length, and longer than the memory first set aside for it.
        {"hand scanner into place", 1, {{"hand-scanner", yes}}, 0, 0, 300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        open(c.pixelType, c.dpi);
        QStringList cli{QStringLiteral("--resolution=%1").arg(c.dpi),
                        QStringLiteral("--test-picture=Color pattern")};
        cli << QStringLiteral("--mode=%1").arg(c.pixelType == 2 ? "Color" : "Gray");
        if (c.pixelType == 0)
            cli << QStringLiteral("--depth=1");
        setOption("test-picture", QStringLiteral("Color pattern"));
        QList<std::pair<const char*, QVariant>> restore;
        for (const auto& [name, value] : c.options) {
            restore.prepend({name, lib->sourceOptions()->value(QString::fromLatin1(name))});
            setOption(name, value);
            if (QByteArray(name) != "ppl-loss")
                cli << QStringLiteral("--%1=%2").arg(QLatin1String(name),
                                                     value.typeId() == QMetaType::Bool
                                                         ? QStringLiteral("yes")
                                                         : value.toString());
        }
        const ScannerLibrary::Handle page = lib->AcquireImage(nullptr);
        QString windowed;
        const int filed = lib->AcquireFile(nullptr, scratchDir() + "/window.png", {}, &windowed);
        for (const auto& [name, value] : restore)
            setOption(name, value);
        ASSERT_NE(page, 0u) << qPrintable(lib->LastErrorText());
        ASSERT_EQ(filed, 1) << qPrintable(lib->LastErrorText());
        QImage reference = scanimageReference(cli);
        ASSERT_FALSE(reference.isNull()) << qPrintable(cli.join(' '));
        reference = reference.copy(0, 0, reference.width() - c.paddingPixels, reference.height());
        const QImage ours = lib->image(page);
        ASSERT_EQ(ours.size(), reference.size());
        EXPECT_LE(largestDifference(ours, reference), c.tolerance);
        const QImage fromFile(windowed);
        ASSERT_EQ(fromFile.size(), reference.size());
        EXPECT_LE(largestDifference(fromFile, reference), c.tolerance);
        QFile::remove(windowed);
        lib->EndAcquisition();
    }
}

// The page files go through the library's settings and the encoders' safe writing.
TEST_F(ScannerLibraryTest, WritesPagesWithTheSettingsInForce)
{
    open(2, 100);
    setOption("test-picture", QStringLiteral("Color pattern"));
    const ScannerLibrary::Handle page = lib->AcquireImage(nullptr);
    ASSERT_NE(page, 0u);
    const QString dir = scratchDir();

    ASSERT_EQ(lib->WriteImageFile(page, dir + "/page.PNG"), 1) << qPrintable(lib->LastErrorText());
    const QImage back(dir + "/page.PNG");
    EXPECT_EQ(back.size(), lib->image(page).size());
    EXPECT_EQ(back.dotsPerMeterX(), 3937); // 100 dpi

    lib->SetJpegQuality(10);
    ASSERT_EQ(lib->WriteImageFile(page, dir + "/low.jpg"), 1);
    lib->SetJpegQuality(95);
    ASSERT_EQ(lib->WriteImageFile(page, dir + "/high.jpg"), 1);
    EXPECT_LT(QFile(dir + "/low.jpg").size(), QFile(dir + "/high.jpg").size());

    lib->SetTiffCompression(0, 5);
    ASSERT_EQ(lib->WriteImageFile(page, dir + "/page.tiff"), 1) << qPrintable(lib->LastErrorText());
    TIFF* tiff = TIFFOpen(QFile::encodeName(dir + "/page.tiff").constData(), "r");
    ASSERT_TRUE(tiff);
    uint16_t compression = 0;
    TIFFGetField(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFClose(tiff);
    EXPECT_EQ(compression, 5);

    // A name that is taken is never replaced.
    const QByteArray before = [&] { QFile f(dir + "/page.PNG"); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    EXPECT_EQ(lib->WriteImageFile(page, dir + "/page.PNG"), 0);
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::FileWriteFailed);
    QFile again(dir + "/page.PNG");
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), before);
    // ... and the job's variant moves on to the next free name.
    QString written;
    EXPECT_EQ(lib->WriteImageFileNoClobber(page, dir + "/page.PNG",
                                           [&] { return dir + "/page_1.PNG"; }, &written), 1);
    EXPECT_EQ(written, dir + "/page_1.PNG");

    EXPECT_EQ(lib->WriteImageFile(page, dir + "/missing/page.png"), 0);
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::FileWriteFailed);
    EXPECT_FALSE(lib->LastErrorText().isEmpty());
    EXPECT_EQ(lib->WriteImageFile(0, dir + "/none.png"), 0);
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::InvalidHandle);
    EXPECT_FALSE(QFile::exists(dir + "/none.png"));
}

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// Pages coded while their rows come make the file the held page makes when written whole;
// the device reads slowly in small parts, so the rows come in many steps.
TEST_F(ScannerLibraryTest, PageFilesCodedAsTheRowsArriveAreTheWholePageFiles)
{
    const QString dir = scratchDir();
    struct Case { const char* ext; int compression; };
    const Case cases[] = {{"jpg", 1}, {"png", 1}, {"tif", 1}, {"tif", 5}, {"tif", 4}, {"tif", 7}};
    for (int pixelType : {0, 1, 2}) {
        open(pixelType, 100);
        setOption("test-picture", QStringLiteral("Color pattern"));
        setOption("read-limit", true);
        setOption("read-limit-size", 4096);
        setOption("read-delay", true);
        setOption("read-delay-duration", 1000);
        for (const Case& c : cases) {
            const QString name = QStringLiteral("%1-%2.%3").arg(pixelType).arg(c.compression).arg(QLatin1String(c.ext));
            SCOPED_TRACE(name.toStdString());
            lib->SetTiffCompression(0, c.compression);
            QString written;
            const ScannerLibrary::Handle page =
                lib->AcquireImageToFile(nullptr, dir + "/" + name, {}, &written);
            ASSERT_NE(page, 0u) << qPrintable(lib->LastErrorText());
            EXPECT_EQ(written, dir + "/" + name);
            ASSERT_EQ(lib->WriteImageFile(page, dir + "/whole-" + name), 1);
            EXPECT_FALSE(bytesOf(written).isEmpty());
            EXPECT_TRUE(bytesOf(written) == bytesOf(dir + "/whole-" + name));
            lib->ReleaseImage(page);
        }
        lib->EndAcquisition();
    }
    // A page read through a window of a few rows (it wraps round dozens of times) makes the
    // same file again; a three-pass page, which cannot have a window, is read whole.
    lib->setPageWindowBytes(7000);
    struct Windowed { int pixelType; bool threePass; };
    for (const Windowed w : {Windowed{0, false}, Windowed{1, false}, Windowed{2, false}, Windowed{2, true}}) {
        open(w.pixelType, 100);
        setOption("test-picture", QStringLiteral("Color pattern"));
        if (w.threePass)
            setOption("three-pass", true);
        for (const Case& c : cases) {
            const QString name = QStringLiteral("%1-%2.%3").arg(w.pixelType).arg(c.compression).arg(QLatin1String(c.ext));
            SCOPED_TRACE("window " + name.toStdString() + (w.threePass ? " three-pass" : ""));
            lib->SetTiffCompression(0, c.compression);
            const QString path = dir + "/window-" + name;
            QString written;
            ASSERT_EQ(lib->AcquireFile(nullptr, path, {}, &written), 1) << qPrintable(lib->LastErrorText());
            EXPECT_EQ(written, path);
            EXPECT_TRUE(bytesOf(written) == bytesOf(dir + "/whole-" + name));
            QFile::remove(path);
        }
        lib->EndAcquisition();
    }
    // A page that ends badly leaves no file, nor a part of one; the name is free for the next.
    open(2, 100);
    setOption("read-return-value", QStringLiteral("SANE_STATUS_IO_ERROR"));
    QString written = QStringLiteral("x");
    EXPECT_EQ(lib->AcquireImageToFile(nullptr, dir + "/failed.png", {}, &written), 0u);
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::DeviceIoError);
    EXPECT_TRUE(written.isEmpty());
    EXPECT_FALSE(entriesOf(dir).contains(QStringLiteral("failed.png")));
    EXPECT_TRUE(entriesOf(dir).filter(QStringLiteral(".part")).isEmpty());
    EXPECT_EQ(lib->AcquireFile(nullptr, dir + "/failed.png", {}, &written), 0);
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::DeviceIoError);
    EXPECT_TRUE(written.isEmpty());
    EXPECT_FALSE(entriesOf(dir).contains(QStringLiteral("failed.png")));
    EXPECT_TRUE(entriesOf(dir).filter(QStringLiteral(".part")).isEmpty());
    // A file that cannot be written keeps the page, as the whole-page writer does.
    setOption("read-return-value", QStringLiteral("Default"));
    const ScannerLibrary::Handle kept =
        lib->AcquireImageToFile(nullptr, dir + "/missing/page.png", {}, &written);
    EXPECT_NE(kept, 0u);
    EXPECT_TRUE(written.isEmpty());
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::FileWriteFailed);
    EXPECT_FALSE(lib->LastErrorText().isEmpty());
    EXPECT_FALSE(lib->image(kept).isNull());
    // Through a window the page is in its file or nowhere: one that cannot be written is
    // told as such, and the next page comes as ever.
    EXPECT_EQ(lib->AcquireFile(nullptr, dir + "/missing/page.png", {}, &written), 1);
    EXPECT_TRUE(written.isEmpty());
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::FileWriteFailed);
    EXPECT_TRUE(lib->LastErrorText().contains(dir + "/missing")) << qPrintable(lib->LastErrorText());
    EXPECT_EQ(lib->AcquireFile(nullptr, dir + "/after.png", {}, &written), 1) << qPrintable(lib->LastErrorText());
    EXPECT_EQ(written, dir + "/after.png");
}

TEST_F(ScannerLibraryTest, MultipageFileFromLoadedPages)
{
    QImage a(300, 200, QImage::Format_RGB888), b(200, 300, QImage::Format_Grayscale8);
    a.fill(Qt::red);
    b.fill(Qt::gray);
    ASSERT_TRUE(a.save(scratchDir() + "/a.bmp") && b.save(scratchDir() + "/b.bmp"));
    const QString out = scratchDir() + "/doc.tiff";

    ASSERT_EQ(lib->BeginMultipageFile(out), 1) << qPrintable(lib->LastErrorText());
    for (const char* name : {"/a.bmp", "/b.bmp", "/a.bmp"}) {
        const ScannerLibrary::Handle h = lib->LoadImageFile(scratchDir() + name);
        ASSERT_NE(h, 0u);
        EXPECT_EQ(lib->AppendPage(h), 1);
        lib->ReleaseImage(h);
    }
    ASSERT_EQ(lib->EndMultipageFile(), 1) << qPrintable(lib->LastErrorText());
    TIFF* tiff = TIFFOpen(QFile::encodeName(out).constData(), "r");
    ASSERT_TRUE(tiff);
    EXPECT_EQ(TIFFNumberOfDirectories(tiff), 3);
    TIFFClose(tiff);

    // A page that cannot be read spoils the document: nothing appears under its name.
    const QString failed = scratchDir() + "/failed.pdf";
    ASSERT_EQ(lib->BeginMultipageFile(failed), 1);
    const ScannerLibrary::Handle missing = lib->LoadImageFile(scratchDir() + "/gone.bmp");
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::FileReadFailed);
    EXPECT_EQ(lib->AppendPage(missing), 0);
    EXPECT_EQ(lib->EndMultipageFile(), 0);
    EXPECT_NE(lib->LastErrorCode(), 0);
    EXPECT_EQ(QDir(scratchDir()).entryList({"failed*", ".*failed*"}, QDir::Files | QDir::Hidden),
              QStringList());
}

} // namespace
