// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/StoredLangProperties.h"

#include "i18n/TCustomLangTable.h"
#include "i18n/TLangDispatcher.h"

#include <QFile>

QStringList storedLangNames()
{
    return {QStringLiteral("English"), QStringLiteral("Russian"), QStringLiteral("German")};
}

QStringList storedExcludedProperties()
{
    // "HelpKeyword" stands in the stored list twice.
    return {QStringLiteral("Category"),    QStringLiteral("SecondaryShortCuts"),
            QStringLiteral("HelpKeyword"), QStringLiteral("InitialDir"),
            QStringLiteral("HelpKeyword"), QStringLiteral("ActivePage"),
            QStringLiteral("ImeName"),     QStringLiteral("DefaultExt"),
            QStringLiteral("FileName"),    QStringLiteral("FieldName"),
            QStringLiteral("PickList"),    QStringLiteral("DisplayFormat"),
            QStringLiteral("EditMask"),    QStringLiteral("KeyList"),
            QStringLiteral("LookupDisplayFields"), QStringLiteral("DropDownSpecRow"),
            QStringLiteral("TableName"),   QStringLiteral("DatabaseName"),
            QStringLiteral("IndexName"),   QStringLiteral("MasterFields")};
}

QByteArray storedTranslationData(const QString& windowClassName)
{
    QFile file(QStringLiteral(":/i18n/%1.lng").arg(windowClassName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void loadStoredProperties(TLangDispatcher& dispatcher)
{
    dispatcher.beginLoading();
    dispatcher.setNumOfLanguages(3);
    dispatcher.setLangNames(storedLangNames());
    dispatcher.SetLanguage(QStringLiteral("English"));
    dispatcher.endLoading();
}

void loadStoredProperties(TCustomLangTable& table, TLangDispatcher* dispatcher,
                          QByteArrayView translationData)
{
    table.beginLoading();
    table.setNumOfLanguages(3);
    table.setLangDispatcher(dispatcher);
    table.setLangDelim(1);
    table.setLangNames(storedLangNames());
    table.setLanguage(QStringLiteral("English"));
    table.setExcludedProperties(storedExcludedProperties());
    table.ReadOurStrProps(translationData);
    table.Loaded();
}
