// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// One option of an open source as the device describes it, in terms that need no
// scanner headers: what the source dialog builds its controls from.
struct SourceOption
{
    enum Type { Bool, Int, Fixed, String, Button, Group };
    enum Constraint { NoConstraint, Range, WordList, StringList };

    int index = 0;
    QString name;        // the device's option name ("mode", "resolution", ...)
    QString title;
    QString description;
    Type type = Int;
    QString unit;        // "dpi", "mm", "%", ... or empty
    int size = 1;        // number of values (arrays have more than one)
    bool active = true;
    bool settable = true;
    Constraint constraint = NoConstraint;
    double minimum = 0, maximum = 0, quantum = 0; // Range (Fixed as real numbers)
    QList<double> words;                          // WordList
    QStringList strings;                          // StringList
};

// The options of the open source. Values are bool, int, double (Fixed) or QString; an
// array option reads and writes its first value.
class SourceOptions
{
public:
    virtual ~SourceOptions() = default;

    virtual QList<SourceOption> options() = 0;
    virtual QVariant value(int index) = 0;
    // Sets (or for a Button presses) an option. *reload tells that other options may have
    // changed (appearance or value) and should be read again. false + *error on failure.
    virtual bool setValue(int index, const QVariant& value, bool* reload, QString* error) = 0;

    // By name; -1 when the device has no such option.
    int find(const QString& name);
    QVariant value(const QString& name);
    bool setValue(const QString& name, const QVariant& value, QString* error = nullptr);
};
