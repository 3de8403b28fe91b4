// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QString>

// The font a window was designed with, by pixel height. When the family is not installed
// the nearest narrow sans-serif face stands in, so that captions keep fitting their
// designed sizes.
QFont designFont(const QString& family, int pixelSize);
