// SPDX-License-Identifier: GPL-3.0-or-later
#include "SystemFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

SystemFile::~SystemFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QString SystemFile::reasonOf(int errnum) { return QString::fromLocal8Bit(std::strerror(errnum)); }

bool SystemFile::create(const QString& path)
{
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return fail(errno);
    return QIODevice::open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

bool SystemFile::finish()
{
    if (m_fd < 0)
        return false;
    const int rc = ::close(m_fd);
    const int err = errno;
    m_fd = -1;
    QIODevice::close();
    // After EINTR the descriptor is gone and the data written.
    return rc == 0 || err == EINTR || fail(err);
}

bool SystemFile::fail(int errnum)
{
    m_errno = errnum;
    setErrorString(reasonOf(errnum));
    return false;
}

void SystemFile::close()
{
    finish();
}

bool SystemFile::seek(qint64 offset)
{
    if (m_fd < 0 || ::lseek(m_fd, off_t(offset), SEEK_SET) < 0)
        return false;
    return QIODevice::seek(offset);
}

qint64 SystemFile::readData(char*, qint64)
{
    return -1;
}

qint64 SystemFile::writeData(const char* data, qint64 size)
{
    qint64 written = 0;
    while (written < size) {
        const ssize_t n = ::write(m_fd, data + written, size_t(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A cut-short write is a failure: the caller cannot make up the rest.
            fail(n < 0 ? errno : ENOSPC);
            return -1;
        }
        written += n;
    }
    return written;
}
