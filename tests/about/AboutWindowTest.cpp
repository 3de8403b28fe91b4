// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Tfrm_About.h"
#include "about/UpdateCheck.h"
#include "app/SettingsStore.h"
#include "i18n/TCustomLangTable.h"
#include "IsolatedTest.h"
#include "ScriptedDialogs.h"
#include "TestHttpServer.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

const QString kDownloadPath = QStringLiteral("/products/quillora/download.html");

class AboutWindowTest : public IsolatedTest
{
protected:
    void SetUp() override
    {
        IsolatedTest::SetUp();
        about = std::make_unique<Tfrm_About>();
        about->updateCheck().setUrlOpener([this](const QUrl& url) { opened.append(url); });
        SettingsStore().writeString(QStringLiteral("UpdateHost"),
                                    QStringLiteral("127.0.0.1:%1").arg(server.port()));
    }

    void showIn(int language)
    {
        about->LangTable1->setActiveLanguage(language);
        dialogs.execModal(about.get());
    }

    void clickUpdate() { about->findChild<QPushButton*>(QStringLiteral("btn_Update"))->click(); }

    ScriptedDialogs dialogs;
    TestHttpServer server;
    std::unique_ptr<Tfrm_About> about;
    QList<QUrl> opened;
};

// Each showing reads the version again and the prefix in the language active then.
TEST_F(AboutWindowTest, VersionLabelInEachLanguage)
{
    const std::pair<int, QString> cases[] = {
        {1, QStringLiteral("Version 1.17.0.0")},
        {2, QStringLiteral("Версия 1.17.0.0")},
        {3, QStringLiteral("Version 1.17.0.0")}, // no German prefix: the English one
    };
    for (const auto& [language, label] : cases) {
        showIn(language);
        EXPECT_EQ(about->findChild<QLabel*>(QStringLiteral("lbl_Version"))->text(), label) << language;
    }
}

// The notice names the program's licence and, wrapped, fits the label's two lines.
TEST_F(AboutWindowTest, NoticeNamesTheLicenceInEachLanguage)
{
    for (int language : {1, 2, 3}) {
        showIn(language);
        const QLabel* notice = about->findChild<QLabel*>(QStringLiteral("lbl_Copyright"));
        EXPECT_TRUE(notice->text().contains(QStringLiteral("GNU GPL 3"))) << language;
        const QRect wrapped = notice->fontMetrics().boundingRect(
            QRect(0, 0, notice->width(), 0), Qt::TextWordWrap, notice->text());
        EXPECT_LE(wrapped.height(), notice->height()) << language;
    }
}

TEST_F(AboutWindowTest, NewerVersionOffersTheDownloadPageOfTheActiveLanguage)
{
    server.answer = [](const TestHttpServer::Request&) {
        return TestHttpServer::response(
            200, "<Update><Program_Info><Program_Version>1.18</Program_Version></Program_Info></Update>");
    };
    const std::pair<int, QString> cases[] = {{1, QStringLiteral("/en")}, {2, QStringLiteral("/ru")}, {3, QStringLiteral("/en")}};
    for (const auto& [language, folder] : cases) {
        showIn(language);
        dialogs.answers = {Dialogs::Yes};
        clickUpdate();
        ASSERT_EQ(opened.size(), 1) << language;
        EXPECT_EQ(opened.takeFirst().path(), folder + kDownloadPath);
    }
    ASSERT_EQ(dialogs.messages.size(), 3);
    EXPECT_EQ(dialogs.messages[0].title, u"Checking Quillora updates");
    EXPECT_EQ(dialogs.messages[0].text, u"There is new version available on our site!\n"
                                        u"Do you want to visit site to download new version?");
    EXPECT_EQ(dialogs.messages[1].title, u"Проверка обновлений Quillora");
}

TEST_F(AboutWindowTest, LatestVersionIsTold)
{
    server.answer = [](const TestHttpServer::Request&) {
        return TestHttpServer::response(
            200, "<Update><Program_Info><Program_Version>1.17.0.0</Program_Version></Program_Info></Update>");
    };
    showIn(1);
    clickUpdate();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text, u"You are using the latest version of Quillora");
    EXPECT_TRUE(opened.isEmpty());
}

TEST_F(AboutWindowTest, DownloadFileThatCannotBeCreatedReachesTheGeneralErrorReport)
{
    qputenv("TEMP", (scratchDir() + QStringLiteral("/missing")).toLocal8Bit());
    showIn(1);
    clickUpdate();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Critical);
    EXPECT_EQ(dialogs.messages[0].title, u"Quillora");
    EXPECT_TRUE(dialogs.messages[0].text.startsWith(QStringLiteral("Cannot create file \"") + scratchDir()))
        << dialogs.messages[0].text.toStdString();
    EXPECT_TRUE(server.requests.isEmpty());
}

} // namespace
