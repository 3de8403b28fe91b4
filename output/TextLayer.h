// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLineF>
#include <QList>
#include <QRect>
#include <QString>

// The words recognised on a page, for the invisible text of a searchable PDF page: each
// word with its box, line by line in reading order. Coordinates are the page's pixels.
struct TextWord
{
    QString text;
    QRect box;
};

struct TextLine
{
    QLineF baseline;   // where the line's letters stand; null when none was found
    QList<TextWord> words;
};

struct TextLayer
{
    QList<TextLine> lines;
    bool isEmpty() const { return lines.isEmpty(); }
};
