// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// Texts the program shows beyond those of the windows' translation tables (driver
// failures, accessible names, commands of our own), in the three interface languages.
// The language is the one the shared dispatcher has active; English when none is
// published or the language has no text of its own.
//
// Keys are plain words ("scanner.driverHung"); an unknown key gives the key itself, so a
// missing row shows up on screen instead of an empty box.
QString ownText(const char* key);

// The text of key in language n (1 English, 2 Russian, 3 German), English as fallback.
QString ownText(const char* key, int language);

// Every key of the table, in its order (for the check that each has all its languages).
QStringList ownTextKeys();
