#pragma once

#include <QString>

#include <memory>

class QSettings;

// One access point to the settings store: opened (created when missing) on construction,
// released on destruction. Nothing is cached between access points. Values are typed as
// the store defines them (text, integer, flag); a value of the wrong kind stops the read
// with QuilloraError("Invalid data type for '<name>'"), an unreadable store with
// "Failed to get data for '<name>'", a refused write with "Failed to set data for '<name>'".
class SettingsStore
{
public:
    SettingsStore();
    ~SettingsStore();
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    bool valueExists(const QString& name) const;
    // Missing or empty gives the empty text.
    QString readString(const QString& name) const;
    int readInteger(const QString& name) const;
    // Any non-zero integer reads as true.
    bool readBool(const QString& name) const;

    void writeString(const QString& name, const QString& value);
    void writeInteger(const QString& name, int value);
    void writeBool(const QString& name, bool value);
    void deleteValue(const QString& name);

private:
    std::unique_ptr<QSettings> m_settings;
};
