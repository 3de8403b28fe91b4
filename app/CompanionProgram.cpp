// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CompanionProgram.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString companionProgramPath(const QString& name)
{
    const QString exeDir =
        QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    const QString beside = exeDir + QLatin1Char('/') + name;
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QDir::cleanPath(exeDir + QStringLiteral("/../" QUILLORA_HELPER_LIBEXEC_SUBDIR "/") +
                           name);
}
