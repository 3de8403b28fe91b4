// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/CommaText.h"

namespace {

bool isBlank(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x01 && b <= 0x20;
}

} // namespace

QList<QByteArray> readCommaText(QByteArrayView text)
{
    // A NUL byte ends the text, as it ends the cell it came from.
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text = text.first(nul);

    QList<QByteArray> items;
    const qsizetype n = text.size();
    qsizetype p = 0;
    auto skipBlanks = [&] {
        while (p < n && isBlank(text[p]))
            ++p;
    };

    skipBlanks();
    while (p < n) {
        QByteArray item;
        if (text[p] == '"') {
            ++p;
            while (p < n) {
                if (text[p] == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        item.append('"');
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item.append(text[p++]);
            }
        } else {
            const qsizetype start = p;
            while (p < n && static_cast<unsigned char>(text[p]) > 0x20 && text[p] != ',')
                ++p;
            item = text.sliced(start, p - start).toByteArray();
        }
        items.append(item);
        skipBlanks();
        if (p < n && text[p] == ',') {
            if (p + 1 == n)
                items.append(QByteArray());
            ++p;
            skipBlanks();
        }
    }
    return items;
}

QByteArray writeCommaText(const QList<QByteArray>& items)
{
    if (items.size() == 1 && items.front().isEmpty())
        return QByteArrayLiteral("\"\"");

    QByteArray text;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QByteArray& item = items[i];
        bool quote = false;
        for (const char c : item) {
            if (c == '\0')
                break;
            if (c == '"' || c == ',' || isBlank(c)) {
                quote = true;
                break;
            }
        }
        if (i > 0)
            text.append(',');
        if (quote) {
            QByteArray quoted = item;
            quoted.replace('"', QByteArrayLiteral("\"\""));
            text.append('"').append(quoted).append('"');
        } else {
            text.append(item);
        }
    }
    return text;
}
