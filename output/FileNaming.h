// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>

// Names of the page files a scan writes. The main window's naming operations read its
// controls at the moment of every call; here they are getters, so that a value the user
// changes while names are being tried is taken up for the next candidate.

// Where the names come from: the destination folder text (untrimmed, as typed), the prefix
// and the extension. Each is called again for every candidate path.
struct NamingInputs
{
    std::function<QString()> folderText;
    std::function<QString()> prefix;
    std::function<QString()> extension;
};

// The extension of a format list item: its first four characters, trimmed, lower-cased
// ("TIFF (*.tif)" gives "tiff", "JPG" gives "jpg").
QString FormatExtension(const QString& formatText);

// The folder text with every character at or below the blank removed from both ends.
QString trimmedFolder(const QString& folderText);

// folder, separator, prefix, suffix, ".", extension. The separator is added even when the
// folder already ends with one.
QString outputPath(const QString& folder, const QString& prefix, const QString& suffix,
                   const QString& extension);
// The page's name as the images pane lists it: prefix, suffix, ".", extension.
QString outputCaption(const QString& prefix, const QString& suffix, const QString& extension);

// True when something other than a folder is in the way under path (a file, a link).
bool fileTaken(const QString& path);

// The date/time suffix: the locale's short date, and when the time of day is not 00:00:00
// a blank and its long time format without a time-zone part; ":" and "/" become "-".
QString DateTimeSuffix(const QDateTime& now, const QLocale& locale);

// The clock behind the date/time suffix; tests install a fixed one. nullptr restores the
// system clock.
using NamingClock = std::function<QDateTime()>;
void setNamingClock(NamingClock clock);
QDateTime namingNow();

// suffix itself when no file is named by it, else suffix + "_n" for the first free n >= 1.
// Only files in the output folder with exactly this extension count.
QString NextFreeSuffix(const QString& suffix, const NamingInputs& inputs);

// The command-line page's path: path, separator, fname, " ", counter, ".", ext, all taken
// as given. Raises counter while that path names an existing file.
QString commandLinePath(const QString& path, const QString& fname, int counter, const QString& ext);
QString NextFreeCommandLinePath(const QString& path, const QString& fname, const QString& ext,
                                int& counter);
