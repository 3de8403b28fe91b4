// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/RenameNoReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
bool fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

bool failErrno(QString* error, int code)
{
    return fail(error, QString::fromLocal8Bit(std::strerror(code)));
}

// File systems without hard links (FAT, some network shares): claim the name with an
// exclusive create, then move the file over our own placeholder.
bool renameOverPlaceholder(const QByteArray& from, const QByteArray& to, QString* error)
{
    const int fd = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return failErrno(error, errno);
    ::close(fd);
    if (std::rename(from.constData(), to.constData()) != 0) {
        const int code = errno;
        ::unlink(to.constData());
        return failErrno(error, code);
    }
    return true;
}
} // namespace

bool renameNoReplace(const QString& from, const QString& to, QString* error)
{
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return failErrno(error, errno);

    // The file system cannot rename without replacing: a hard link fails on a taken name.
    if (::link(src.constData(), dst.constData()) == 0) {
        if (::unlink(src.constData()) != 0) {
            const int code = errno;
            ::unlink(dst.constData());
            return failErrno(error, code);
        }
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return failErrno(error, errno);
    if (!QFileInfo::exists(from))
        return failErrno(error, ENOENT);
    return renameOverPlaceholder(src, dst, error);
}

bool renameInFolder(const QString& folder, const QString& oldName, const QString& newName,
                    QString* error)
{
    if (newName.isEmpty() || newName == QLatin1String(".") || newName == QLatin1String("..")
        || newName.contains(QLatin1Char('/')) || newName.contains(QDir::separator())
        || newName.contains(QChar(0)))
        return fail(error, QStringLiteral("Not a file name: %1").arg(newName));
    const QString sep = QDir::separator();
    return renameNoReplace(folder + sep + oldName, folder + sep + newName, error);
}
