// SPDX-License-Identifier: GPL-3.0-or-later
// Scan jobs when the scanner helper fails in ways the test scanner cannot: a fake helper
// (chosen the way tests choose helpers) dies, hangs or babbles half-way through the second
// page of a feeder run, or there is no helper program at all. The job ends with the
// failure, the pages before stay whole, no part of the failed page is left, the helper is
// gone, and the next scan starts a fresh, real helper.
#include "SaneFixture.h"
#include "ScriptedDialogs.h"

#include "scanner/SaneScannerLibrary.h"
#include "scanner/ScanJob.h"
#include "scanner/WidgetAcquisitionUi.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

namespace {

const char* const kStopped = "The scanner driver stopped unexpectedly";
const char* const kHung = "The scanner driver stopped responding";

// Processes this one started that still run (reaped ones are gone from /proc).
int liveChildren()
{
    int count = 0;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!pid.toInt() || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks, so count from its end.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == getpid() && fields[0] != "Z")
            ++count;
    }
    return count;
}

// Helpers started by the process `parent` that are still alive; with `kill`, they are killed.
int helpersOf(qint64 parent, bool kill = false)
{
    int count = 0;
    const QByteArray mark = "--parent" + QByteArray(1, '\0') + QByteArray::number(parent) + '\0';
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!pid.toInt() || !cmdline.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray state = stat.readAll();
        if (cmdline.readAll().contains(mark) &&
            !state.mid(state.lastIndexOf(')') + 2).startsWith('Z')) {
            ++count;
            if (kill)
                ::kill(pid_t(pid.toInt()), SIGKILL);
        }
    }
    return count;
}

void killHelpersOf(qint64 parent) { helpersOf(parent, true); }

class HelperFailureTest : public SaneFixture
{
protected:
    void SetUp() override
    {
        SaneFixture::SetUp();
        m_realHelper = qgetenv("QUILLORA_SCANNER_HELPER");
        settings.sourceName = QStringLiteral("Noname frontend-tester");
        settings.hideUi = true;
        settings.pixelType = 2;
        settings.resolutionText = [] { return QStringLiteral("75"); };
        settings.sequenceMode = true;
        settings.startText = [this] { return QString::number(counter); };
        settings.naming = {[this] { return folder; }, [] { return QStringLiteral("Page"); },
                           [] { return QStringLiteral("png"); }};
        pane.copyInUse = [](const QString&) { return false; };
        pane.addPage = [this](const ScannedPage& page) { pages << page; };
        pane.raiseCounter = [this] { ++counter; };
    }
    void TearDown() override
    {
        qputenv("QUILLORA_SCANNER_HELPER", m_realHelper);
        qunsetenv("QUILLORA_SCANNER_DEADLINE_MS");
        AcquisitionUi::setCurrent(nullptr);
        SaneFixture::TearDown();
    }

    void useFake(const char* how)
    {
        qputenv("QUILLORA_SCANNER_HELPER", QUILLORA_FAKE_HELPER);
        qputenv("QUILLORA_FAKE_SCANNER", how);
    }
    void useReal() { qputenv("QUILLORA_SCANNER_HELPER", m_realHelper); }

    ScanJobResult run(ScannerLibrary& library)
    {
        return runScanJob(library, settings, pane, QStringLiteral("Unable to scan."));
    }
    QStringList filesIn(const QString& dir) const
    {
        return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    ScriptedDialogs dialogs;
    ScanJobSettings settings;
    ScanJobPane pane;
    QList<ScannedPage> pages;
    QString folder;
    int counter = 1;

private:
    QByteArray m_realHelper;
};

TEST_F(HelperFailureTest, FailingHelperEndsTheJobKeepsEarlierPagesAndIsReplaced)
{
    qputenv("QUILLORA_SCANNER_DEADLINE_MS", "1500");
    struct Case { const char* how; const char* text; };
    // "jam": the page ends jammed and the driver then hangs while it stops: the jam is what
    // the user has to clear, so it is what the report says.
    for (const Case c : {Case{"crash", kStopped}, Case{"hang", kHung}, Case{"garbage", kStopped},
                         Case{"jam", "Document feeder jammed"}}) {
        SCOPED_TRACE(c.how);
        folder = scratchDir() + u'/' + QLatin1String(c.how);
        ASSERT_TRUE(QDir().mkpath(folder));
        pages.clear();
        dialogs.messages.clear();
        counter = 1;
        SaneScannerLibrary library;

        useFake(c.how);
        settings.useFeeder = true;
        const ScanJobResult result = run(library);
        EXPECT_EQ(result.pages, 1);
        ASSERT_EQ(pages.size(), 1);
        EXPECT_EQ(filesIn(folder), QStringList({"Page1.png"}));
        const QImage first(folder + "/Page1.png");
        ASSERT_EQ(first.size(), QSize(120, 90));
        EXPECT_EQ(first.pixel(10, 80), qRgb(20, 160, 128)); // the fake's pattern, whole
        EXPECT_EQ(dialogs.texts(), QStringList({QStringLiteral("Unable to scan.\n") + c.text}));
        EXPECT_EQ(library.GetTwainState(), ScannerLibrary::StateManagerOpen);
        EXPECT_EQ(liveChildren(), 0); // killed and reaped

        useReal();
        settings.useFeeder = false;
        EXPECT_EQ(run(library).pages, 1);
        EXPECT_EQ(filesIn(folder), QStringList({"Page1.png", "Page2.png"}));
        EXPECT_EQ(dialogs.messages.size(), 1) << dialogs.texts().join('|').toStdString();
    }
}

TEST_F(HelperFailureTest, MissingHelperIsAnErrorAndTheNextScanWorks)
{
    folder = scratchDir();
    qputenv("QUILLORA_SCANNER_HELPER", QFile::encodeName(root() + "/no-such-helper"));
    SaneScannerLibrary library;
    EXPECT_EQ(library.BeginSourceList(), 0);
    EXPECT_EQ(library.LastErrorCode(), ScannerLibrary::DriverMissing);
    EXPECT_EQ(run(library).pages, 0);
    EXPECT_TRUE(filesIn(folder).isEmpty());
    EXPECT_EQ(dialogs.texts(),
              QStringList({"Unable to scan.\nThe scanner driver could not be started"}));

    useReal();
    EXPECT_EQ(run(library).pages, 1);
    EXPECT_EQ(filesIn(folder), QStringList({"Page1.png"}));
}

// A scanner that ends its page before the length it announced: the page whole in memory
// is as long as its rows; a page read through a window (whose file was begun with the
// announced length) keeps every row it sent and is white below them.
TEST_F(HelperFailureTest, PageShorterThanAnnouncedKeepsEveryRow)
{
    useFake("short");
    SaneScannerLibrary library;
    ASSERT_EQ(library.OpenSourceByName("Noname frontend-tester"), 1) << qPrintable(library.LastErrorText());
    library.SetHideUI(1);
    library.SetResolution(75);
    const QString dir = scratchDir();
    QString written;
    const ScannerLibrary::Handle whole = library.AcquireImageToFile(nullptr, dir + "/whole.png", {}, &written);
    ASSERT_NE(whole, 0u) << qPrintable(library.LastErrorText());
    EXPECT_EQ(library.image(whole).size(), QSize(120, 60));
    EXPECT_EQ(QImage(written).size(), QSize(120, 60));
    ASSERT_EQ(library.AcquireFile(nullptr, dir + "/window.png", {}, &written), 1) << qPrintable(library.LastErrorText());
    const QImage windowed(written);
    ASSERT_EQ(windowed.size(), QSize(120, 90));
    EXPECT_EQ(windowed.copy(0, 0, 120, 60).convertToFormat(QImage::Format_RGB888),
              QImage(dir + "/whole.png").convertToFormat(QImage::Format_RGB888));
    EXPECT_EQ(windowed.pixel(10, 59), qRgb(20, 118, 128)); // the fake's pattern
    EXPECT_EQ(windowed.pixel(10, 60), qRgb(255, 255, 255));
    EXPECT_EQ(windowed.pixel(119, 89), qRgb(255, 255, 255));
}

// A helper waiting since the listing that was ended meanwhile (say by the system, short of
// memory) is replaced without a word: the open and the scan work.
TEST_F(HelperFailureTest, IdleHelperThatDiedIsReplaced)
{
    folder = scratchDir();
    SaneScannerLibrary library;
    ASSERT_EQ(library.BeginSourceList(), 1);
    library.finishSourceList();
    QElapsedTimer clock;
    clock.start();
    while (helpersOf(getpid()) > 1 && clock.elapsed() < 3000)
        QThread::msleep(10); // the network listing's helper ends by itself
    ASSERT_EQ(helpersOf(getpid()), 1);
    killHelpersOf(getpid());
    EXPECT_EQ(run(library).pages, 1);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.texts().join('|').toStdString();
}

// A driver that hangs in the middle of a page: the progress window goes on painting, and
// its Cancel gets control back long before the page's own deadline would.
TEST_F(HelperFailureTest, CancelOfAHungPageReturnsSoon)
{
    WidgetAcquisitionUi ui;
    AcquisitionUi::setCurrent(&ui);
    qputenv("QUILLORA_SCANNER_DEADLINE_MS", "60000");
    useFake("hang");
    SaneScannerLibrary library;
    ASSERT_EQ(library.OpenSourceByName("Noname frontend-tester"), 1);
    library.SetUseFeeder(1);
    const ScannerLibrary::Handle first = library.AcquireImage(nullptr);
    ASSERT_NE(first, 0u);
    const QImage before = library.image(first).copy();

    bool cancelled = false;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible() && p->value() > 0
                                                             && !cancelled) {
                cancelled = true;
                p->findChild<QPushButton*>()->click();
            }
    });
    timer.start();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(library.AcquireImage(nullptr), 0u);
    EXPECT_TRUE(cancelled);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(library.LastErrorCode(), ScannerLibrary::DriverNotResponding);
    EXPECT_EQ(library.image(first), before); // the page taken before is whole
    EXPECT_EQ(liveChildren(), 0);
}

// A helper ends with the program that started it, even while a driver call blocks in the
// middle of a page and the program is killed; the helper the launcher started is the one
// the command-line program scans with.
TEST_F(HelperFailureTest, HelperEndsWithTheProgramThatStartedIt)
{
    writeTestConf(
        {QStringLiteral("read-delay true"), QStringLiteral("read-delay-duration 10000000")});
    QProcess quillora;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", configDir());
    env.insert("TEMP", tempDir());
    env.insert("HOME", root());
    quillora.setProcessEnvironment(env);
    quillora.start(QStringLiteral(QUILLORA_PROGRAM),
                   {"/resolution=300", "/mode=2", "/ext=png", "/path=" + scratchDir(), "/fname=p"});
    ASSERT_TRUE(quillora.waitForStarted());
    const qint64 pid = quillora.processId();
    QElapsedTimer clock;
    clock.start();
    while (helpersOf(pid) == 0 && clock.elapsed() < 20000)
        QThread::msleep(20);
    ASSERT_GT(helpersOf(pid), 0);
    QThread::msleep(500); // into the page, whose every buffer takes ten seconds
    // The one the launcher started is the one that scans: the program started no other.
    EXPECT_EQ(helpersOf(pid), 1);
    kill(pid_t(pid), SIGKILL);
    ASSERT_TRUE(quillora.waitForFinished());
    clock.restart();
    while (helpersOf(pid) > 0 && clock.elapsed() < 3000)
        QThread::msleep(20);
    EXPECT_EQ(helpersOf(pid), 0);
    EXPECT_TRUE(filesIn(scratchDir()).isEmpty());
}

} // namespace
