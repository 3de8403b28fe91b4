// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/LangTableFormat.h"

namespace {

constexpr std::array<const char*, kHeaderCount> kHeaders = {
    "stCaptions",     "stHints",   "stDisplayLabels", "stFonts",
    "stMultiLines",   "stDlgsCaptions", "stStrings",  "stOtherStrings",
    "stLocales",      "stCollections",  "stCharSets", "stListView_TreeView_Items",
};

} // namespace

QByteArray sectionHeader(int type)
{
    return QByteArray(kHeaders.at(static_cast<std::size_t>(type)));
}

QByteArray ExtractTranslation(QByteArrayView row, char delimiter, int n)
{
    if (row.isEmpty() || n < 0)
        return {};
    if (n == 0) {
        const qsizetype end = row.indexOf(delimiter, 1);
        return (end < 0 ? row : row.first(end)).toByteArray();
    }
    qsizetype pos = -1;
    for (int i = 0; i < n; ++i) {
        pos = row.indexOf(delimiter, pos + 1);
        if (pos < 0)
            return {};
    }
    const qsizetype start = pos + 1;
    const qsizetype end = row.indexOf(delimiter, start);
    return row.sliced(start, (end < 0 ? row.size() : end) - start).toByteArray();
}

QByteArray WriteOurStrProps(const SectionLists& sections)
{
    QByteArray out;
    for (int type = 0; type < kKeptSectionCount; ++type) {
        out.append(sectionHeader(type)).append("\r\n");
        for (QByteArray row : sections[static_cast<std::size_t>(type)]) {
            row.replace('\r', kStoredCR).replace('\n', kStoredLF);
            out.append(row).append("\r\n");
        }
    }
    return out;
}
