// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/SourceOptions.h"

#include <QCoreApplication>

int SourceOptions::find(const QString& name)
{
    for (const SourceOption& o : options())
        if (o.name == name)
            return o.index;
    return -1;
}

QVariant SourceOptions::value(const QString& name)
{
    const int index = find(name);
    return index < 0 ? QVariant() : value(index);
}

bool SourceOptions::setValue(const QString& name, const QVariant& value, QString* error)
{
    const int index = find(name);
    if (index < 0) {
        if (error)
            *error =
                QCoreApplication::translate("ScannerLibrary", "The scanner has no option \"%1\"")
                    .arg(name);
        return false;
    }
    return setValue(index, value, nullptr, error);
}
