// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScriptedDialogs.h"

#include "app/Error.h"
#include "app/ErrorReport.h"
#include "app/QuilloraApplication.h"

#include <QEvent>

#include <gtest/gtest.h>

#include <stdexcept>

// This test runs under the program's own application object, so it brings its own main.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QuilloraApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillora"));
    return RUN_ALL_TESTS();
}

TEST(ErrorReport, FullStopRule)
{
    const struct
    {
        QString message;
        QString shown;
    } cases[] = {
        {"", ""},
        {"Cannot open the source", "Cannot open the source."},
        {"Failed to set data for 'Path'", "Failed to set data for 'Path'"}, // "'" sorts below "."
        {"Done.", "Done."},
        {"Stop!", "Stop!"},           // "!" sorts below "."
        {"(see log)", "(see log)"},   // so does ")"
        {"trailing blank ", "trailing blank "},
        {"a/b", "a/b."},              // "/" sorts above "."
        {"code 42", "code 42."},
        {QString::fromUtf8("Gerät"), QString::fromUtf8("Gerät.")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorReportText(c.message), c.shown) << c.message.toStdString();
}

TEST(ErrorReport, GuardedReportsEveryKindOfFailure)
{
    ScriptedDialogs dialogs;
    EXPECT_TRUE(guarded([] {}));
    EXPECT_FALSE(guarded([] { throw QuilloraError("Invalid data type for Color"); }));
    EXPECT_FALSE(guarded([] { throw std::runtime_error("disk full"); }));
    EXPECT_FALSE(guarded([] { throw 42; }));
    EXPECT_EQ(dialogs.texts(), (QStringList{"Invalid data type for Color.", "disk full.", ""}));
    for (const auto& shown : dialogs.messages) {
        EXPECT_EQ(shown.icon, Dialogs::Critical);
        EXPECT_EQ(shown.title, "Quillora");
        EXPECT_EQ(shown.buttons, Dialogs::Buttons(Dialogs::Ok));
    }
}

namespace {

// Fails while handling its first event of each kind asked to fail; counts what arrives.
class FailingReceiver : public QObject
{
public:
    int received = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        if (received++ == 0)
            throw QuilloraError("No scanner devices found");
        return true;
    }
};

} // namespace

TEST(QuilloraApplication, FailureInAHandlerIsReportedAndTheLoopGoesOn)
{
    ScriptedDialogs dialogs;
    FailingReceiver receiver;
    QEvent direct(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&receiver, &direct));
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&receiver);
    EXPECT_EQ(receiver.received, 3);
    EXPECT_EQ(dialogs.texts(), QStringList{"No scanner devices found."});
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].title, "Quillora");
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Critical);
}
