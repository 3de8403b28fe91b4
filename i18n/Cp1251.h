// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The translation tables are code page 1251 text. Qt 6 has no converter of its own for
// it (only through ICU, which a build may lack), so the mapping is ours: a table of the
// 128 upper bytes. Byte 0x98, unassigned in the code page, maps to U+0098 so that every
// byte survives a round trip.
QString decodeCp1251(QByteArrayView bytes);

// The reverse mapping. A character the code page lacks makes *ok false (when given) and
// is written as '?'.
QByteArray encodeCp1251(QStringView text, bool* ok = nullptr);
