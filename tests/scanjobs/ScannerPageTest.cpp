// SPDX-License-Identifier: GPL-3.0-or-later
#include "RecordingLibrary.h"
#include "SaneFixture.h"
#include "ScriptedDialogs.h"
#include "app/SettingsStore.h"
#include "ui/ImageList.h"
#include "ui/ImagesPane.h"
#include "ui/Tfrm_Main.h"
#include "ui_Tfrm_Main.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QPointer>
#include <QStackedWidget>
#include <QTest>

#include <optional>

namespace {

// The scanner list over a library that lists the names a case needs (the test scanner's
// two devices share one name). lateNames answer after the rest, as network scanners do,
// when the test calls answerLate().
struct ListingLibrary : RecordingLibrary
{
    using RecordingLibrary::RecordingLibrary;
    QList<QByteArray> names;
    QList<QByteArray> lateNames;
    bool lateAnswered = true;
    bool canList = true;
    int position = 0;
    QPointer<QObject> lateReceiver;
    std::function<void()> lateDone;

    bool sourceListComplete() override { return lateAnswered; }
    void whenSourceListComplete(QObject* receiver, std::function<void()> done) override
    {
        lateReceiver = receiver;
        lateDone = std::move(done);
    }
    void answerLate()
    {
        names += lateNames;
        lateAnswered = true;
        if (lateReceiver && lateDone)
            std::exchange(lateDone, {})();
    }

    int BeginSourceList() override
    {
        position = 0;
        return canList ? 1 : 0;
    }
    int NextSourceName(char* buffer) override
    {
        if (position >= names.size())
            return 0;
        qstrncpy(buffer, names.at(position++).constData(), SourceNameSize);
        return 1;
    }
};

struct Step
{
    const char* what;
    enum Action { None, ClickRow, ClickEmpty, DoubleClickEmpty, Toggle } action;
    int row;
    bool next, boxEnabled, boxChecked;
    std::optional<QString> source;
};

class ScannerPageTest : public SaneFixture
{
protected:
    void TearDown() override
    {
        window.reset();
        ScannerLibrary::setInstance(nullptr);
        SaneFixture::TearDown();
    }

    void remember(const QString& name) { SettingsStore().writeString("Source", name); }
    std::optional<QString> remembered()
    {
        SettingsStore store;
        return store.valueExists("Source") ? std::optional(store.readString("Source"))
                                           : std::nullopt;
    }

    // Shows the window, which fills the list from these names.
    void open(const QList<QByteArray>& names)
    {
        listing.names = names;
        ScannerLibrary::setInstance(&listing);
        window = std::make_unique<Tfrm_Main>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    Ui::Tfrm_Main& ui() { return *window->ui(); }
    QPoint rowCenter(int row)
    {
        return ui().lv_Devices->visualItemRect(ui().lv_Devices->item(row)).center();
    }
    QPoint emptyArea() { return ui().lv_Devices->viewport()->rect().bottomRight() - QPoint(5, 5); }

    // Plays the user's part step by step and checks Next, the box and "Source" after each.
    void play(const QList<Step>& steps)
    {
        QWidget* viewport = ui().lv_Devices->viewport();
        for (const Step& s : steps) {
            SCOPED_TRACE(s.what);
            switch (s.action) {
            case Step::ClickRow:
                QTest::mouseClick(viewport, Qt::LeftButton, {}, rowCenter(s.row));
                break;
            case Step::ClickEmpty:
                QTest::mouseClick(viewport, Qt::LeftButton, {}, emptyArea());
                break;
            case Step::DoubleClickEmpty:
                QTest::mouseDClick(viewport, Qt::LeftButton, {}, emptyArea());
                break;
            case Step::Toggle:
                ui().chb_Remember->click();
                break;
            case Step::None:
                break;
            }
            EXPECT_EQ(ui().btn_Next->isEnabled(), s.next);
            EXPECT_EQ(ui().chb_Remember->isEnabled(), s.boxEnabled);
            EXPECT_EQ(ui().chb_Remember->isChecked(), s.boxChecked);
            EXPECT_EQ(remembered(), s.source);
        }
    }

    ScriptedDialogs dialogs;
    ListingLibrary listing{ScannerLibrary::instance()};
    std::unique_ptr<Tfrm_Main> window;
};

TEST_F(ScannerPageTest, SelectionClickAndBoxRulesCombine)
{
    remember("Scanner A");
    open({"Scanner A", "Scanner B"});
    EXPECT_EQ(ui().lv_Devices->count(), 2);
    EXPECT_EQ(ui().lv_Devices->item(1)->text(), "Scanner B");
    EXPECT_EQ(ui().PageControl->currentWidget(), ui().TabSheet2);

    using S = Step;
    play({
        {"remembered scanner selected at start", S::None, 0, true, true, true, "Scanner A"},
        {"another scanner forgets it", S::ClickRow, 1, true, true, false, std::nullopt},
        {"back to the first: stays forgotten", S::ClickRow, 0, true, true, false, std::nullopt},
        {"checking remembers the selected", S::Toggle, 0, true, true, true, "Scanner A"},
        {"empty area: Next and box off, mark kept", S::ClickEmpty, 0, false, false, true,
         "Scanner A"},
        {"double click on empty area does nothing", S::DoubleClickEmpty, 0, false, false, true,
         "Scanner A"},
        {"reselecting the remembered keeps it", S::ClickRow, 0, true, true, true, "Scanner A"},
        {"clearing forgets", S::Toggle, 0, true, true, false, std::nullopt},
        {"selecting with nothing remembered stores nothing", S::ClickRow, 1, true, true, false,
         std::nullopt},
        {"checking remembers the other", S::Toggle, 1, true, true, true, "Scanner B"},
    });
    EXPECT_EQ(ui().PageControl->currentWidget(), ui().TabSheet2);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(ScannerPageTest, RememberedScannerNotInstalledStaysStoredUntilTheBoxSaysOtherwise)
{
    remember("Gone");
    open({"Scanner A", "scanner a"});
    using S = Step;
    play({
        {"nothing selected", S::None, 0, false, false, false, "Gone"},
        {"selecting leaves it stored", S::ClickRow, 0, true, true, false, "Gone"},
        {"checking stores the selected instead", S::Toggle, 0, true, true, true, "Scanner A"},
    });
}

TEST_F(ScannerPageTest, NameComparedExactlyAndTheLaterTwinSelected)
{
    remember("Twin");
    open({"twin", "Twin", "Other", "Twin"});
    const QList<QListWidgetItem*> selected = ui().lv_Devices->selectedItems();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(ui().lv_Devices->row(selected.first()), 3);
    EXPECT_TRUE(ui().chb_Remember->isChecked());
    EXPECT_EQ(ui().lv_Devices->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(ScannerPageTest, SourcesThatCannotBeListedAreReportedOnce)
{
    listing.canList = false;
    open({"Scanner A"});
    EXPECT_EQ(ui().lv_Devices->count(), 0);
    EXPECT_FALSE(ui().btn_Next->isEnabled());
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages.first().title, "TWAIN Alert");
    EXPECT_EQ(dialogs.messages.first().text, "No scanner devices found.");
    EXPECT_EQ(dialogs.messages.first().icon, Dialogs::Information);
}

TEST_F(ScannerPageTest, EmptyListShowsNoMessage)
{
    open({});
    EXPECT_EQ(ui().lv_Devices->count(), 0);
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

// Network scanners answer after the window shows: they are appended, and the remembered one
// is selected unless the user has chosen another meanwhile.
TEST_F(ScannerPageTest, LateScannersAreAppendedWithoutTakingTheUsersChoice)
{
    for (const bool userChose : {false, true}) {
        SCOPED_TRACE(userChose);
        remember("Net B");
        listing.names = {};
        listing.lateNames = {"Net B"};
        listing.lateAnswered = false;
        open({"Local A"});
        ASSERT_EQ(ui().lv_Devices->count(), 1);
        EXPECT_FALSE(ui().btn_Next->isEnabled());
        if (userChose)
            QTest::mouseClick(ui().lv_Devices->viewport(), Qt::LeftButton, {}, rowCenter(0));
        listing.answerLate();
        ASSERT_EQ(ui().lv_Devices->count(), 2);
        EXPECT_EQ(ui().lv_Devices->item(1)->text(), "Net B");
        ASSERT_EQ(ui().lv_Devices->selectedItems().size(), 1);
        EXPECT_EQ(ui().lv_Devices->selectedItems().first()->text(),
                  userChose ? "Local A" : "Net B");
        EXPECT_EQ(ui().chb_Remember->isChecked(), !userChose);
        EXPECT_TRUE(dialogs.messages.isEmpty());
        window.reset();
    }
}

// Whether there is no scanner at all is known once the last part of the listing is in; it
// is told then, and only to a window someone can see.
TEST_F(ScannerPageTest, NoScannerAtAllIsToldOnceTheListingIsComplete)
{
    for (const bool hidden : {false, true}) {
        SCOPED_TRACE(hidden);
        dialogs.messages.clear();
        listing.lateAnswered = false;
        open({});
        EXPECT_TRUE(dialogs.messages.isEmpty());
        if (hidden)
            window->hide();
        listing.answerLate();
        EXPECT_EQ(dialogs.texts(),
                  hidden ? QStringList() : QStringList({"No scanner devices found."}));
        window.reset();
    }
}

// The same with SANE itself: no backend lists a device.
TEST_F(ScannerPageTest, NoDeviceFromSaneIsTold)
{
    QFile dll(saneConfigDir() + "/dll.conf");
    ASSERT_TRUE(dll.open(QIODevice::WriteOnly | QIODevice::Truncate));
    dll.close();
    ScannerLibrary::setInstance(nullptr);
    window = std::make_unique<Tfrm_Main>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QTRY_COMPARE_WITH_TIMEOUT(dialogs.messages.size(), 1, 15000);
    EXPECT_EQ(dialogs.messages.first().title, "TWAIN Alert");
    EXPECT_EQ(dialogs.messages.first().text, "No scanner devices found.");
    EXPECT_EQ(ui().lv_Devices->count(), 0);
}

// A network host that never answers: the window shows at once with the local scanners, and
// the remembered one scans right away.
TEST_F(ScannerPageTest, SilentNetworkHostHoldsUpNeitherTheWindowNorTheScan)
{
    SilentSaneHost host(saneConfigDir());
    ASSERT_TRUE(host.listening());
    remember("Noname frontend-tester");
    ScannerLibrary::setInstance(nullptr);
    QElapsedTimer timer;
    timer.start();
    window = std::make_unique<Tfrm_Main>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(ui().lv_Devices->count(), 2);
    ASSERT_FALSE(ui().lv_Devices->selectedItems().isEmpty());
    ui().chb_UI->setChecked(true);
    ui().cmb_Resolution->setCurrentIndex(0);
    ui().cb_Format->setCurrentIndex(3);
    ui().edt_Path->setText(scratchDir());
    window->RunScanJob();
    EXPECT_EQ(ui().lv_Images->count(), 1);
    EXPECT_LT(timer.elapsed(), 2000);
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.texts().join('|').toStdString();
}

TEST_F(ScannerPageTest, DoubleClickOnScannerMovesOn)
{
    open({"Scanner A"});
    QTest::mouseClick(ui().lv_Devices->viewport(), Qt::LeftButton, {}, rowCenter(0));
    QTest::mouseDClick(ui().lv_Devices->viewport(), Qt::LeftButton, {}, rowCenter(0));
    EXPECT_EQ(ui().PageControl->currentWidget(), ui().TabSheet3);
}

// The interactive job as the window runs it: the settings page in, the images pane out.
TEST_F(ScannerPageTest, ScanJobFillsThePaneAndRaisesTheCounter)
{
    remember("Noname frontend-tester");
    ScannerLibrary::setInstance(nullptr);
    window = std::make_unique<Tfrm_Main>();
    window->show();
    ASSERT_FALSE(ui().lv_Devices->selectedItems().isEmpty());
    ui().chb_UI->setChecked(true);
    ui().cmb_Resolution->setCurrentIndex(0); // 75 dpi
    ui().cb_Format->setCurrentIndex(3);      // PNG
    ui().edt_FileName->setText("Scan_");
    ui().edt_Path->setText(scratchDir());
    ui().RadioButton1->setChecked(true);

    window->RunScanJob();
    window->RunScanJob();

    ASSERT_EQ(ui().lv_Images->count(), 2);
    EXPECT_EQ(ui().lv_Images->item(0)->text(), "Scan_1.png");
    EXPECT_EQ(ui().lv_Images->item(1)->text(), "Scan_2.png");
    EXPECT_EQ(entryCopyPath(ui().lv_Images->item(1)), tempDir() + "/temp2.bmp");
    EXPECT_EQ(QImageReader(scratchDir() + "/Scan_2.png").size(), QSize(236, 295));
    EXPECT_EQ(window->il_Files->count(), 2);
    EXPECT_EQ(ui().edt_Start->text(), "3");
    EXPECT_FALSE(ui().Preview->isEnabled());
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.texts().join('|').toStdString();
}

} // namespace
