// SPDX-License-Identifier: GPL-3.0-or-later
// Reading translation tables and looking messages up, on the tables the program carries.
#include "i18n/CommaText.h"
#include "i18n/Cp1251.h"
#include "i18n/LangTableFormat.h"
#include "i18n/StoredLangProperties.h"
#include "i18n/TCustomLangTable.h"
#include "i18n/TLangDispatcher.h"

#include <QObject>

#include <gtest/gtest.h>

#include <memory>

namespace {

QByteArray cp(const char* utf8) { return encodeCp1251(QString::fromUtf8(utf8)); }

// Splits stored bytes at CR LF; a stray CR or LF inside a line fails the caller's check.
QList<QByteArray> storedLines(const QByteArray& bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r')) << line.constData();
        line.chop(1);
    }
    return lines;
}

struct Owner
{
    QObject window;
    TLangTable* table = new TLangTable(&window);
};

std::unique_ptr<Owner> storedTable(const QString& windowClassName)
{
    auto owner = std::make_unique<Owner>();
    loadStoredProperties(*owner->table, nullptr, storedTranslationData(windowClassName));
    return owner;
}

} // namespace

TEST(StoredTables, LayoutOfBothWindows)
{
    const QByteArray main = storedTranslationData(QStringLiteral("Tfrm_Main"));
    ASSERT_TRUE(main.startsWith("stCaptions\r\nTfrm_Main\x01Quillora\x01Quillora\x01Quillora\x01\r\n"));

    for (const QString& window : {QStringLiteral("Tfrm_Main"), QStringLiteral("Tfrm_About")}) {
        SCOPED_TRACE(window.toStdString());
        const QByteArray bytes = storedTranslationData(window);
        ASSERT_FALSE(bytes.isEmpty());
        EXPECT_FALSE(bytes.contains('\0'));
        ASSERT_TRUE(bytes.endsWith("\x01\r\n"));

        int section = -1;
        int rowsInSection = 0;
        for (const QByteArray& line : storedLines(bytes)) {
            EXPECT_FALSE(line.contains('\r') || line.contains('\n'));
            if (section + 1 < kKeptSectionCount && line == sectionHeader(section + 1)) {
                ++section;
                rowsInSection = 0;
                continue;
            }
            ASSERT_GE(section, 0) << "row before the first header";
            ++rowsInSection;
            // key 01 cell 01 ... cell 01: three cells, or two in the About window's rows
            // written when its table had two languages.
            const bool twoCells = window == QLatin1String("Tfrm_About")
                                  && (section == stHints || section == stFonts
                                      || section == stMultiLines || section == stCharSets);
            EXPECT_EQ(line.count('\x01'), twoCells ? 3 : 4) << line.constData();
            EXPECT_TRUE(line.endsWith('\x01')) << line.constData();
            EXPECT_NE(line.front(), '\x01');
        }
        // Every section in type order, and the table ends with a stCharSets row.
        EXPECT_EQ(section, stCharSets);
        EXPECT_GT(rowsInSection, 0);

        // The writer reproduces the table from what the reader made of it.
        QObject neutral;
        TLangTable table(&neutral);
        table.ReadOurStrProps(bytes);
        SectionLists sections;
        for (int type = 0; type < kKeptSectionCount; ++type)
            sections[type] = table.section(static_cast<TSectionType>(type));
        EXPECT_EQ(WriteOurStrProps(sections), bytes);
    }
}

TEST(StoredTables, Contents)
{
    const auto main = storedTable(QStringLiteral("Tfrm_Main"));
    const TLangTable& m = *main->table;
    EXPECT_EQ(m.section(stCaptions).size(), 33);
    EXPECT_EQ(m.section(stDlgsCaptions).size(), 15);
    EXPECT_EQ(m.section(stStrings).size(), 22);
    EXPECT_EQ(m.section(stFonts).size(), 3);
    EXPECT_EQ(m.section(stCharSets).size(), 3);
    for (TSectionType empty : {stDisplayLabels, stOtherStrings, stLocales, stCollections})
        EXPECT_TRUE(m.section(empty).isEmpty());
    for (const QByteArray& row : m.section(stHints))
        EXPECT_TRUE(row.endsWith("\x01\x01\x01\x01")) << row.constData();
    EXPECT_TRUE(m.section(stDlgsCaptions).contains("No To All\x01N&o to All\x01\x01\x01"));

    const QList<QByteArray>& lists = m.section(stMultiLines);
    ASSERT_EQ(lists.size(), 4);
    const QByteArray formats = ExtractTranslation(lists[0], 1, 1);
    EXPECT_EQ(readCommaText(formats).size(), 6);
    EXPECT_EQ(writeCommaText(readCommaText(formats)), formats);
    EXPECT_EQ(readCommaText(ExtractTranslation(lists[2], 1, 2)),
              (QList<QByteArray>{cp("Черно-белый"), cp("Серый"), cp("Цветной")}));

    const auto about = storedTable(QStringLiteral("Tfrm_About"));
    const TLangTable& a = *about->table;
    EXPECT_EQ(a.section(stStrings).size(), 5);
    EXPECT_EQ(a.section(stDlgsCaptions).size(), 15);
    EXPECT_TRUE(a.section(stCaptions).contains("btn_Update\x01" "Check for updates\x01" "O" "\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xFF\x01\x01"));
    EXPECT_TRUE(a.section(stFonts).contains("lbl_Name\x01" "Arial Black\x01Tahoma\x01"));
    EXPECT_EQ(a.GetTextOrDefault("IDS_9"),
              QStringLiteral("http://" QUILLORA_DEFAULT_UPDATE_HOST "/en/products/quillora/download.html"));
}

TEST(LangTable, Lookups)
{
    const auto main = storedTable(QStringLiteral("Tfrm_Main"));
    const auto about = storedTable(QStringLiteral("Tfrm_About"));
    TLangTable& m = *main->table;
    TLangTable& a = *about->table;

    EXPECT_EQ(m.GetTextOrDefault("IDS_5"), QStringLiteral("Choose your scanner"));
    EXPECT_EQ(m.GetTextOrDefault("ids_5"), QStringLiteral("Choose your scanner"));
    EXPECT_EQ(a.GetTextOrDefault("IDS_5"), QStringLiteral("Checking Quillora updates"));
    EXPECT_EQ(a.GetTextOrDefault("IDS_0"), QStringLiteral("Version "));
    EXPECT_EQ(m.lookupMessage("IDS_12"), QByteArray("Selected directory doesn't esists. \nDo you want to create it?"));
    EXPECT_EQ(m.GetTextOrDefault("IDS_404"), QString());
    EXPECT_EQ(m.GetTextOrDefault(""), QString());
    // Every key is found, whatever its neighbours in the sorted index.
    for (const QByteArray& row : m.section(stStrings)) {
        const QByteArray key = ExtractTranslation(row, 1, 0);
        EXPECT_EQ(m.lookupMessage(key.toLower()), ExtractTranslation(row, 1, 1).replace("\\n", "\n"));
    }

    m.setActiveLanguage(2);
    a.setActiveLanguage(2);
    EXPECT_EQ(m.GetTextOrDefault("IDS_22"), QString::fromUtf8("Повторить"));
    EXPECT_EQ(m.GetTextOrDefault("IDS_61"), QStringLiteral("Quillora"));
    EXPECT_EQ(m.GetTextOrDefault("IDS_12"), QString::fromUtf8("Указанный каталог не существует.\nСоздать?"));
    EXPECT_EQ(a.GetTextOrDefault("IDS_0"), QString::fromUtf8("Версия "));
    EXPECT_EQ(a.GetTextOrDefault("IDS_9"),
              QStringLiteral("http://" QUILLORA_DEFAULT_UPDATE_HOST "/ru/products/quillora/download.html"));

    m.setActiveLanguage(3);
    EXPECT_EQ(m.GetTextOrDefault("IDS_22"), QStringLiteral("Scan again"));
    EXPECT_EQ(m.GetTextOrDefault("IDS_61"), QStringLiteral("Quillora"));
    EXPECT_EQ(m.GetTextOrDefault("IDS_13"), QStringLiteral("Zielverzeichnis"));
}

TEST(LangTable, Reader)
{
    QObject window;
    TLangTable table(&window);
    table.setNumOfLanguages(3);
    table.ReadOurStrProps(QByteArrayLiteral(
        "garbage before any header\r\n"
        "IDS_99\x01lost\x01\x01\x01\r\n"
        "STSTRINGS\n"
        "IDS_1\x01" "first\x01\x01\x01\r"
        "stCaptions\r\n"
        "btn_Next\x01Next >\x01\x01\x01\r\n"
        "QObject\x01Window\x01\x01\x01\r\n"
        "QObjectX\x01not the window\x01\x01\x01\r\n"
        "stHints\r\n"
        "btn_Next\x01two\x19\x1Alines\x01\x01\x01\r\n"
        "stListView_TreeView_Items\r\n"
        "item\x01skipped\x01\r\n"
        "ststrings\r\n"
        "IDS_2\x01" "English only\x01\r\n"
        "IDS_3\x01" "\x01Russian\x01\r\n"
        "stCharSets\r\n"
        "QObject\x01RUSSIAN_CHARSET\x01\x01\x01"
        "\0stCaptions\r\nafter the end\x01\r\n"));
    table.Loaded();

    EXPECT_EQ(table.section(stCaptions),
              (QList<QByteArray>{"QObject\x01Window\x01\x01\x01", "btn_Next\x01Next >\x01\x01\x01",
                                 "QObjectX\x01not the window\x01\x01\x01"}));
    EXPECT_EQ(table.section(stHints), QList<QByteArray>{"btn_Next\x01two\r\nlines\x01\x01\x01"});
    EXPECT_EQ(table.section(stCharSets), QList<QByteArray>{"QObject\x01RUSSIAN_CHARSET\x01\x01\x01"});
    // The repeated header left only the rows after it; lines before the first header
    // and the list-view section are gone.
    EXPECT_EQ(table.GetTextOrDefault("IDS_1"), QString());
    EXPECT_EQ(table.GetTextOrDefault("IDS_99"), QString());
    EXPECT_EQ(table.GetTranslationByID("IDS_2", 1), QByteArray("English only"));
    EXPECT_EQ(table.GetTranslationByID("IDS_2", 3), QByteArray());
    // Not in the table: the standard dialog captions stay as constructed.
    EXPECT_EQ(table.section(stDlgsCaptions).size(), 15);

    table.setActiveLanguage(2);
    EXPECT_EQ(table.GetTextOrDefault("IDS_2"), QStringLiteral("English only"));
    EXPECT_EQ(table.GetTextOrDefault("IDS_3"), QStringLiteral("Russian"));
    EXPECT_THROW(table.setActiveLanguage(4), ELanguageError);
    EXPECT_EQ(table.ActiveLanguage(), 2);
}

TEST(LangTable, ExtractTranslation)
{
    const QByteArray row("key\x01one\x01\x01three\x01");
    EXPECT_EQ(ExtractTranslation(row, 1, 0), QByteArray("key"));
    EXPECT_EQ(ExtractTranslation(row, 1, 1), QByteArray("one"));
    EXPECT_EQ(ExtractTranslation(row, 1, 2), QByteArray());
    EXPECT_EQ(ExtractTranslation(row, 1, 3), QByteArray("three"));
    EXPECT_EQ(ExtractTranslation(row, 1, 5), QByteArray());
    EXPECT_EQ(ExtractTranslation("\x01" "a\x01" "b", 1, 0), QByteArray("\x01" "a"));
    EXPECT_EQ(ExtractTranslation("k\x01tail", 1, 1), QByteArray("tail"));
    EXPECT_EQ(ExtractTranslation("", 1, 0), QByteArray());
}

TEST(LangTable, OnePerWindow)
{
    QObject window;
    new TLangTable(&window);
    try {
        new TLangTable(&window);
        FAIL() << "a second table was accepted";
    } catch (const QuilloraError& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Only one TCustomLangTable component per Form/DataModule allowed!"));
    }
    EXPECT_EQ(window.findChildren<TCustomLangTable*>().size(), 1);
}

TEST(LangDispatcher, RegistrationAndLanguageNames)
{
    TLangDispatcher dispatcher;
    loadStoredProperties(dispatcher);
    EXPECT_EQ(dispatcher.Language(), QStringLiteral("English"));

    QObject first, second;
    auto* a = new TLangTable(&first);
    auto* b = new TLangTable(&second);
    loadStoredProperties(*a, &dispatcher, storedTranslationData(QStringLiteral("Tfrm_Main")));
    loadStoredProperties(*b, &dispatcher, storedTranslationData(QStringLiteral("Tfrm_About")));
    EXPECT_EQ(dispatcher.references(), (QList<TCustomLangTable*>{a, b}));
    dispatcher.AddReference(a);
    EXPECT_EQ(dispatcher.references().size(), 2);

    for (const QString& bad : {QStringLiteral("French"), QString()}) {
        try {
            dispatcher.SetLanguage(bad);
            FAIL() << "accepted " << bad.toStdString();
        } catch (const ELanguageError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("Language name shall be included in LangNames property!"));
        }
    }
    EXPECT_EQ(dispatcher.ActiveLanguage(), 1);
    EXPECT_EQ(a->ActiveLanguage(), 1);

    dispatcher.SetLanguage(QStringLiteral("english"));
    EXPECT_EQ(dispatcher.Language(), QStringLiteral("English"));
    dispatcher.SetLanguage(QStringLiteral("rUSSIAN"));
    EXPECT_EQ(dispatcher.Language(), QStringLiteral("Russian"));
    EXPECT_EQ(a->ActiveLanguage(), 2);
    EXPECT_EQ(b->Language(), QStringLiteral("Russian"));
    EXPECT_EQ(b->GetTextOrDefault("IDS_5"), QString::fromUtf8("Проверка обновлений Quillora"));

    delete b;
    EXPECT_EQ(dispatcher.references(), QList<TCustomLangTable*>{a});
}

TEST(LangDispatcher, ExcludedPropertiesFilter)
{
    QObject window;
    TLangTable table(&window);
    table.setExcludedProperties(storedExcludedProperties());
    EXPECT_EQ(table.ExcludedProperties().size(), 20);
    table.ReadOurStrProps(QByteArrayLiteral("stCaptions\r\nb\x01" "B\x01\r\n"
                                            "stFonts\r\nb\x01" "Tahoma\x01\r\n"
                                            "stMultiLines\r\n"
                                            "cb.Items\x01x\x01\r\n"
                                            "dlg.FileName\x01x\x01\r\n"
                                            "cb.Name\x01x\x01\r\n"
                                            "cb.Items.Text\x01x\x01\r\n"
                                            "stCharSets\r\nb\x01RUSSIAN_CHARSET\x01\r\n"));
    table.Loaded();
    EXPECT_EQ(table.section(stMultiLines), (QList<QByteArray>{"cb.Items\x01x\x01", "cb.Items.Text\x01x\x01"}));
    EXPECT_EQ(table.section(stCaptions).size(), 1);

    QObject other;
    TLangTable fonts(&other);
    fonts.setExcludedProperties({QStringLiteral("font"), QStringLiteral("Caption")});
    fonts.ReadOurStrProps(QByteArrayLiteral("stCaptions\r\nb\x01" "B\x01\r\nstFonts\r\nb\x01T\x01\r\n"
                                            "stCharSets\r\nb\x01RUSSIAN_CHARSET\x01\r\n"));
    fonts.Loaded();
    EXPECT_TRUE(fonts.section(stCaptions).isEmpty());
    EXPECT_TRUE(fonts.section(stFonts).isEmpty());
    EXPECT_TRUE(fonts.section(stCharSets).isEmpty());
}
