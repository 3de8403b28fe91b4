// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/VersionNumbers.h"

#include <QRegularExpression>

std::optional<VersionNumbers> ParseVersionNumbers(const QString& text)
{
    // Without Unicode properties \d is the ASCII digits only.
    static const QRegularExpression run(QStringLiteral("(\\d+)"));
    VersionNumbers v;
    qint32* const fields[] = {&v.a, &v.b, &v.c, &v.d};
    auto it = run.globalMatch(text);
    for (qint32* field : fields) {
        if (!it.hasNext())
            break;
        bool ok = false;
        *field = it.next().capturedView(1).toInt(&ok, 10);
        if (!ok)
            return std::nullopt;
    }
    return v;
}

qint32 versionKey(const VersionNumbers& v)
{
    // Unsigned arithmetic wraps by definition; the conversion back is modular since C++20.
    const quint32 key = quint32(v.a) * 1000000u + quint32(v.b) * 10000u + quint32(v.c) * 100u
                        + quint32(v.d);
    return static_cast<qint32>(key);
}
