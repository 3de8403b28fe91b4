// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Files are finished under a temporary name in their target folder and then moved into
// place, so a failure half-way never leaves a truncated file under the real name.

// Creates an empty file with a fresh hidden name in the folder of `target` (mode 0666 less the
// umask, like any new file). Returns its path, or an empty string and *error. The file stays
// locked until it is moved into place or discarded; first, the temporary files in that folder
// that no running program holds (left by one that was killed while writing) are removed.
QString createTemporaryBeside(const QString& target, QString* error);

// The same, for a file written over a longer time (a page coded while it is scanned): until
// nameTemporary it has no name at all where the file system allows (a program killed while
// writing it leaves nothing), so it is written through *writePath. Returns the name it will
// get, which is also the name to show in error texts; on a file system without unnamed files
// the file has that name from the start and *writePath is that name.
QString createUnnamedTemporaryBeside(const QString& target, QString* writePath, QString* error);
// Gives a complete temporary of createUnnamedTemporaryBeside its name, or another hidden one
// should that be taken meanwhile: the name it has now, empty and *error when that failed.
QString nameTemporary(const QString& temporary, QString* error);

// Whether a file can be made beside `target` now: its folder exists, is a folder and takes a
// new file (one is made and removed again). Otherwise false and *error says why.
bool canCreateFileBeside(const QString& target, QString* error);

enum class MoveResult { Moved, TargetExists, Failed };

// Moves `from` onto `to` unless `to` exists (atomically, see renameNoReplace). `from` stays
// where it was unless Moved.
MoveResult moveWithoutReplacing(const QString& from, const QString& to, QString* error);

// Moves `from` onto `to`, replacing whatever is there.
bool moveReplacing(const QString& from, const QString& to, QString* error);

// Removes a temporary file that will not be used; errors are of no interest then.
void discardTemporary(const QString& path);

// "<what> <path>: <reason of errno>"
QString systemErrorText(const QString& what, const QString& path, int errnum);
