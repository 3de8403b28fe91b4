// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// A whole list of lines kept in one table cell, as comma text: items joined by commas,
// an item quoted (with inner quotes doubled) only when it holds a quote, a comma or a
// byte from 0x01 to 0x20. Reading skips bytes 0x01-0x20 around items and commas, so an
// unquoted item never holds a blank.
QList<QByteArray> readCommaText(QByteArrayView text);
QByteArray writeCommaText(const QList<QByteArray>& items);
