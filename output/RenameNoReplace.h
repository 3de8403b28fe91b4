// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Renames the file `from` to `to` without ever replacing an existing file: when `to` is
// taken (by another file, or by the name being created meanwhile) nothing changes.
// A rename that differs only in letter case works wherever the file system tells the two
// names apart. false + *error (the system's reason) when the file system refuses.
bool renameNoReplace(const QString& from, const QString& to, QString* error = nullptr);

// Renames the file `oldName` in `folder` to `newName` in the same folder, never replacing
// an existing file. A new name that is not a plain file name (empty, "." or "..", holding a
// path separator or a NUL character) is refused: it would move the file out of its folder
// or name another file than the one typed.
bool renameInFolder(const QString& folder, const QString& oldName, const QString& newName,
                    QString* error = nullptr);
