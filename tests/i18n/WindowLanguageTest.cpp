// SPDX-License-Identifier: GPL-3.0-or-later
// The stored language applied to the program's real windows when the main window shows.
#include "SaneFixture.h"
#include "ScriptedDialogs.h"

#include "about/Tfrm_About.h"
#include "app/ErrorReport.h"
#include "app/SettingsStore.h"
#include "i18n/TCustomLangTable.h"
#include "i18n/TLangDispatcher.h"
#include "i18n/WidgetLangAdapter.h"
#include "ui/Tfrm_Main.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QToolBar>
#include <QToolButton>

#include <memory>

namespace {

QString u8(const char* text) { return QString::fromUtf8(text); }

} // namespace

// The main window fills its scanner list when shown: SANE sees only its test backend.
class WindowLanguageTest : public SaneFixture
{
protected:
    void SetUp() override
    {
        SaneFixture::SetUp();
        // Created in start-up order: the About window registers after the main window.
        main = std::make_unique<Tfrm_Main>();
        about = new Tfrm_About(main.get());
    }
    void TearDown() override
    {
        main.reset();
        SaneFixture::TearDown();
    }

    void showWithLanguage(const QString& lang)
    {
        SettingsStore store;
        store.writeString(QStringLiteral("Lang"), lang);
        // Applied after the language: shows whether the sequence went on.
        store.writeInteger(QStringLiteral("Format"), 2);
        store.writeInteger(QStringLiteral("Color"), 2);
        main->show();
    }

    template <typename T = QWidget>
    T* in(QWidget* window, const char* name)
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString caption(const char* name) { return in<QAbstractButton>(main.get(), name)->text(); }
    QString action(const char* name) { return in<QAction>(main.get(), name)->text(); }
    int charset(const char* name) { return fontCharset(in(main.get(), name)); }

    ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_Main> main;
    Tfrm_About* about = nullptr;
};

TEST_F(WindowLanguageTest, RussianTranslatesBothWindows)
{
    auto* mode = in<QComboBox>(main.get(), "cmb_Mode");
    showWithLanguage(QStringLiteral("Russian"));
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.texts().join(u'\n').toStdString();

    EXPECT_EQ(main->windowTitle(), QStringLiteral("Quillora"));
    EXPECT_EQ(caption("btn_Cancel"), u8("Закрыть"));
    EXPECT_EQ(caption("btn_Next"), u8("Далее >"));
    EXPECT_EQ(caption("btn_Back"), u8("< Назад"));
    EXPECT_EQ(caption("chb_Remember"), u8("Всегда использовать выделенный сканер"));
    EXPECT_EQ(caption("RadioButton1"), u8("Добавить номер. Начать с:"));
    EXPECT_EQ(in<QGroupBox>(main.get(), "gb_Format")->title(), u8("Настройки файла"));
    EXPECT_EQ(in<QLabel>(main.get(), "lbl_Path")->text(), u8("Папка:"));
    // The page title comes from the message catalog, in the language just set.
    EXPECT_EQ(in<QLabel>(main.get(), "lbl_Title")->text(), u8("Выберите сканер"));
    EXPECT_EQ(main->LangTable1->GetTextOrDefault("IDS_22"), u8("Повторить"));
    // No row, or empty cells: design texts stay.
    EXPECT_EQ(in<QToolButton>(main.get(), "spd_About")->toolTip(), QStringLiteral("About Quillora..."));
    EXPECT_EQ(in<QComboBox>(main.get(), "cb_Format")->itemText(0), QStringLiteral("BMP (Windows Bitmap)"));

    // The list was translated in place with "Gray" selected, then "Color" was applied.
    EXPECT_EQ(mode->count(), 3);
    EXPECT_EQ(mode->itemText(0), u8("Черно-белый"));
    EXPECT_EQ(mode->currentText(), u8("Цветной"));

    EXPECT_EQ(action("Preview2"), u8("Просмотр"));
    EXPECT_EQ(action("SavetosinglePDF"), QStringLiteral("PDF"));
    EXPECT_EQ(action("SavetosinglePDF1"), QStringLiteral("PDF"));
    EXPECT_EQ(action("Savetotiff"), QStringLiteral("TIFF"));
    EXPECT_EQ(action("SavetoTIFF1"), QStringLiteral("TIFF"));
    auto* bar = in<QToolBar>(main.get(), "ActionMainMenuBar1");
    EXPECT_EQ(qobject_cast<QToolButton*>(bar->widgetForAction(in<QAction>(main.get(), "Savetotiff")))->text(),
              QStringLiteral("TIFF"));

    EXPECT_EQ(fontCharset(main.get()), 204);
    EXPECT_EQ(charset("lbl_Title"), 204);
    EXPECT_EQ(charset("ActionMainMenuBar1"), 204);
    EXPECT_EQ(main->font().family(), QStringLiteral("Tahoma"));

    EXPECT_EQ(about->windowTitle(), u8("О программе Quillora"));
    EXPECT_EQ(in<QAbstractButton>(about, "btn_Update")->text(), QStringLiteral("O") + u8("бновления"));
    EXPECT_EQ(about->font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(fontCharset(about), 204);
    EXPECT_EQ(in(about, "lbl_Name")->font().family(), QStringLiteral("Tahoma"));
    EXPECT_EQ(fontCharset(in(about, "lbl_Name")), 204);
    EXPECT_EQ(about->LangTable1->GetTextOrDefault("IDS_0"), u8("Версия "));

    // Messages are looked up when shown, in the language now active.
    auto* pane = in<QListWidget>(main.get(), "lv_Images");
    pane->addItem(QStringLiteral("gone.bmp"));
    QString typed = QStringLiteral("renamed.bmp");
    main->lv_ImagesEdited(pane->item(0), typed);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].title, u8("Переименование файла"));
    EXPECT_EQ(dialogs.messages[0].text, u8("Невозможно переименовать файл. Возможно файл уже удален или перемещен."));
}

TEST_F(WindowLanguageTest, GermanKeepsEnglishTextsAndSetsTheCharacterSet)
{
    showWithLanguage(QStringLiteral("German"));
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.texts().join(u'\n').toStdString();

    EXPECT_EQ(caption("btn_Cancel"), QStringLiteral("Close"));
    EXPECT_EQ(caption("btn_Next"), QStringLiteral("Next >"));
    EXPECT_EQ(action("SavetoTIFF1"), QStringLiteral("Save to TIFF"));
    EXPECT_EQ(in<QComboBox>(main.get(), "cmb_Mode")->itemText(0), QStringLiteral("Black&white"));
    EXPECT_EQ(in<QLabel>(main.get(), "lbl_Title")->text(), QStringLiteral("Choose your scanner"));
    EXPECT_EQ(in<QToolButton>(main.get(), "spd_About")->toolTip(), QStringLiteral("About Quillora..."));
    EXPECT_EQ(main->LangTable1->GetTextOrDefault("IDS_13"), QStringLiteral("Zielverzeichnis"));
    EXPECT_EQ(fontCharset(main.get()), 0);
    EXPECT_EQ(charset("lbl_Title"), 0);
    EXPECT_EQ(charset("ActionMainMenuBar1"), 0);

    // The About window's table has no German cells: it stays as designed.
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About Quillora"));
    EXPECT_EQ(in<QAbstractButton>(about, "btn_Update")->text(), QStringLiteral("Check for updates"));
    EXPECT_EQ(about->font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(fontCharset(about), 1);
}

TEST_F(WindowLanguageTest, UnknownLanguageIsReportedAndEndsTheShowSequence)
{
    showWithLanguage(QStringLiteral("French"));

    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Critical);
    EXPECT_EQ(dialogs.messages[0].text,
              errorReportText(QStringLiteral("Language name shall be included in LangNames property!")));
    EXPECT_EQ(main->LangDispatcher1->Language(), QStringLiteral("English"));
    EXPECT_EQ(caption("btn_Cancel"), QStringLiteral("Close"));
    EXPECT_EQ(in<QComboBox>(main.get(), "cmb_Mode")->itemText(0), QStringLiteral("Black&white"));
    EXPECT_EQ(fontCharset(main.get()), 1);
    // "Format" comes after the language in the sequence and was never applied.
    EXPECT_EQ(in<QComboBox>(main.get(), "cb_Format")->currentIndex(), -1);
}
