#include "scanner/HeadlessScan.h"

#include "app/CommandLine.h"

#include <QString>
#include <QStringList>

bool prepareCommandLineScanWithoutDisplay(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (commandLineFromArguments(arguments).resolution == 0)
        return false;

    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform == "offscreen" || platform == "minimal")
        return true;
    if (!platform.isEmpty())
        return false; // a platform chosen on purpose is taken at its word
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}
