// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Expands the backslash escapes of a message text as C writes them: \" \' \? \\ \a \b
// \f \n \r \t \v, up to three octal digits, \x with one or two hex digits. A lone
// trailing backslash, "\x" without a hex digit and unknown escapes stay as written.
QByteArray ExpandEscapes(QByteArrayView text);
