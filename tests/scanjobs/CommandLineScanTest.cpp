#include "SaneFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>

#include <gtest/gtest.h>

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

    // display: the DISPLAY to give the program (none when empty).
    Run quillora(const QStringList& arguments, const QString& display = {})
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
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(QUILLORA_PROGRAM), arguments);
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
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("Unable to scan.")) << run.err.toStdString();
    EXPECT_TRUE(QDir(scratchDir()).entryList(QDir::Files).isEmpty());
}

// A negative resolution is an error, told on standard error before the scanner is touched;
// it used to scan at the device's default and end with success.
TEST_F(CommandLineScanTest, NegativeResolutionIsRefusedWithoutScanning)
{
    QStringList arguments = pageArguments();
    arguments[0] = "/resolution=-300";
    const Run run = quillora(arguments);
    ASSERT_TRUE(run.finished);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.err.contains("The resolution -300 is not a number of dots per inch above zero"))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Unable to scan.")) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_TRUE(QDir(scratchDir()).entryList(QDir::Files).isEmpty());
}

// A network host that never answers does not hold the scan up: nothing is remembered, so
// the local scanner is used without waiting for the network listing's deadline.
TEST_F(CommandLineScanTest, SilentNetworkHostDoesNotHoldUpTheScan)
{
    SilentSaneHost host(saneConfigDir());
    ASSERT_TRUE(host.listening());
    QElapsedTimer timer;
    timer.start();
    const Run run = quillora(pageArguments());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(QFile::exists(scratchDir() + "/Page 1.png"));
    EXPECT_LT(timer.elapsed(), 5000);
}

// A stored value of the wrong kind stops the show sequence before the scan: the error is
// reported and no page is taken.
TEST_F(CommandLineScanTest, WrongTypedStoredValueStopsBeforeTheScan)
{
    QSettings(settingsFile(), QSettings::IniFormat).setValue("Resolution", "abc");

    const Run run = quillora(pageArguments());
    ASSERT_TRUE(run.finished);
    EXPECT_TRUE(run.err.contains("Invalid data type for 'Resolution'")) << run.err.toStdString();
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(QDir(scratchDir()).entryList(QDir::Files).isEmpty());
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
        {{"/resolution=-300"}, 2, "", "positive"},
        {{}, 1, "", "to show the wizard on"},
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

} // namespace
