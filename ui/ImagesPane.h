// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <Qt>

class QListWidgetItem;
class QString;

// A pane entry keeps the full path of its page's temporary copy under this role; its text
// is the output file's name.
inline constexpr int CopyPathRole = Qt::UserRole;
// ... and the index of its thumbnail in the window's thumbnail list, where it has one.
inline constexpr int ThumbnailIndexRole = Qt::UserRole + 1;

QString entryCopyPath(const QListWidgetItem* entry);

// What tells the two multipage exports apart: their save dialog and their message.
struct MultipageCommand
{
    const char* dialogTitle;
    const char* filter;
    const char* defaultSuffix;
    const char* successKey;
};
