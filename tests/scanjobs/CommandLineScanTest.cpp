// SPDX-License-Identifier: GPL-3.0-or-later
#include "SaneFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// The program itself, started the way cron or an SSH session starts it: no display.
class CommandLineScanTest : public SaneFixture
{
protected:
    struct Run
    {
        int exitCode = -1;
        bool finished = false;
        QString out, err;
    };

    // display: the DISPLAY to give the program (none when empty); program: another copy of it
    // or another of its programs; extra: NAME=value pairs for its environment.
    Run quillora(const QStringList& arguments, const QString& display = {},
                 const QString& program = QStringLiteral(QUILLORA_PROGRAM),
                 const QStringList& extra = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        env.insert("XDG_CONFIG_HOME", configDir());
        env.insert("SANE_CONFIG_DIR", saneConfigDir());
        env.insert("TEMP", tempDir());
        env.insert("HOME", root());
        for (const QString& pair : extra)
            env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        Run run;
        // Nothing may wait for an answer: the scan ends on its own or the test fails.
        run.finished = process.waitForFinished(60000);
        if (!run.finished)
            process.kill();
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }

    QStringList pageArguments() const
    {
        return {"/resolution=150", "/mode=2", "/ext=png", "/path=" + scratchDir(), "/fname=Page"};
    }
};

TEST_F(CommandLineScanTest, WritesNumberedColourPagesAndExitsZero)
{
    writeTestConf({QStringLiteral("test-picture \"Color pattern\"")});

    const Run first = quillora(pageArguments());
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(first.exitCode, 0) << first.err.toStdString();
    const QImage page(scratchDir() + "/Page 1.png");
    EXPECT_EQ(page.size(), QSize(472, 590));
    EXPECT_FALSE(page.isGrayscale());
    EXPECT_TRUE(first.out.contains(scratchDir() + "/Page 1.png")) << first.out.toStdString();
    // Closing the window wrote the settings page's values, as every close does.
    EXPECT_TRUE(QSettings(settingsFile(), QSettings::IniFormat).contains("FilePrefix"));

    const Run second = quillora(pageArguments());
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_TRUE(QFile::exists(scratchDir() + "/Page 2.png"));
    EXPECT_EQ(QDir(scratchDir()).entryList(QDir::Files).size(), 2);
}

TEST_F(CommandLineScanTest, NoScannerReportsOnStandardErrorAndFails)
{
    QFile dll(saneConfigDir() + "/dll.conf");
    ASSERT_TRUE(dll.open(QIODevice::WriteOnly | QIODevice::Truncate)); // no backend at all
    dll.close();

    const Run run = quillora(pageArguments());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.err.contains("Unable to scan.")) << run.err.toStdString();
    EXPECT_TRUE(QDir(scratchDir()).entryList(QDir::Files).isEmpty());
}

// A negative resolution is a usage error, told on standard error before the scanner is
// touched; it used to scan at the device's default and end with success.
TEST_F(CommandLineScanTest, NegativeResolutionIsRefusedWithoutScanning)
{
    QStringList arguments = pageArguments();
    arguments[0] = "/resolution=-300";
    const Run run = quillora(arguments);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("the resolution must be a positive number")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Unable to scan.")) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_TRUE(QDir(scratchDir()).entryList(QDir::Files).isEmpty());
}

// A network host that never answers does not hold the scan up: nothing is remembered, or
// a local scanner is, so the local scanner is used without waiting for the network
// listing's deadline, and the network is not even asked (its listing used to run beside
// the page, a second helper taking the machine's time).
TEST_F(CommandLineScanTest, SilentNetworkHostDoesNotHoldUpTheScan)
{
    SilentSaneHost host(saneConfigDir());
    ASSERT_TRUE(host.listening());
    for (const char* remembered : {"", "Noname frontend-tester"}) {
        SCOPED_TRACE(remembered);
        QDir(scratchDir()).removeRecursively();
        QDir().mkpath(scratchDir());
        QSettings(settingsFile(), QSettings::IniFormat).setValue("Source", remembered);
        QElapsedTimer timer;
        timer.start();
        const Run run = quillora(pageArguments());
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(QFile::exists(scratchDir() + "/Page 1.png"));
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_EQ(host.connectionsTaken(), 0);
    }
    // Asked for, the network's scanners are listed, within the listing's deadline.
    qputenv("QUILLORA_SCANNER_DEADLINE_MS", "1500");
    const Run list = quillora({"--list-devices"});
    qunsetenv("QUILLORA_SCANNER_DEADLINE_MS");
    ASSERT_TRUE(list.finished);
    EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
    EXPECT_TRUE(list.out.startsWith("test:0\t")) << list.out.toStdString();
    EXPECT_GE(host.connectionsTaken(), 1);
}

// A stored value of the wrong kind stops the show sequence before the scan: the error is
// reported and no page is taken.
// Nothing is written back then either: the values the user stored stay as they were, where
// a closing window used to store its layout's defaults over them.
TEST_F(CommandLineScanTest, WrongTypedStoredValueStopsBeforeTheScan)
{
    {
        QSettings stored(settingsFile(), QSettings::IniFormat);
        stored.setValue("Resolution", "abc");
        stored.setValue("FilePrefix", "Mine_");
    }
    const Run run = quillora(pageArguments());
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.err.contains("Invalid data type for 'Resolution'")) << run.err.toStdString();
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(QDir(scratchDir()).entryList(QDir::Files).isEmpty());
    const QSettings after(settingsFile(), QSettings::IniFormat);
    EXPECT_EQ(after.value("Resolution").toString(), "abc");
    EXPECT_EQ(after.value("FilePrefix").toString(), "Mine_");
}

// A display that does not exist: an SSH session or tmux with a stale DISPLAY.
const QString kStaleDisplay = QStringLiteral(":87");

TEST_F(CommandLineScanTest, ScansWithAStaleDisplay)
{
    const Run run = quillora(pageArguments(), kStaleDisplay);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(QFile::exists(scratchDir() + "/Page 1.png"));
}

// What needs no scanner is answered at once, with or without a display, and the wizard
// without one says so in a line instead of aborting.
TEST_F(CommandLineScanTest, AnswersAndRefusalsWithoutADisplay)
{
    const struct
    {
        QStringList arguments;
        int exitCode;
        const char* out; // a text standard output holds
        const char* err; // a text standard error holds
    } cases[] = {
        {{"--help"}, 0, "--list-devices", ""},
        {{"--help"}, 0, "130 interrupted", ""},
        {{"--version"}, 0, "Quillora 1.17.0.0", ""},
        {{"--colour"}, 2, "", "unknown option --colour"},
        {{"/resolution=300", "--batch"}, 2, "", "add /adf"},
        {{}, 1, "", "to show the wizard on"},
        {{"/mode=2"}, 1, "", "to show the wizard on"}, // handed over by the command-line program
    };
    for (const auto& c : cases) {
        for (const QString& display : {QString(), kStaleDisplay}) {
            const Run run = quillora(c.arguments, display);
            const std::string what = c.arguments.join(' ').toStdString() + " DISPLAY=" + display.toStdString();
            ASSERT_TRUE(run.finished) << what;
            EXPECT_EQ(run.exitCode, c.exitCode) << what << ": " << run.err.toStdString();
            EXPECT_TRUE(run.out.contains(QLatin1String(c.out))) << what << ": " << run.out.toStdString();
            EXPECT_TRUE(run.err.contains(QLatin1String(c.err))) << what << ": " << run.err.toStdString();
            if (c.exitCode == 1) {
                EXPECT_EQ(run.err.count(u'\n'), 1) << what << ": " << run.err.toStdString();
            }
        }
    }
    EXPECT_TRUE(QDir(scratchDir()).entryList(QDir::Files).isEmpty());
}

// A scan from a script loads neither the window libraries nor a scanner driver, and the
// program the user starts loads no Qt library at all; a program it cannot find is told in a
// line.
TEST_F(CommandLineScanTest, ScansWithoutTheWindowLibrariesAndTellsAMissingProgram)
{
    const auto neededBy = [](const char* program) {
        QProcess readelf;
        readelf.start(QStringLiteral("readelf"), {"-d", QString::fromUtf8(program)});
        EXPECT_TRUE(readelf.waitForFinished(30000));
        return QString::fromLocal8Bit(readelf.readAllStandardOutput());
    };
    const QString launcher = neededBy(QUILLORA_PROGRAM);
    ASSERT_TRUE(launcher.contains(QLatin1String("libc.so"))) << launcher.toStdString();
    EXPECT_FALSE(launcher.contains(QLatin1String("libQt6"))) << launcher.toStdString();
    const QString commandLine = neededBy(QUILLORA_COMMAND_LINE_PROGRAM);
    ASSERT_TRUE(commandLine.contains(QLatin1String("libQt6Core"))) << commandLine.toStdString();
    for (const char* library : {"libQt6Widgets", "libQt6PrintSupport", "libQt6Network", "libsane"})
        EXPECT_FALSE(commandLine.contains(QLatin1String(library))) << library;

    // A copy of the launcher alone: no programs beside it, no install tree around it.
    const QString alone = scratchDir() + "/alone/quillora";
    ASSERT_TRUE(QDir().mkpath(scratchDir() + "/alone"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUILLORA_PROGRAM), alone));
    const struct
    {
        QStringList arguments;
        const char* missing;
    } cases[] = {{{}, "quillora-wizard"}, {pageArguments(), "quillora-cli"}};
    for (const auto& c : cases) {
        const Run run = quillora(c.arguments, kStaleDisplay, alone);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 1) << c.missing;
        EXPECT_TRUE(run.err.contains(QLatin1String("cannot start"))) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QLatin1String(c.missing))) << run.err.toStdString();
        EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
    }
    EXPECT_TRUE(QDir(scratchDir()).entryList(QDir::Files).isEmpty());

    // A started helper named by hand that is no helper of ours (standard output and init,
    // a closed descriptor, a process that is no child, garbage) is left alone: the command-line
    // program starts its own and scans.
    for (const char* value : {"1 1", "9 1", "0 0", "x"}) {
        const Run scan = quillora(pageArguments(), {}, QStringLiteral(QUILLORA_COMMAND_LINE_PROGRAM),
                                  {QStringLiteral("QUILLORA_STARTED_HELPER=") + value});
        ASSERT_TRUE(scan.finished) << value;
        EXPECT_EQ(scan.exitCode, 0) << value << ": " << scan.err.toStdString();
    }
    EXPECT_EQ(QDir(scratchDir()).entryList(QDir::Files).size(), 4);
}

// The launcher starts the scanner helper for a command line that may scan, and none for one
// that --help or --version answers. The "helper" here only notes that it was started.
TEST_F(CommandLineScanTest, HelperIsStartedOnlyForARunThatMayScan)
{
    const QString marker = scratchDir() + "/helper-started";
    const QString script = root() + "/noting-helper";
    {
        QFile file(script);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n: > \"$QUILLORA_TEST_MARKER\"\n");
    }
    ASSERT_TRUE(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const struct
    {
        QStringList arguments;
        bool started;
    } cases[] = {
        {{"--help"}, false},
        {{"/resolution=300", "--version"}, false},
        {{"--list-devices"}, true},
    };
    for (const auto& c : cases) {
        QFile::remove(marker);
        const Run run = quillora(c.arguments, {}, QStringLiteral(QUILLORA_PROGRAM),
                                 {"QUILLORA_SCANNER_HELPER=" + script, "QUILLORA_TEST_MARKER=" + marker});
        ASSERT_TRUE(run.finished);
        // A helper started runs on its own: it is given time to note it either way.
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(marker) && clock.elapsed() < (c.started ? 5000 : 500))
            QThread::msleep(10);
        EXPECT_EQ(QFile::exists(marker), c.started) << c.arguments.join(' ').toStdString();
    }
}

// The options for scripts against the test scanner, with a stale display as well.
TEST_F(CommandLineScanTest, DevicesAreListedAndChosenByName)
{
    for (const QString& display : {QString(), kStaleDisplay}) {
        const Run list = quillora({"--list-devices"}, display);
        ASSERT_TRUE(list.finished);
        EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
        EXPECT_EQ(list.out, "test:0\tNoname frontend-tester\ntest:1\tNoname frontend-tester\n");
    }
    const Run second = quillora(pageArguments() << "--device=test:1", kStaleDisplay);
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_TRUE(QFile::exists(scratchDir() + "/Page 1.png"));
    // The name is the one asked for: a device the backend does not have is no scanner.
    const Run missing = quillora(pageArguments() << "--device=test:7");
    EXPECT_EQ(missing.exitCode, 3) << missing.err.toStdString();
    // Both devices share their product name: only their SANE names tell them apart.
    const Run ambiguous = quillora(pageArguments() << "--device=Noname frontend-tester");
    EXPECT_EQ(ambiguous.exitCode, 2);
    EXPECT_TRUE(ambiguous.err.contains("test:0, test:1")) << ambiguous.err.toStdString();
    EXPECT_EQ(QDir(scratchDir()).entryList(QDir::Files).size(), 1);
}

TEST_F(CommandLineScanTest, FeederBatchesGoToFilesOrIntoOneDocument)
{
    QStringList batch = pageArguments();
    batch[0] = "/resolution=75";
    batch << "/adf" << "--batch";
    const Run pages = quillora(batch);
    ASSERT_TRUE(pages.finished);
    EXPECT_EQ(pages.exitCode, 0) << pages.err.toStdString();
    EXPECT_EQ(QDir(scratchDir()).entryList({"Page *.png"}, QDir::Files).size(), 10);
    EXPECT_EQ(pages.out.count(u'\n'), 10);

    for (const QString name : {"all.pdf", "all.tif"}) {
        const QString file = tempDir() + u'/' + name;
        const Run one = quillora(QStringList(batch) << "--output=" + file);
        ASSERT_TRUE(one.finished);
        EXPECT_EQ(one.exitCode, 0) << one.err.toStdString();
        EXPECT_EQ(one.out, file + u'\n');
        QProcess info;
        info.start(name.endsWith("pdf") ? "pdfinfo" : "tiffinfo", {file});
        ASSERT_TRUE(info.waitForFinished(30000));
        const QString text = QString::fromLocal8Bit(info.readAllStandardOutput());
        if (name.endsWith("pdf"))
            EXPECT_TRUE(text.contains(QRegularExpression("Pages:\\s+10\\n"))) << text.toStdString();
        else
            EXPECT_EQ(text.count("TIFF Directory at offset"), 10) << text.toStdString();

        // Never over an existing file: the same command again fails before scanning.
        const QByteArray before = [&] { QFile f(file); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        const Run again = quillora(QStringList(batch) << "--output=" + file);
        EXPECT_EQ(again.exitCode, 4) << again.err.toStdString();
        EXPECT_TRUE(again.err.contains("exists already")) << again.err.toStdString();
        QFile after(file);
        ASSERT_TRUE(after.open(QIODevice::ReadOnly));
        EXPECT_EQ(after.readAll(), before);
    }
}

// Ctrl+C in the middle of a slow page cancels it as the Cancel button does.
TEST_F(CommandLineScanTest, InterruptCancelsTheSlowPageAndLeavesNoFile)
{
    writeTestConf({QStringLiteral("read-delay true"), QStringLiteral("read-delay-duration 200000")});
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.insert("XDG_CONFIG_HOME", configDir());
    env.insert("SANE_CONFIG_DIR", saneConfigDir());
    env.insert("HOME", root());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUILLORA_PROGRAM), QStringList(pageArguments()) << "--progress");
    ASSERT_TRUE(process.waitForStarted());
    // Into the page: its first tenth has been reported.
    QElapsedTimer clock;
    clock.start();
    QByteArray err;
    while (!err.contains("page 1: ") && clock.elapsed() < 30000 && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        err += process.readAllStandardError();
    }
    ASSERT_TRUE(err.contains("page 1: ")) << err.constData();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_TRUE(QDir(scratchDir()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

} // namespace
