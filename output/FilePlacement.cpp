// SPDX-License-Identifier: GPL-3.0-or-later
#include "FilePlacement.h"

#include "RenameNoReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray nativePath(const QString& path) { return QFile::encodeName(path); }

// Our temporary files are locked (flock) for as long as they are being written, so that a
// file left by a program that was killed half-way can be told from one still in use: the
// lock goes with the process. The descriptors holding the locks, by path.
QMutex s_lockMutex;
QHash<QString, int> s_locks;
QSet<QString> s_unnamed;   // locked files that do not have their name yet

void holdLock(const QString& path, int fd)
{
    const QMutexLocker locker(&s_lockMutex);
    s_locks.insert(path, fd);
}

void releaseLock(const QString& path)
{
    const QMutexLocker locker(&s_lockMutex);
    const auto it = s_locks.find(path);
    if (it == s_locks.end())
        return;
    ::close(it.value());
    s_locks.erase(it);
    s_unnamed.remove(path);
}

QString freshPartName(const QString& folder)
{
    return folder + QStringLiteral("/.quillora-%1.part")
                        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
}

bool isPartFileName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("\\A\\.quillora-[0-9a-f]{16}\\.part\\z"));
    return pattern.match(name).hasMatch();
}

// Removes the part files in `folder` that no running Quillora holds: ours by their name,
// plain files only, each removed while we hold its lock so that nobody can be writing it.
void removeAbandonedPartFiles(const QString& folder)
{
    QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral(".quillora-*.part")},
                                            QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString& name : names) {
        if (!isPartFileName(name))
            continue;
        const QByteArray path = nativePath(dir.filePath(name));
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat held, named;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode)
            && ::lstat(path.constData(), &named) == 0 && named.st_ino == held.st_ino
            && named.st_dev == held.st_dev)
            ::unlink(path.constData());
        ::close(fd);
    }
}

} // namespace

QString systemErrorText(const QString& what, const QString& path, int errnum)
{
    return QStringLiteral("%1 %2: %3")
        .arg(what, QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errnum)));
}

QString createTemporaryBeside(const QString& target, QString* error)
{
    const QString folder = QFileInfo(target).absolutePath();
    removeAbandonedPartFiles(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = freshPartName(folder);
        const QByteArray native = nativePath(candidate);
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Another program's clean-up may have found the file between its making and the
            // lock: it removes only what it holds locked, so the file is ours once locked and
            // still under its name; otherwise take another name.
            struct stat held, named;
            if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &held) == 0
                && ::lstat(native.constData(), &named) == 0 && named.st_ino == held.st_ino
                && named.st_dev == held.st_dev) {
                holdLock(candidate, fd);
                return candidate;
            }
            ::close(fd);
            continue;
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

QString createUnnamedTemporaryBeside(const QString& target, QString* writePath, QString* error)
{
    const QString folder = QFileInfo(target).absolutePath();
#ifdef O_TMPFILE
    const int fd = ::open(nativePath(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0) {
        // Locked like a named one, so that it is not taken for abandoned once it has a name.
        if (::flock(fd, LOCK_EX) == 0) {
            const QString name = freshPartName(folder);
            {
                const QMutexLocker locker(&s_lockMutex);
                s_locks.insert(name, fd);
                s_unnamed.insert(name);
            }
            *writePath = QStringLiteral("/proc/self/fd/%1").arg(fd);
            return name;
        }
        ::close(fd);
    }
    // EOPNOTSUPP, EISDIR (an old kernel): a named file; anything else shows again there.
#endif
    const QString name = createTemporaryBeside(target, error);
    *writePath = name;
    return name;
}

QString nameTemporary(const QString& temporary, QString* error)
{
    int fd = -1;
    {
        const QMutexLocker locker(&s_lockMutex);
        if (!s_unnamed.contains(temporary))
            return temporary;
        fd = s_locks.value(temporary, -1);
    }
    const QByteArray from = QStringLiteral("/proc/self/fd/%1").arg(fd).toLatin1();
    QString name = temporary;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::linkat(AT_FDCWD, from.constData(), AT_FDCWD, nativePath(name).constData(),
                     AT_SYMLINK_FOLLOW) == 0) {
            const QMutexLocker locker(&s_lockMutex);
            s_locks.remove(temporary);
            s_unnamed.remove(temporary);
            s_locks.insert(name, fd);
            return name;
        }
        if (errno != EEXIST)
            break;
        name = freshPartName(QFileInfo(temporary).absolutePath());
    }
    if (error)
        *error = systemErrorText(QStringLiteral("Cannot create"), temporary, errno);
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
    if (renameNoReplace(from, to, &reason)) {
        releaseLock(from);
        return MoveResult::Moved;
    }
    struct stat st;
    if (::lstat(nativePath(to).constData(), &st) == 0)
        return MoveResult::TargetExists;
    if (error)
        *error = QStringLiteral("Cannot create %1: %2").arg(QDir::toNativeSeparators(to), reason);
    return MoveResult::Failed;
}

bool moveReplacing(const QString& from, const QString& to, QString* error)
{
    if (::rename(nativePath(from).constData(), nativePath(to).constData()) == 0) {
        releaseLock(from);
        return true;
    }
    if (error)
        *error = systemErrorText(QStringLiteral("Cannot create"), to, errno);
    return false;
}

void discardTemporary(const QString& path)
{
    if (path.isEmpty())
        return;
    bool unnamed = false;
    {
        const QMutexLocker locker(&s_lockMutex);
        unnamed = s_unnamed.contains(path);
    }
    if (!unnamed)   // an unnamed one goes with its descriptor; the name is not ours yet
        ::unlink(nativePath(path).constData());
    releaseLock(path);
}
