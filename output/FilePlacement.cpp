#include "FilePlacement.h"

#include "RenameNoReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray nativePath(const QString& path) { return QFile::encodeName(path); }

} // namespace

QString systemErrorText(const QString& what, const QString& path, int errnum)
{
    return QStringLiteral("%1 %2: %3")
        .arg(what, QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errnum)));
}

QString createTemporaryBeside(const QString& target, QString* error)
{
    const QString folder = QFileInfo(target).absolutePath();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = folder + QStringLiteral("/.quillora-%1.part")
                                              .arg(QRandomGenerator::global()->generate64(), 16, 16,
                                                   QLatin1Char('0'));
        const int fd = ::open(nativePath(candidate).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) {
            if (error)
                *error = systemErrorText(QStringLiteral("Cannot create a file in"), folder, errno);
            return {};
        }
    }
    if (error)
        *error = systemErrorText(QStringLiteral("Cannot create a file in"), folder, EEXIST);
    return {};
}

bool canCreateFileBeside(const QString& target, QString* error)
{
    const QString probe = createTemporaryBeside(target, error);
    discardTemporary(probe);
    return !probe.isEmpty();
}

MoveResult moveWithoutReplacing(const QString& from, const QString& to, QString* error)
{
    QString reason;
    if (renameNoReplace(from, to, &reason))
        return MoveResult::Moved;
    struct stat st;
    if (::lstat(nativePath(to).constData(), &st) == 0)
        return MoveResult::TargetExists;
    if (error)
        *error = QStringLiteral("Cannot create %1: %2").arg(QDir::toNativeSeparators(to), reason);
    return MoveResult::Failed;
}

bool moveReplacing(const QString& from, const QString& to, QString* error)
{
    if (::rename(nativePath(from).constData(), nativePath(to).constData()) == 0)
        return true;
    if (error)
        *error = systemErrorText(QStringLiteral("Cannot create"), to, errno);
    return false;
}

void discardTemporary(const QString& path)
{
    if (!path.isEmpty())
        ::unlink(nativePath(path).constData());
}
