// SPDX-License-Identifier: GPL-3.0-or-later
#include "../scanjobs/RecordingLibrary.h"
#include "SaneFixture.h"
#include "ScriptedDialogs.h"

#include "app/SettingsStore.h"
#include "ui/Tfrm_Main.h"
#include "ui_Tfrm_Main.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QStackedWidget>
#include <QTest>

#include <memory>
#include <optional>

namespace {

// Lists the names a case needs and passes everything else to the test scanner.
struct NamedSources : RecordingLibrary
{
    using RecordingLibrary::RecordingLibrary;
    QList<QByteArray> names;
    int position = 0;
    int BeginSourceList() override
    {
        position = 0;
        return 1;
    }
    int NextSourceName(char* buffer) override
    {
        if (position >= names.size())
            return 0;
        qstrncpy(buffer, names.at(position++).constData(), SourceNameSize);
        return 1;
    }
    int OpenSourceByName(const char*) override { return RecordingLibrary::OpenDefaultSource(); }
};

const char* const kTester = "Noname frontend-tester";

class WizardTest : public SaneFixture
{
protected:
    void SetUp() override
    {
        SaneFixture::SetUp();
        qputenv("SANE_DEFAULT_DEVICE", "test:0");
    }
    void TearDown() override
    {
        window.reset();
        ScannerLibrary::setInstance(nullptr);
        SaneFixture::TearDown();
    }

    // Stored settings a scan can run with: PNG, 75 dpi, no scanner dialog.
    void storeScanSettings(const QString& folder)
    {
        SettingsStore s;
        s.writeString("Path", folder);
        s.writeInteger("Format", 3);
        s.writeInteger("Resolution", 0);
        s.writeBool("HideUI", true);
    }

    void open()
    {
        window = std::make_unique<Tfrm_Main>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    Ui::Tfrm_Main& ui() { return *window->ui(); }
    QWidget* page() { return ui().PageControl->currentWidget(); }
    QString title() { return ui().lbl_Title->text(); }
    void enter()
    {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &press);
    }
    std::optional<QString> stored(const char* name)
    {
        SettingsStore s;
        return s.valueExists(name) ? std::optional(s.readString(name)) : std::nullopt;
    }
    void selectRow(int row)
    {
        QWidget* vp = ui().lv_Devices->viewport();
        QTest::mouseClick(vp, Qt::LeftButton, {},
                          ui().lv_Devices->visualItemRect(ui().lv_Devices->item(row)).center());
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_Main> window;
};

} // namespace

TEST_F(WizardTest, StartWithoutRememberedScanner)
{
    open();
    EXPECT_EQ(page(), ui().TabSheet2);
    EXPECT_EQ(title(), "Choose your scanner");
    EXPECT_FALSE(ui().btn_Back->isEnabled());
    EXPECT_FALSE(ui().btn_Next->isEnabled());
    enter(); // nothing selected: Enter does nothing
    EXPECT_EQ(page(), ui().TabSheet2);
    selectRow(0);
    EXPECT_TRUE(ui().btn_Next->isEnabled());
}

// From the remembered scanner through the folder check to a scanned page and "Scan again".
TEST_F(WizardTest, WholeRoadToScanAgain)
{
    const QString folder = scratchDir() + "/pages";
    storeScanSettings(folder);
    SettingsStore().writeString("Source", kTester);
    open();
    ASSERT_FALSE(ui().lv_Devices->selectedItems().isEmpty());
    EXPECT_TRUE(ui().chb_Remember->isChecked());
    EXPECT_TRUE(ui().btn_Next->isEnabled());

    enter();
    ASSERT_EQ(page(), ui().TabSheet3);
    EXPECT_EQ(title(), "File format, name and destination folder");
    EXPECT_EQ(ui().edt_Path->text(), folder);
    EXPECT_TRUE(ui().btn_Back->isEnabled());

    // The folder is missing: Yes creates it (one level), and the page is scanned.
    dialogs.answers.push_back(Dialogs::Yes);
    ui().btn_Next->click();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].title, "Destination directory");
    EXPECT_EQ(dialogs.messages[0].text, "Selected directory doesn't esists. \nDo you want to create it?");
    EXPECT_EQ(page(), ui().TabSheet4);
    EXPECT_EQ(title(), "Image previews pane");
    EXPECT_EQ(ui().lv_Images->count(), 1);
    EXPECT_EQ(ui().btn_Next->text(), "Scan again");
    EXPECT_FALSE(ui().btn_Back->isEnabled());
    EXPECT_TRUE(QFileInfo::exists(folder + "/Quillora_1.png"));

    // Scan again asks nothing about the folder, even once it is gone; the job itself finds
    // it gone before the scanner starts, and scans nothing to lose.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    dialogs.messages.clear();
    ui().btn_Next->click();
    EXPECT_EQ(page(), ui().TabSheet4);
    EXPECT_EQ(ui().lv_Images->count(), 1);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text,
              "Unable to scan.\nCannot create a file in " + folder + ": No such file or directory");
}

TEST_F(WizardTest, EmptyFolderBox)
{
    open();
    selectRow(0);
    ui().btn_Next->click();
    ASSERT_EQ(page(), ui().TabSheet3);
    EXPECT_EQ(ui().edt_Path->text(), "");
    EXPECT_FALSE(ui().btn_Next->isEnabled());
    QTest::keyClicks(ui().edt_Path, "x");
    EXPECT_TRUE(ui().btn_Next->isEnabled());
    ui().edt_Path->clear();
    EXPECT_TRUE(ui().btn_Next->isEnabled());
    EXPECT_EQ(stored("Path"), QString());

    dialogs.answers.push_back(Dialogs::Yes);
    ui().btn_Next->click();
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(dialogs.messages[1].text, "It is impossible to create directory");
    EXPECT_EQ(page(), ui().TabSheet3);
}

TEST_F(WizardTest, FolderCheckAnswers)
{
    struct Case
    {
        const char* what;
        QString folder;
        Dialogs::Button answer;
        bool leaves;
        bool created;
        int messages;
    } cases[] = {
        {"No keeps the page", "/missing", Dialogs::No, false, false, 1},
        {"two missing levels cannot be made", "/a/b", Dialogs::Yes, false, false, 2},
    };
    SettingsStore().writeString("Source", kTester);
    open();
    enter();
    ASSERT_EQ(page(), ui().TabSheet3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.messages.clear();
        const QString folder = scratchDir() + c.folder;
        ui().edt_Path->setText(folder);
        dialogs.answers.push_back(c.answer);
        ui().btn_Next->click();
        EXPECT_EQ(page() == ui().TabSheet4, c.leaves);
        EXPECT_EQ(QFileInfo(folder).isDir(), c.created);
        EXPECT_EQ(dialogs.messages.size(), c.messages);
    }
}

TEST_F(WizardTest, BackAndNextAgainRestoresTheFolderStoredAtStart)
{
    storeScanSettings("/stored/at/start");
    SettingsStore().writeString("Source", kTester);
    open();
    enter();
    ui().edt_Path->setText("/edited");
    EXPECT_EQ(stored("Path"), "/edited");
    ui().btn_Back->click();
    EXPECT_EQ(page(), ui().TabSheet2);
    EXPECT_EQ(title(), "Choose your scanner");
    EXPECT_FALSE(ui().btn_Back->isEnabled());
    ui().btn_Next->click();
    EXPECT_EQ(ui().edt_Path->text(), "/stored/at/start");
    EXPECT_EQ(stored("Path"), "/stored/at/start");
}

TEST_F(WizardTest, TarnwickRelayLocksTheHideBox)
{
    NamedSources sources{ScannerLibrary::instance()};
    sources.names = {"Tarnwick Relay", kTester};
    ScannerLibrary::setInstance(&sources);
    SettingsStore().writeBool("HideUI", true);
    open();
    ASSERT_TRUE(ui().chb_UI->isChecked());
    selectRow(0);
    ui().btn_Next->click();
    EXPECT_FALSE(ui().chb_UI->isChecked());
    EXPECT_FALSE(ui().chb_UI->isEnabled());
    EXPECT_EQ(SettingsStore().readBool("HideUI"), false);

    ui().btn_Back->click();
    selectRow(1);
    ui().btn_Next->click();
    EXPECT_TRUE(ui().chb_UI->isEnabled());
    EXPECT_FALSE(ui().chb_UI->isChecked());
}

// A job that raises an error (no resolution selected) ends Next: the images page stays,
// Back stays enabled and leads to the settings page without the remembered folder.
TEST_F(WizardTest, FailedFirstJobCanGoBack)
{
    storeScanSettings(scratchDir());
    SettingsStore().writeInteger("Resolution", -1);
    SettingsStore().writeString("Source", kTester);
    open();
    enter();
    ui().edt_Path->setText(scratchDir() + "/../scratch");
    const QString typed = ui().edt_Path->text();
    ui().btn_Next->click();
    EXPECT_EQ(page(), ui().TabSheet4);
    ASSERT_FALSE(dialogs.messages.isEmpty());
    EXPECT_EQ(dialogs.messages.last().icon, Dialogs::Critical);
    EXPECT_EQ(dialogs.messages.last().title, "Quillora");
    EXPECT_NE(ui().btn_Next->text(), "Scan again");
    ASSERT_TRUE(ui().btn_Back->isEnabled());

    ui().btn_Back->click();
    EXPECT_EQ(page(), ui().TabSheet3);
    EXPECT_EQ(ui().edt_Path->text(), typed);
    EXPECT_TRUE(ui().btn_Back->isEnabled());
}

TEST_F(WizardTest, FolderPickerAndNamingButtons)
{
    open();
    // The picker opens in the folder box's folder, or above it where that is still to be made.
    ui().edt_Path->setText(scratchDir() + "/to be made/below");
    dialogs.folders.push_back(scratchDir());
    ui().btn_Folder->click();
    EXPECT_EQ(dialogs.folderTitles, QList<QString>{"Pick a Directory"});
    EXPECT_EQ(ui().edt_Path->text(), scratchDir());
    ui().btn_Folder->click(); // cancelled: nothing changes
    EXPECT_EQ(ui().edt_Path->text(), scratchDir());
    EXPECT_EQ(dialogs.folderStarts, (QList<QString>{scratchDir(), scratchDir()}));

    ui().RadioButton2->click();
    EXPECT_FALSE(ui().edt_Start->isEnabled());
    EXPECT_TRUE(ui().UpDown1->isEnabled());
    ui().RadioButton1->click();
    EXPECT_TRUE(ui().edt_Start->isEnabled());
}
