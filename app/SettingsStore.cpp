// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SettingsStore.h"

#include "app/Error.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include <limits>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

QString quoted(const char* format, const QString& name)
{
    return QString::fromLatin1(format).arg(name);
}

// A whole number in the 32-bit range, written as INI text or held as a number.
bool toWholeNumber(const QVariant& value, int* number)
{
    bool ok = false;
    qlonglong wide = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        wide = value.toLongLong(&ok);
        break;
    case QMetaType::QString: {
        static const QRegularExpression whole(QStringLiteral("\\A[+-]?[0-9]+\\z"));
        const QString text = value.toString();
        if (whole.match(text).hasMatch())
            wide = text.toLongLong(&ok);
        break;
    }
    default:
        return false;
    }
    if (!ok || wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        return false;
    *number = int(wide);
    return true;
}

// QSettings reads its files as it is constructed. A FIFO under a settings file's name would
// block that read for ever, a device such as /dev/zero never end it, and a folder cannot hold
// values: any of them found where QSettings looks for the user's files makes the store
// unreadable before QSettings touches it.
bool settingsFilesAreRegular()
{
#ifdef Q_OS_WIN
    return true;   // the registry
#else
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    for (const QString& path : {folder + QStringLiteral("/Quillora/Quillora.conf"),
                                folder + QStringLiteral("/Quillora.conf")}) {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode))
            return false;
    }
    return true;
#endif
}

} // namespace

SettingsStore::SettingsStore()
{
    if (!settingsFilesAreRegular())
        return;   // unreadable: every access fails, and nothing is written
    m_settings = std::make_unique<QSettings>(QStringLiteral("Quillora"), QStringLiteral("Quillora"));
    // A store that could not be read (unreadable or not in the format) stays untouched:
    // writing it would replace the user's values with the few that were understood.
    // QSettings parses lazily and keeps a parsed file for the whole process, reporting a
    // failed parse only to the reader that ran it: parse everything now, and keep the
    // verdict until the file changes.
    struct Verdict
    {
        QString path;
        qint64 size = -1;
        QDateTime modified;
    };
    static Verdict unreadable;

    // The user's own store only: no system-wide or organisation-wide defaults behind it.
    m_settings->setFallbacksEnabled(false);
    m_settings->allKeys();
    const QFileInfo file(m_settings->fileName());
    bool readable = m_settings->status() != QSettings::FormatError;
    if (file.exists()) {
        QFile probe(file.filePath());
        readable = readable && probe.open(QIODevice::ReadOnly);
    }
    if (!readable)
        unreadable = {file.filePath(), file.size(), file.lastModified()};
    else if (unreadable.path == file.filePath() && unreadable.size == file.size()
             && unreadable.modified == file.lastModified())
        readable = false;
    m_readable = readable;
}

SettingsStore::~SettingsStore() = default;

void SettingsStore::failRead(const QString& name)
{
    throw QuilloraError(quoted("Failed to get data for '%1'", name));
}

void SettingsStore::failWrite(const QString& name)
{
    throw QuilloraError(quoted("Failed to set data for '%1'", name));
}

QVariant SettingsStore::storedValue(const QString& name) const
{
    if (!m_readable)
        failRead(name);
    return m_settings->value(name);
}

bool SettingsStore::valueExists(const QString& name) const
{
    if (!m_readable)
        failRead(name);
    return m_settings->contains(name);
}

QString SettingsStore::readString(const QString& name) const
{
    const QVariant value = storedValue(name);
    if (!value.isValid())
        return {};
    // A list or raw bytes is not a text, whatever it could be turned into.
    if (value.typeId() == QMetaType::QStringList || value.typeId() == QMetaType::QByteArray
        || !value.canConvert<QString>())
        throw QuilloraError(quoted("Invalid data type for '%1'", name));
    return value.toString();
}

int SettingsStore::readInteger(const QString& name) const
{
    const QVariant value = storedValue(name);
    if (!value.isValid())
        failRead(name);
    int number = 0;
    if (!toWholeNumber(value, &number))
        throw QuilloraError(quoted("Invalid data type for '%1'", name));
    return number;
}

bool SettingsStore::readBool(const QString& name) const { return readInteger(name) != 0; }

void SettingsStore::write(const QString& name, const QVariant& value)
{
    if (!m_readable)
        failWrite(name);
    const QVariant previous = m_settings->value(name);
    // What is stored already needs no writing: each write rewrites the file and waits for the
    // disk, and a command-line scan writes back the same values at every run.
    if (previous.isValid() == value.isValid()
        && (!value.isValid() || previous.toString() == value.toString()))
        return;
    if (value.isValid())
        m_settings->setValue(name, value);
    else
        m_settings->remove(name);
    // Written through at once, so a refused write is reported by the writer that made it.
    m_settings->sync();
    if (m_settings->status() == QSettings::NoError)
        return;
    // QSettings keeps a refused change and would show it to later readers as if it were
    // stored; put back what the file holds.
    if (previous.isValid())
        m_settings->setValue(name, previous);
    else
        m_settings->remove(name);
    failWrite(name);
}

void SettingsStore::writeString(const QString& name, const QString& value) { write(name, value); }

void SettingsStore::writeInteger(const QString& name, int value) { write(name, value); }

void SettingsStore::writeBool(const QString& name, bool value) { write(name, value ? 1 : 0); }

void SettingsStore::deleteValue(const QString& name) { write(name, QVariant()); }
