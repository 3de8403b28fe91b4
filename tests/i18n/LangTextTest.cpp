// SPDX-License-Identifier: GPL-3.0-or-later
// The text rules under the tables: escapes, comma text, the code page.
#include "i18n/CommaText.h"
#include "i18n/Cp1251.h"
#include "i18n/Escapes.h"
#include "i18n/OwnTexts.h"

#include <QSet>
#include <QStringDecoder>

#include <gtest/gtest.h>

TEST(ExpandEscapes, Table)
{
    const struct {
        QByteArray in, out;
    } cases[] = {
        {"a\\\\b", "a\\b"},
        {"100\\%", "100\\%"},
        {"\\x41", "A"},
        {"\\x7", "\x07"},
        {"\\x7g", "\x07g"},
        {"\\x414", "A4"},
        {"\\xG", "\\xG"},
        {"end\\x", "end\\x"},
        {"\\101", "A"},
        {"\\1012", "A2"},
        {"\\0", QByteArray("\0", 1)},
        {"\\777", "\xFF"},
        {"\\8", "\\8"},
        {"tail\\", "tail\\"},
        {"\\\"\\'\\?", "\"'?"},
        {"\\a\\b\\f\\n\\r\\t\\v", "\a\b\f\n\r\t\v"},
        {"\\N\\q", "\\N\\q"},
        {"line one. \\nline two", "line one. \nline two"},
        {"\xC0\\n\xFF", "\xC0\n\xFF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExpandEscapes(c.in), c.out) << c.in.constData();
}

TEST(CommaText, Reading)
{
    using L = QList<QByteArray>;
    const struct {
        QByteArray in;
        L out;
    } cases[] = {
        {"Black&white,Gray,Color", {"Black&white", "Gray", "Color"}},
        {"\"BMP (Windows Bitmap)\",\"JPG (JPEG)\"", {"BMP (Windows Bitmap)", "JPG (JPEG)"}},
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},
        {"a b", {"a", "b"}},
        {"  \t a , b ", {"a", "b"}},
        {"\"say \"\"hi\"\"\",x", {"say \"hi\"", "x"}},
        {"\"open", {"open"}},
        {"\"\"", {""}},
        {"", {}},
        {"   ", {}},
        {",", {"", ""}},
        {"\xD1\xE5\xF0\xFB\xE9,x", {"\xD1\xE5\xF0\xFB\xE9", "x"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readCommaText(c.in), c.out) << c.in.constData();
}

TEST(CommaText, Writing)
{
    using L = QList<QByteArray>;
    const struct {
        L in;
        QByteArray out;
    } cases[] = {
        {{"75", "100"}, "75,100"},
        {{"BMP (Windows Bitmap)"}, "\"BMP (Windows Bitmap)\""},
        {{"a,b", "say \"hi\"", "tab\there"}, "\"a,b\",\"say \"\"hi\"\"\",\"tab\there\""},
        {{""}, "\"\""},
        {{}, ""},
        {{"a", ""}, "a,"},
        {{"", "b"}, ",b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(writeCommaText(c.in), c.out) << c.out.constData();
        EXPECT_EQ(readCommaText(writeCommaText(c.in)), c.in) << c.out.constData();
    }
}

TEST(Cp1251, EveryByteRoundTripsAndAgreesWithIcu)
{
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(static_cast<char>(b));
    const QString text = decodeCp1251(all);
    bool ok = false;
    EXPECT_EQ(encodeCp1251(text, &ok), all);
    EXPECT_TRUE(ok);
    EXPECT_EQ(decodeCp1251("\xCF\xEE\xE2\xF2\xEE\xF0\xE8\xF2\xFC"), QString::fromUtf8("Повторить"));
    EXPECT_EQ(encodeCp1251(u"€№Ёё"), QByteArray("\x88\xB9\xA8\xB8"));
    encodeCp1251(u"日本", &ok);
    EXPECT_FALSE(ok);

    // Where Qt has a converter for the code page (through ICU), both must agree on every
    // assigned byte.
    QStringDecoder icu("windows-1251");
    if (!icu.isValid())
        GTEST_SKIP() << "no ICU converter to compare with";
    QByteArray assigned = all;
    assigned.remove(0x98 - 1, 1);
    EXPECT_EQ(QString(icu.decode(assigned)), decodeCp1251(assigned));
}

// Texts of our own: every row speaks all three languages, keys are unique, and a key
// without a row shows itself rather than nothing.
TEST(OwnTexts, EveryRowInThreeLanguages)
{
    const QStringList keys = ownTextKeys();
    EXPECT_EQ(keys.size(), QSet<QString>(keys.begin(), keys.end()).size());
    for (const QString& key : keys) {
        const QByteArray k = key.toUtf8();
        const QString english = ownText(k.constData(), 1);
        EXPECT_FALSE(english.isEmpty()) << k.constData();
        for (int language : {2, 3})
            EXPECT_FALSE(ownText(k.constData(), language).isEmpty()) << k.constData();
    }
    EXPECT_EQ(ownText("no.such.key", 2), QStringLiteral("no.such.key"));
    EXPECT_EQ(ownText("app.name", 7), QStringLiteral("Quillora"));
}
