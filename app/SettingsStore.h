// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <array>
#include <memory>

class QSettings;
class QVariant;

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

    // An unreadable store fails every access, valueExists included, so that its
    // values are never taken for missing ones; and it is never written over.
    bool valueExists(const QString& name) const;
    // Missing or empty gives the empty text.
    QString readString(const QString& name) const;
    // A missing value fails like an unreadable one: test valueExists first.
    int readInteger(const QString& name) const;
    // Any non-zero integer reads as true.
    bool readBool(const QString& name) const;

    void writeString(const QString& name, const QString& value);
    void writeInteger(const QString& name, int value);
    void writeBool(const QString& name, bool value);
    void deleteValue(const QString& name);

private:
    [[noreturn]] static void failRead(const QString& name);
    [[noreturn]] static void failWrite(const QString& name);
    QVariant storedValue(const QString& name) const;
    // Sets (or, given an invalid value, removes) one value and stores it at once.
    void write(const QString& name, const QVariant& value);

    std::unique_ptr<QSettings> m_settings;
    bool m_readable = false;
};

// Every value the program stores, with its kind and what a missing one stands for.
struct StoredValue
{
    enum Kind { Text, Integer, Flag };
    const char* name;
    Kind kind;
    int defaultNumber;       // Integer and Flag
    const char* defaultText; // Text
};

inline constexpr std::array<StoredValue, 14> storedValues{{
    {"Path", StoredValue::Text, 0, ""},
    {"Resolution", StoredValue::Integer, 1, nullptr},  // 100 dpi; -1 = none selected
    {"Lang", StoredValue::Text, 0, "English"},
    {"Format", StoredValue::Integer, -1, nullptr},     // no format selected
    {"Datenum", StoredValue::Flag, 0, nullptr},
    {"ADF", StoredValue::Flag, 0, nullptr},
    {"Color", StoredValue::Integer, 1, nullptr},       // gray
    {"FilePrefix", StoredValue::Text, 0, "Quillora_"},
    {"Source", StoredValue::Text, 0, ""},              // no remembered scanner
    {"HideUI", StoredValue::Flag, 0, nullptr},
    {"JPEGCompression", StoredValue::Integer, 75, nullptr},
    {"TIFFCompression", StoredValue::Integer, 0, nullptr}, // the scan job sets none when missing
    // Searchable PDF files: on or off, and the recognition language's Tesseract name
    // ("eng", "rus", "deu"; missing: the interface language's).
    {"SearchablePDF", StoredValue::Flag, 0, nullptr},
    {"OCRLanguage", StoredValue::Text, 0, ""},
}};
