#include "app/SettingsStore.h"

#include "app/Error.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include <limits>

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

} // namespace

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QStringLiteral("Quillora"), QStringLiteral("Quillora")))
{
    // A store that could not be read (unreadable or not in the format) stays untouched:
    // writing it would replace the user's values with the few that were understood.
    m_readable = m_settings->status() == QSettings::NoError;
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

void SettingsStore::commit(const QString& name)
{
    // Written through at once, so a refused write is reported by the writer that made it.
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError)
        failWrite(name);
}

void SettingsStore::writeString(const QString& name, const QString& value)
{
    if (!m_readable)
        failWrite(name);
    m_settings->setValue(name, value);
    commit(name);
}

void SettingsStore::writeInteger(const QString& name, int value)
{
    if (!m_readable)
        failWrite(name);
    m_settings->setValue(name, value);
    commit(name);
}

void SettingsStore::writeBool(const QString& name, bool value) { writeInteger(name, value ? 1 : 0); }

void SettingsStore::deleteValue(const QString& name)
{
    if (!m_readable)
        failWrite(name);
    m_settings->remove(name);
    commit(name);
}
