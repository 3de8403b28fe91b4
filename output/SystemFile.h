// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIODevice>
#include <QString>

// A file written straight through the system's calls, keeping the system's reason for every
// failure. QFile reports a write that the disk cut short (a full disk) as written in part with
// no error, so its callers could only say "Unknown error"; here a short write fails with the
// reason ("No space left on device"). Unbuffered: the encoders write in large blocks.
class SystemFile : public QIODevice
{
public:
    SystemFile() = default;
    ~SystemFile() override;

    // Creates or empties the file for writing.
    bool create(const QString& path);
    // Closes the file; false (and the reason in errorString()) when the system refused it.
    bool finish();

    bool seek(qint64 offset) override;
    void close() override;

    // The error number of the last failure, 0 when nothing failed.
    int lastError() const { return m_errno; }

    // The system's text for an error number.
    static QString reasonOf(int errnum);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool fail(int errnum);

    int m_fd = -1;
    int m_errno = 0;
};
