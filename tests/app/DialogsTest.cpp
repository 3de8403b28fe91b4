// SPDX-License-Identifier: GPL-3.0-or-later
#include "IsolatedTest.h"
#include "ScriptedDialogs.h"

#include <QSettings>

// The harness itself: a scripted answer reaches the caller, and every test starts from
// an empty settings store of its own.
class HarnessTest : public IsolatedTest
{
};

TEST_F(HarnessTest, ScriptedAnswerAndDefault)
{
    ScriptedDialogs dialogs;
    dialogs.answers.push_back(Dialogs::No);
    EXPECT_EQ(Dialogs::current().message(Dialogs::Question, "t", "q", Dialogs::Yes | Dialogs::No,
                                         Dialogs::Yes),
              Dialogs::No);
    EXPECT_EQ(Dialogs::current().message(Dialogs::Question, "t", "q2", Dialogs::Yes | Dialogs::No,
                                         Dialogs::Yes),
              Dialogs::Yes);
    EXPECT_EQ(dialogs.texts(), (QStringList{"q", "q2"}));
}

TEST_F(HarnessTest, SettingsStartEmptyAndStayPrivate)
{
    QSettings s(QStringLiteral("Quillora"), QStringLiteral("Quillora"));
    EXPECT_TRUE(s.allKeys().isEmpty());
    s.setValue("Probe", 1);
    s.sync();
    EXPECT_TRUE(s.fileName().startsWith(configDir())) << s.fileName().toStdString();
}
