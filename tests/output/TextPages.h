// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

// Pages of running text as a scanner delivers them, for the text recognition tests and the
// benchmark: 300 dpi, gray, set in a font that has Latin and Cyrillic letters, turned a
// little and with some noise.

struct PrintedWord
{
    QString text;
    QRectF box;   // where it was printed, in the page's pixels (after the turn)
};

struct TextPage
{
    QImage image;
    QList<PrintedWord> words;   // in reading order
};

// `count` words of ordinary text in "eng", "rus" or "deu", the same for the same seed.
QStringList sampleWords(const QString& language, int count, unsigned seed);

// An A4 page at 300 dpi with the words set line by line, turned by `degrees` (clockwise)
// about its centre, with noise.
TextPage renderTextPage(const QStringList& words, double degrees, unsigned seed);
