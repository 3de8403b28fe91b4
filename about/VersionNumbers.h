// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// A version as four numbers, 0 where the text gave none.
struct VersionNumbers
{
    qint32 a = 0;
    qint32 b = 0;
    qint32 c = 0;
    qint32 d = 0;
};

// The first four runs of the digits 0-9 in text, in order; everything between runs only
// separates them. A run too large for a 32-bit signed number is a failure (nullopt).
std::optional<VersionNumbers> ParseVersionNumbers(const QString& text);

// A × 1 000 000 + B × 10 000 + C × 100 + D in 32-bit signed arithmetic, wrapping around on
// overflow as the two's-complement machine word would. Versions compare by this key.
qint32 versionKey(const VersionNumbers& v);
