// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The "FileVersion" text of the version record of the file at path: the string table named
// by the record's first translation entry (language and code page as eight upper-case
// hexadecimal digits), cut to 254 characters. The empty text when the file cannot be read,
// carries no record, or the record has no translation entry or no such string.
QString ReadFileVersion(const QString& path);

// The same lookup of any string of the record (the bytes of one), by its exact name.
QString versionRecordString(const QByteArray& record, const QString& name);

// The bytes of the version record section of an ELF file (at most 64 KiB), or empty.
QByteArray readVersionRecordSection(const QString& path);
