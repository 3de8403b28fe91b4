// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DesignFont.h"

#include <QFontInfo>
#include <QStringList>

QFont designFont(const QString& family, int pixelSize)
{
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    if (QFontInfo(font).family().compare(family, Qt::CaseInsensitive) != 0) {
        // The usual stand-ins are wider than the classic desktop faces the windows were
        // laid out with; a condensed face keeps the captions inside their controls.
        font.setFamilies({family, QStringLiteral("Tahoma"), QStringLiteral("Verdana"),
                          QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
        font.setStretch(QFont::Condensed);
    }
    return font;
}
