// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StartUp.h"

#include "about/FileVersion.h"
#include "app/CompanionProgram.h"
#include "scanner/CommandLineRun.h"
#include "scanner/SaneScannerLibrary.h"
#include "scanner/ScannerHelper.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

// Set when the wizard's platform list ends in our windowless fallback.
bool g_fallbackAdded = false;
QtMessageHandler g_previousHandler = nullptr;

void printTo(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// Qt's own complaints while it tries a display that cannot be opened (and sets up the
// windowless platform instead): the one line of ours says it better.
void quietPlatformHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)
        return;
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

void sayNoDisplay(const QByteArray& display)
{
    printTo(stderr, display.isEmpty()
                        ? QStringLiteral("quillora: no display to show the wizard on (DISPLAY is not set); "
                                         "scan without one with /resolution=<dpi>, see --help\n")
                        : QStringLiteral("quillora: cannot open the display %1 to show the wizard on; "
                                         "scan without one with /resolution=<dpi>, see --help\n")
                              .arg(QString::fromLocal8Bit(display)));
}

} // namespace

ParsedCommandLine commandLineOfProcess(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return fullCommandLineFromArguments(arguments);
}

std::optional<int> answerBeforeStart(const ParsedCommandLine& commandLine)
{
    const ScriptOptions& script = commandLine.script;
    if (!script.usageErrors.isEmpty()) {
        QString text;
        for (const QString& error : script.usageErrors)
            text += QStringLiteral("quillora: %1\n").arg(error);
        text += QStringLiteral("Try 'quillora --help' for the options.\n");
        printTo(stderr, text);
        return ExitUsage;
    }
    if (script.help) {
        printTo(stdout, usageText(QStringLiteral("quillora")));
        return ExitWritten;
    }
    if (script.version) {
        // The same record the About window reads, from the file this process runs.
        printTo(stdout, QStringLiteral("Quillora %1\n").arg(ReadFileVersion(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")))));
        return ExitWritten;
    }
    if (!commandLine.needsNoWindow() && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")
        && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        sayNoDisplay({});
        return ExitFailure;
    }
    return std::nullopt;
}

int runWithoutWindows(int argc, char** argv, const ParsedCommandLine& commandLine)
{
    // The scanner helper first: SANE starts in it while this process sets itself up and
    // reads the settings.
    std::unique_ptr<ScannerHelper> helper = ScannerHelper::start();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillora"));
    QCoreApplication::setOrganizationName(QStringLiteral("Quillora"));
    auto& library = dynamic_cast<SaneScannerLibrary&>(ScannerLibrary::instance());
    library.adoptHelper(std::move(helper));
    library.listNetworkOnDemand();
    const int code = commandLine.script.listDevices ? listDevicesForCommandLine(library)
                                                    : RunCommandLineScan(commandLine, library);
    ScannerLibrary::shutdown();
    return code;
}

std::optional<int> runUnlessWizard(int argc, char** argv)
{
    const ParsedCommandLine commandLine = commandLineOfProcess(argc, argv);
    if (const std::optional<int> answered = answerBeforeStart(commandLine))
        return answered;
    // A command-line scan runs without windows, whatever display there is or is not; its
    // messages go to standard error and nothing waits for an answer.
    if (commandLine.needsNoWindow())
        return runWithoutWindows(argc, argv, commandLine);
    return std::nullopt;
}

int startWizardProgram(char** argv)
{
    // The helper the launcher started is for a scan; the wizard starts its own.
    ScannerHelper::discardStartedHelper();
    const std::string path = companionProgramPath(QUILLORA_WIZARD_NAME);
    // argv[0] stays the user's: window systems take the program's name from it.
    execv(path.c_str(), argv);
    const int error = errno;
    printTo(stderr, QStringLiteral("quillora: cannot start %1: %2\n")
                        .arg(QFile::decodeName(path.c_str()), QString::fromLocal8Bit(std::strerror(error))));
    return ExitFailure;
}

void chooseWindowSystemForWizard()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return; // a platform chosen on purpose is taken at its word
    qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
                                   ? QByteArray("xcb;offscreen")
                                   : QByteArray("wayland;xcb;offscreen"));
    g_fallbackAdded = true;
    g_previousHandler = qInstallMessageHandler(quietPlatformHandler);
}

bool wizardLacksDisplay(const QGuiApplication& app)
{
    if (!g_fallbackAdded)
        return false;
    qInstallMessageHandler(g_previousHandler);
    // Children of this process (a browser opened from the About window) get the user's
    // own setting back.
    qunsetenv("QT_QPA_PLATFORM");
    if (app.platformName() != QLatin1String("offscreen"))
        return false;
    sayNoDisplay(qgetenv("DISPLAY"));
    return true;
}
