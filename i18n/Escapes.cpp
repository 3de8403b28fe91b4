// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/Escapes.h"

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isOctal(char c) { return c >= '0' && c <= '7'; }

} // namespace

QByteArray ExpandEscapes(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const char c = text[i];
        if (c != '\\' || i + 1 == n) {
            out.append(c);
            ++i;
            continue;
        }
        const char e = text[i + 1];
        i += 2;
        switch (e) {
        case '"': out.append('"'); break;
        case '\'': out.append('\''); break;
        case '?': out.append('?'); break;
        case '\\': out.append('\\'); break;
        case 'a': out.append('\a'); break;
        case 'b': out.append('\b'); break;
        case 'f': out.append('\f'); break;
        case 'n': out.append('\n'); break;
        case 'r': out.append('\r'); break;
        case 't': out.append('\t'); break;
        case 'v': out.append('\v'); break;
        case 'x': {
            const int first = i < n ? hexValue(text[i]) : -1;
            if (first < 0) {
                out.append("\\x");
                break;
            }
            int value = first;
            ++i;
            if (i < n && hexValue(text[i]) >= 0)
                value = value * 16 + hexValue(text[i++]);
            out.append(static_cast<char>(value));
            break;
        }
        default:
            if (isOctal(e)) {
                int value = e - '0';
                for (int digits = 1; digits < 3 && i < n && isOctal(text[i]); ++digits)
                    value = value * 8 + (text[i++] - '0');
                out.append(static_cast<char>(value & 0xFF));
            } else {
                out.append('\\').append(e);
            }
        }
    }
    return out;
}
