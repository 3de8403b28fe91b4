// SPDX-License-Identifier: GPL-3.0-or-later
#include "SaneFixture.h"
#include "ScriptedDialogs.h"

#include "about/Tfrm_About.h"
#include "app/SettingsStore.h"
#include "output/Tfrm_fmtSettings.h"
#include "ui/Tfrm_Main.h"
#include "ui/UpDown.h"
#include "ui_Tfrm_About.h"
#include "ui_Tfrm_Main.h"
#include "ui_Tfrm_fmtSettings.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QSettings>
#include <QTabBar>
#include <QToolButton>

#include <memory>
#include <variant>

namespace {

using Stored = std::variant<int, QString>;

// What the store holds under name, typed as the row expects it.
Stored stored(const QString& name, const Stored& like)
{
    SettingsStore store;
    if (std::holds_alternative<int>(like))
        return store.readInteger(name);
    return store.readString(name);
}

void store(const QString& name, const Stored& value)
{
    SettingsStore s;
    if (const int* i = std::get_if<int>(&value))
        s.writeInteger(name, *i);
    else
        s.writeString(name, std::get<QString>(value));
}

std::string describe(const Stored& v)
{
    if (const int* i = std::get_if<int>(&v))
        return std::to_string(*i);
    return '"' + std::get<QString>(v).toStdString() + '"';
}

void pressKey(QWidget* target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

} // namespace

// The scanner list is filled from SANE at show; only its test scanner is seen.
class MainWindowTest : public SaneFixture
{
protected:
    void SetUp() override
    {
        SaneFixture::SetUp();
        window = std::make_unique<Tfrm_Main>();
        ui = window->ui();
    }
    void TearDown() override
    {
        window.reset();
        SaneFixture::TearDown();
    }

    // Shows the window as start-up does, which runs its show sequence.
    void start()
    {
        window->show();
        window->activateWindow();
        QApplication::setActiveWindow(window.get());
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_Main> window;
    Ui::Tfrm_Main* ui = nullptr;
};

TEST_F(MainWindowTest, AsCreated)
{
    EXPECT_FALSE(ui->btn_Back->isEnabled());
    EXPECT_FALSE(ui->btn_Next->isEnabled());
    EXPECT_TRUE(ui->btn_Cancel->isEnabled());
    EXPECT_TRUE(ui->btn_Next->isDefault());

    // Fixed size, minimizable, never maximizable.
    EXPECT_EQ(window->size(), QSize(467, 373));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);

    // Pages change only through the wizard: no tab is ever visible.
    start();
    for (QTabBar* bar : ui->PageControl->findChildren<QTabBar*>())
        EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(ui->PageControl->count(), 3);
    EXPECT_EQ(ui->PageControl->currentWidget(), ui->TabSheet2);

    // The images pane's commands all start disabled.
    for (const char* name : {"Preview", "Rename", "Delete", "SavetosinglePDF", "Savetotiff",
                             "Preview2", "Rename2", "Delete2", "SavetosinglePDF1", "SavetoTIFF1"}) {
        auto* action = window->findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(action, nullptr) << name;
        EXPECT_FALSE(action->isEnabled()) << name;
    }
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(MainWindowTest, SettingsPageTabOrder)
{
    const QStringList order = {"cmb_Mode",     "cmb_Resolution", "chb_UI",    "chb_ADF",
                               "edt_FileName", "RadioButton1",   "edt_Start", "UpDown1",
                               "RadioButton2", "cb_Format",      "edt_Path",  "btn_Folder",
                               "btn_fmtSettings"};
    start();
    ui->PageControl->setCurrentWidget(ui->TabSheet3);
    // Of the two naming buttons only the checked one is a tab stop.
    for (QRadioButton* checked : {ui->RadioButton1, ui->RadioButton2}) {
        SCOPED_TRACE(checked->objectName().toStdString());
        checked->setChecked(true);
        QStringList expected = order;
        expected.removeOne(checked == ui->RadioButton1 ? "RadioButton2" : "RadioButton1");
        ui->cmb_Mode->setFocus();
        QStringList visited = {QApplication::focusWidget()->objectName()};
        while (visited.size() < expected.size()) {
            pressKey(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        EXPECT_EQ(visited.join(u' ').toStdString(), expected.join(u' ').toStdString());
    }
}

TEST_F(MainWindowTest, FreshProfileShowsLayoutDefaultsAndStoresThemAtClose)
{
    start();
    EXPECT_EQ(ui->cmb_Resolution->currentText(), "100");
    EXPECT_EQ(ui->cmb_Mode->currentText(), "Gray");
    EXPECT_EQ(ui->cb_Format->currentIndex(), -1);
    EXPECT_EQ(ui->edt_FileName->text(), "Quillora_");
    EXPECT_TRUE(ui->RadioButton1->isChecked());
    EXPECT_TRUE(ui->edt_Start->isEnabled());
    EXPECT_FALSE(ui->chb_ADF->isChecked());
    EXPECT_FALSE(ui->chb_UI->isChecked());
    EXPECT_TRUE(window->rememberedFolder().isEmpty());
    // Clearing the box at show stores its state at once.
    EXPECT_EQ(SettingsStore().readInteger("HideUI"), 0);
    EXPECT_FALSE(SettingsStore().valueExists("Resolution"));

    window->close();
    const std::pair<const char*, Stored> expected[] = {
        {"Resolution", 1}, {"Format", -1},   {"ADF", 0},
        {"Color", 1},      {"Datenum", 0},   {"FilePrefix", QStringLiteral("Quillora_")},
        {"HideUI", 0},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(stored(name, value), value) << name << " = " << describe(value);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

// Each row: a value put into the store, what the window shows for it, what the next close
// stores. Out-of-range indices leave their list without a selection and come back as -1.
TEST_F(MainWindowTest, StoredValuesReachTheControlsAndComeBack)
{
    struct Row
    {
        const char* name;
        Stored put;
        std::function<QString(Ui::Tfrm_Main*)> shown;
        QString expectShown;
        Stored expectStored;
    };
    auto index = [](QComboBox* Ui::Tfrm_Main::*list) {
        return [list](Ui::Tfrm_Main* u) { return QString::number((u->*list)->currentIndex()); };
    };
    auto checked = [](auto box) {
        return [box](Ui::Tfrm_Main* u) { return QString::number((u->*box)->isChecked()); };
    };
    const Row rows[] = {
        {"Resolution", 12, index(&Ui::Tfrm_Main::cmb_Resolution), "-1", -1},
        {"Resolution", 4, index(&Ui::Tfrm_Main::cmb_Resolution), "4", 4},
        {"Format", 2, index(&Ui::Tfrm_Main::cb_Format), "2", 2},
        {"Format", 6, index(&Ui::Tfrm_Main::cb_Format), "-1", -1},
        {"Color", -1, index(&Ui::Tfrm_Main::cmb_Mode), "-1", -1},
        {"Color", 0, index(&Ui::Tfrm_Main::cmb_Mode), "0", 0},
        {"Datenum", 1, checked(&Ui::Tfrm_Main::RadioButton2), "1", 1},
        {"ADF", 1, checked(&Ui::Tfrm_Main::chb_ADF), "1", 1},
        {"FilePrefix", QStringLiteral("Page-"),
         [](Ui::Tfrm_Main* u) { return u->edt_FileName->text(); }, "Page-",
         QStringLiteral("Page-")},
        {"HideUI", 1, checked(&Ui::Tfrm_Main::chb_UI), "1", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + " = " + describe(row.put));
        QSettings(QStringLiteral("Quillora"), QStringLiteral("Quillora")).clear();
        store(row.name, row.put);
        window = std::make_unique<Tfrm_Main>();
        start();
        EXPECT_EQ(row.shown(window->ui()), row.expectShown);
        window->close();
        EXPECT_EQ(stored(row.name, row.expectStored), row.expectStored);
    }
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(MainWindowTest, WrongTypeStopsTheShowSequence)
{
    store("Path", QStringLiteral("/srv/scans"));
    store("Resolution", QStringLiteral("high"));
    store("Format", 2);
    store("FilePrefix", QStringLiteral("Page-"));
    store("HideUI", 1);
    start();

    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Critical);
    EXPECT_EQ(dialogs.messages[0].title, "Quillora");
    // The quote sorts below the full stop, so the report adds none.
    EXPECT_EQ(dialogs.messages[0].text, "Invalid data type for 'Resolution'");
    // The step before the failure took effect, none after it did.
    EXPECT_EQ(window->rememberedFolder(), "/srv/scans");
    EXPECT_EQ(ui->cb_Format->currentIndex(), -1);
    EXPECT_EQ(ui->edt_FileName->text(), "Quillora_");
    EXPECT_TRUE(ui->chb_UI->isChecked());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, FolderAndHideUIStoreThemselvesOnEveryChange)
{
    start();
    ui->edt_Path->setText(QStringLiteral("/srv/scans"));
    EXPECT_EQ(SettingsStore().readString("Path"), "/srv/scans");
    EXPECT_TRUE(ui->btn_Next->isEnabled());
    ui->edt_Path->clear();
    EXPECT_TRUE(SettingsStore().valueExists("Path"));
    EXPECT_EQ(SettingsStore().readString("Path"), "");

    ui->chb_UI->click();
    EXPECT_EQ(SettingsStore().readInteger("HideUI"), 1);
    ui->chb_UI->setChecked(false);
    EXPECT_EQ(SettingsStore().readInteger("HideUI"), 0);
}

TEST_F(MainWindowTest, StartNumberCounter)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    UpDown* counter = ui->UpDown1;
    EXPECT_EQ(counter->minimum(), 0);
    EXPECT_EQ(counter->maximum(), 32767);
    EXPECT_EQ(counter->position(), 1);
    EXPECT_EQ(ui->edt_Start->text(), "1");
    const auto arrows = counter->findChildren<QToolButton*>();
    ASSERT_EQ(arrows.size(), 2);
    QToolButton* up = arrows[0]->arrowType() == Qt::UpArrow ? arrows[0] : arrows[1];
    QToolButton* down = up == arrows[0] ? arrows[1] : arrows[0];

    // Each row: the text in the box, the arrow pressed, the text afterwards.
    const struct
    {
        const char* typed;
        QToolButton* arrow;
        const char* expected;
    } rows[] = {
        {"999", up, "1,000"},          // separator from 1000 on
        {"1,500", up, "1,501"},        // the box's own number, separators and all
        {"32767", up, "32,767"},       // stops at the top
        {"0", down, "0"},              // and at the bottom
        {"40000", down, "32,766"},     // a typed number beyond the range is brought inside
        {"many", up, "32,767"},        // no number: steps from its own position
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        ui->edt_Start->setText(QString::fromLatin1(row.typed));
        row.arrow->click();
        EXPECT_EQ(ui->edt_Start->text(), row.expected);
    }

    // The Up and Down keys in the box step it too; disabling the box leaves the arrows working.
    ui->edt_Start->setText("7");
    pressKey(ui->edt_Start, Qt::Key_Up);
    EXPECT_EQ(ui->edt_Start->text(), "8");
    ui->RadioButton2->setChecked(true);
    ui->edt_Start->setEnabled(false);
    EXPECT_TRUE(counter->isEnabled());
    down->click();
    EXPECT_EQ(ui->edt_Start->text(), "7");

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ui->edt_Start->setText("1999");
    up->click();
    EXPECT_EQ(ui->edt_Start->text(), "2.000");
}

TEST_F(MainWindowTest, ButtonsOpenTheirWindowsModally)
{
    auto* about = new Tfrm_About(window.get());
    auto* formatSettings = new Tfrm_fmtSettings(window.get());
    window->setAboutWindow(about);
    window->setFormatSettingsWindow(formatSettings);
    start();

    QObject* shown = nullptr;
    dialogs.modalHandlers.push_back([&](QObject* w) {
        shown = w;
        static_cast<Tfrm_fmtSettings*>(w)->ui()->Button1->click();
        return 0;
    });
    ui->btn_fmtSettings->click();
    EXPECT_EQ(shown, formatSettings);

    bool stayedOnEscape = false;
    dialogs.modalHandlers.push_back([&](QObject* w) {
        shown = w;
        pressKey(about, Qt::Key_Escape);
        stayedOnEscape = about->isVisible();
        about->ui()->btn_OK->click();
        return about->result();
    });
    ui->spd_About->click();
    EXPECT_EQ(shown, about);
    EXPECT_TRUE(stayedOnEscape);
    EXPECT_FALSE(about->isVisible());
    EXPECT_TRUE(about->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(about->size(), QSize(357, 216));
    EXPECT_EQ(dialogs.modals, 2);
}
