// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

class TCustomLangTable;
class TLangDispatcher;

// What the windows store with their localization components, and the loading of it: the
// same property values for the dispatcher and for both windows' tables.

// "English", "Russian", "German".
QStringList storedLangNames();
// The property names the translation never touches (applied once, at load completion).
QStringList storedExcludedProperties();

// The stored translation table of a window, by its class name ("Tfrm_Main"); empty when
// the program carries none for it.
QByteArray storedTranslationData(const QString& windowClassName);

// Applies the dispatcher's stored properties: three languages, English active.
void loadStoredProperties(TLangDispatcher& dispatcher);

// Applies a table's stored properties in their stored order, reads the translation data
// and completes loading, which registers the table with the dispatcher (when given).
void loadStoredProperties(TCustomLangTable& table, TLangDispatcher* dispatcher,
                          QByteArrayView translationData);
