// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>

// The stored form of a window's translation table: 8-bit code page 1251 lines ended by
// CR LF; sections in type order, each a header line and its rows; a row is its key, then
// for each language the delimiter and the cell, closed by one more delimiter.
enum TSectionType {
    stCaptions = 0,
    stHints,
    stDisplayLabels,
    stFonts,
    stMultiLines,
    stDlgsCaptions,
    stStrings,
    stOtherStrings,
    stLocales,
    stCollections,
    stCharSets,
    stListView_TreeView_Items, // recognised when reading, never kept
};

// Sections the component keeps a list for (all but the tree/list items).
constexpr int kKeptSectionCount = 11;
constexpr int kHeaderCount = 12;

// "stCaptions" ... "stListView_TreeView_Items".
QByteArray sectionHeader(int type);

// A carriage return or line feed cannot stand in a line, so a cell stores them as these.
constexpr char kStoredCR = 0x19;
constexpr char kStoredLF = 0x1A;

using SectionLists = std::array<QList<QByteArray>, kKeptSectionCount>;

// Cell n of a row (n = 0 gives the key). A row with fewer than n delimiters has an empty
// cell n. The key's first byte always belongs to it, even when it is the delimiter.
QByteArray ExtractTranslation(QByteArrayView row, char delimiter, int n);

// Writes sections as a table is stored: each header plus CR LF, then each row with CR and
// LF turned into their stand-ins, plus CR LF.
QByteArray WriteOurStrProps(const SectionLists& sections);
