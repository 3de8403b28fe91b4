// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>

// The 100 x 75 picture of a page in the images pane.

// Where a page of width x height lands on the thumbnail: its fitted size and top-left
// corner. Integer arithmetic, truncating; an offset may be negative, which cuts the
// fitted picture evenly at both edges.
struct ThumbnailPlacement
{
    QSize fitted;
    QPoint offset;
};
ThumbnailPlacement thumbnailPlacement(int width, int height);

// Loads the page's temporary copy, stretches it to the fitted size and draws it on white.
// A copy that cannot be read or a page without area gives the white thumbnail alone.
QImage MakeThumbnail(const QString& copyPath, int width, int height);

// The same from the page itself (the pixels its copy holds).
QImage makeThumbnail(const QImage& page, int width, int height);
