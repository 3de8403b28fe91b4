// SPDX-License-Identifier: GPL-3.0-or-later
#include "PaneFixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
enum StepKind { Click, CtrlClick, ContextMenu, ScanAgain, Append };
struct Step
{
    StepKind kind;
    int row = 0;
};
} // namespace

// The ten switches change only on selection notifications, on opening the context menu and
// at the start of a scan job; the turning commands follow the selection alone.
TEST_F(PaneTest, CommandStatesFollowTheirRules)
{
    struct Case
    {
        const char* name;
        std::vector<Step> steps;
        bool single;
        bool multipage;
        int selected;
    };
    const Case cases[] = {
        {"one click", {{Click, 0}}, true, false, 1},
        {"ctrl-click a second", {{Click, 0}, {CtrlClick, 1}}, true, true, 2},
        {"ctrl-click one out", {{Click, 0}, {CtrlClick, 1}, {CtrlClick, 1}}, false, false, 1},
        {"then the context menu", {{Click, 0}, {CtrlClick, 1}, {CtrlClick, 1}, {ContextMenu}},
         true, false, 1},
        {"context menu, none selected", {{ContextMenu}}, false, false, 0},
        {"context menu, two selected", {{Click, 0}, {CtrlClick, 2}, {ContextMenu}}, true, true, 2},
        {"scan again keeps the selection", {{Click, 0}, {CtrlClick, 1}, {ScanAgain}}, false,
         false, 2},
        {"scan again, then the menu", {{Click, 0}, {CtrlClick, 1}, {ScanAgain}, {ContextMenu}},
         true, true, 2},
        {"a new entry changes nothing", {{Click, 0}, {CtrlClick, 1}, {Append}}, true, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list()->clear();
        window->disableImageCommands();
        for (const char* caption : {"Quillora_1.jpg", "Quillora_2.jpg", "Quillora_3.jpg"})
            addEntry(caption);
        for (const Step& s : c.steps) {
            switch (s.kind) {
            case Click: click(s.row); break;
            case CtrlClick: click(s.row, Qt::ControlModifier); break;
            case ContextMenu: openContextMenu(); break;
            case ScanAgain: window->disableImageCommands(); break;
            case Append: addEntry("Quillora_4.jpg"); break;
            }
        }
        for (const char* name : {"Preview", "Rename", "Delete", "Preview2", "Rename2", "Delete2"})
            EXPECT_EQ(action(name)->isEnabled(), c.single) << name;
        for (const char* name : {"SavetosinglePDF", "Savetotiff", "SavetosinglePDF1", "SavetoTIFF1"})
            EXPECT_EQ(action(name)->isEnabled(), c.multipage) << name;
        // Turning has a rule of its own: any entry selected, however the five stand.
        for (const char* name : {"RotateLeft", "RotateRight", "RotateHalf", "RotateLeft1",
                                 "RotateRight1", "RotateHalf1"})
            EXPECT_EQ(action(name)->isEnabled(), c.selected > 0) << name;
        EXPECT_EQ(window->selectionCount(), c.selected);
    }
}

// Rename through the command and the caption editor, as the user does it: the file is
// renamed without replacing anything and the caption follows only on success.
TEST_F(PaneTest, RenameRenamesTheFileOrKeepsEverything)
{
    struct Case
    {
        const char* typed;
        bool removedBefore; // the file went away outside the program
        bool renamed;
    };
    const Case cases[] = {
        {"Quillora_1.JPG", false, true},  // letter case alone
        {"page.png", false, true},        // another extension, same content
        {"Quillora_2.jpg", false, false}, // another entry's file
        {"../escaped.jpg", false, false}, // out of the folder
        {"sub/x.jpg", false, false},
        {"new.jpg", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        list()->clear();
        dialogs->messages.clear();
        QDir(scratchDir()).removeRecursively();
        QDir().mkpath(scratchDir() + "/sub");
        addEntry("Quillora_1.jpg");
        addEntry("Quillora_2.jpg");
        if (c.removedBefore)
            QFile::remove(outputFile("Quillora_1.jpg"));
        const QByteArray before = content("Quillora_1.jpg");
        const QString copy = entryCopyPath(list()->item(0));

        click(0);
        action("Rename")->trigger();
        QLineEdit* editor = openEditor();
        ASSERT_NE(editor, nullptr);
        editor->setText(c.typed);
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents(); // the editor commits from a queued call

        EXPECT_FALSE(nextButton()->isDefault());
        EXPECT_EQ(list()->item(0)->text(), c.renamed ? c.typed : "Quillora_1.jpg");
        EXPECT_EQ(entryCopyPath(list()->item(0)), copy);
        EXPECT_EQ(content("Quillora_2.jpg"), "page data of Quillora_2.jpg");
        EXPECT_FALSE(QFile::exists(root() + "/escaped.jpg"));
        EXPECT_FALSE(QFile::exists(scratchDir() + "/sub/x.jpg"));
        if (c.renamed) {
            EXPECT_TRUE(dialogs->messages.isEmpty());
            EXPECT_EQ(content(c.typed), before);
            EXPECT_FALSE(QFile::exists(outputFile("Quillora_1.jpg")));
        } else {
            ASSERT_EQ(dialogs->messages.size(), 1);
            const ScriptedDialogs::Shown& m = dialogs->messages.first();
            EXPECT_EQ(m.icon, Dialogs::Warning);
            EXPECT_EQ(m.title, "File rename");
            EXPECT_EQ(m.text,
                      "It is impossible to rename file. May be file was already deleted or moved");
            EXPECT_EQ(content("Quillora_1.jpg"), before);
        }
    }
}

TEST_F(PaneTest, EditingToTheSameCaptionDoesNothing)
{
    addEntry("Quillora_1.jpg");
    QString text = "Quillora_1.jpg";
    window->lv_ImagesEdited(list()->item(0), text);
    EXPECT_EQ(text, "Quillora_1.jpg");
    EXPECT_TRUE(dialogs->messages.isEmpty());
    EXPECT_TRUE(QFile::exists(outputFile("Quillora_1.jpg")));
}

TEST_F(PaneTest, EnterNoLongerScansAfterTheFirstRename)
{
    addEntry("Quillora_1.jpg");
    ASSERT_TRUE(nextButton()->isDefault());
    window->RenameExecute(); // nothing selected: nothing happens
    EXPECT_TRUE(nextButton()->isDefault());
    click(0);
    window->RenameExecute();
    ASSERT_NE(openEditor(), nullptr);
    QTest::keyClick(openEditor(), Qt::Key_Escape);
    EXPECT_FALSE(nextButton()->isDefault());
}

// Delete asks once and deletes the first selected entry's file; the entry goes only with
// its file, and the commands keep their states either way.
TEST_F(PaneTest, DeleteRemovesOnlyTheFirstSelectedEntry)
{
    struct Case
    {
        const char* name;
        Dialogs::Button answer;
        bool fileGone; // removed outside the program before
        QStringList captionsAfter;
    };
    const Case cases[] = {
        {"yes", Dialogs::Yes, false, {"a.jpg", "c.jpg", "d.jpg"}},
        {"no", Dialogs::No, false, {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}},
        {"vanished file", Dialogs::Yes, true, {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        list()->clear();
        dialogs->messages.clear();
        for (const char* caption : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
            addEntry(caption);
        if (c.fileGone)
            QFile::remove(outputFile("b.jpg"));
        click(3);
        click(1, Qt::ControlModifier);
        click(2, Qt::ControlModifier);
        dialogs->answers.push_back(c.answer);

        action("Delete")->trigger();

        ASSERT_EQ(dialogs->messages.size(), 1);
        const ScriptedDialogs::Shown& q = dialogs->messages.first();
        EXPECT_EQ(q.title, "Image deleting");
        EXPECT_EQ(q.text, "Do you want to delete this image?");
        EXPECT_EQ(q.buttons, Dialogs::Yes | Dialogs::No);
        EXPECT_EQ(q.defaultButton, Dialogs::Yes);
        QStringList captions;
        for (int row = 0; row < list()->count(); ++row)
            captions << list()->item(row)->text();
        EXPECT_EQ(captions, c.captionsAfter);
        for (const char* other : {"a.jpg", "c.jpg", "d.jpg"})
            EXPECT_TRUE(QFile::exists(outputFile(other))) << other;
        EXPECT_EQ(QFile::exists(outputFile("b.jpg")), !c.fileGone && c.answer != Dialogs::Yes);
        EXPECT_TRUE(QFile::exists(tempDir() + "/tempb.jpg.bmp"));
        // Three were selected: the export commands stay on, whatever happened.
        EXPECT_TRUE(action("SavetosinglePDF")->isEnabled());
        EXPECT_TRUE(action("Preview")->isEnabled());
    }
}

TEST_F(PaneTest, CommandsWithNothingSelectedDoNothing)
{
    addEntry("a.jpg");
    window->DeleteExecute();
    window->PreviewExecute();
    window->lv_ImagesDblClick();
    EXPECT_TRUE(dialogs->messages.isEmpty());
    EXPECT_EQ(dialogs->previews, 0);
    EXPECT_EQ(list()->count(), 1);
}
