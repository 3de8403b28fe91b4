// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPixmap>
#include <QSize>
#include <QSizeF>

class QPainter;

// The program's own pictures, drawn in code so that they scale cleanly and need no
// binary files: the scanner of the title band and the scanner list, the About button's
// icon, the command icons of the images pane and the About window's logo.
namespace Artwork {

// A flatbed scanner with its lid open, scaled proportionally into size, transparent around it.
QPixmap scanner(const QSize& size);

// The About button's 16 x 16 picture: a document in a speech bubble.
QPixmap aboutIcon();

// The 16 x 16 command icons of the images pane, by their place in the command image list.
enum Command {
    Blank = 0, Preview = 1, Rename = 2, Delete = 3, SavePdf = 4, SaveTiff = 5,
    RotateLeft = 6, RotateRight = 7, RotateHalf = 8
};
QPixmap commandIcon(Command command);

// The About window's logo: a quill over a scanned sheet, size x size.
QPixmap logo(int size);
// The same drawing on any paint device (the desktop icons are made from it, the scalable
// one included), fitted into size at the painter's origin.
void paintLogo(QPainter& painter, const QSizeF& size);

} // namespace Artwork
