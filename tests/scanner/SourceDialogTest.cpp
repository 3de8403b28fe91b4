// SPDX-License-Identifier: GPL-3.0-or-later
// The scanner's own dialog, shown over SANE's test scanner and played by the test through
// its controls (found by object name) while the library waits for the user.
#include "SaneFixture.h"

#include "scanner/SaneScannerLibrary.h"
#include "scanner/SourceDialog.h"
#include "scanner/WidgetAcquisitionUi.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

class SourceDialogTest : public SaneFixture
{
protected:
    void SetUp() override
    {
        SaneFixture::SetUp();
        AcquisitionUi::setCurrent(&ui);
        lib = std::make_unique<SaneScannerLibrary>();
    }
    void TearDown() override
    {
        lib.reset();
        AcquisitionUi::setCurrent(nullptr);
        SaneFixture::TearDown();
    }

    void open(int keepOpen)
    {
        ASSERT_EQ(lib->OpenSourceByName("Noname frontend-tester"), 1);
        lib->SetHideUI(0);
        lib->SetKeepSourceOpen(keepOpen);
        lib->SetUseFeeder(0);
        lib->SetPixelType(1);
        lib->SetResolution(50);
    }

    static SourceDialog* dialog()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<SourceDialog*>(w); d && d->isVisible())
                return d;
        return nullptr;
    }
    static void click(const char* button)
    {
        dialog()->findChild<QPushButton*>(QString::fromLatin1(button))->click();
    }

    // Plays the user: each step runs once its condition holds, checked on every turn of
    // the event loop the library waits in.
    struct Step
    {
        std::function<bool(SourceDialog*)> ready;
        std::function<void(SourceDialog*)> act;
    };
    void play(QList<Step> steps)
    {
        auto* timer = new QTimer(qApp);
        timer->setInterval(1);
        QObject::connect(timer, &QTimer::timeout, [timer, steps]() mutable {
            SourceDialog* d = dialog();
            if (steps.isEmpty() || !d) {
                if (steps.isEmpty())
                    timer->deleteLater();
                return;
            }
            if (steps.first().ready(d)) {
                const Step step = steps.takeFirst();
                step.act(d);
            }
        });
        timer->start();
    }
    static bool idle(SourceDialog* d)
    {
        return d->findChild<QPushButton*>(QStringLiteral("btn_Scan"))->isEnabled();
    }

    WidgetAcquisitionUi ui;
    std::unique_ptr<SaneScannerLibrary> lib;
};

TEST_F(SourceDialogTest, ShowsTheDeviceOptionsAndFollowsTheirChanges)
{
    open(0);
    ASSERT_TRUE(lib->sourceOptions()->setValue(QStringLiteral("test-picture"),
                                               QStringLiteral("Color pattern")));
    QStringList modes;
    bool threePassBefore = true, threePassAfter = false, colour = false;
    play({
        {idle,
         [&](SourceDialog* d) {
             auto* mode = d->findChild<QComboBox*>(QStringLiteral("mode"));
             ASSERT_TRUE(mode);
             for (int i = 0; i < mode->count(); ++i)
                 modes << mode->itemText(i);
             // Three-pass only exists for colour scans: inactive, so not shown yet.
             threePassBefore = d->findChild<QCheckBox*>(QStringLiteral("three-pass")) != nullptr;
             mode->setCurrentIndex(modes.indexOf(QStringLiteral("Color")));
             emit mode->activated(mode->currentIndex());
         }},
        {[](SourceDialog* d) { return d->findChild<QCheckBox*>(QStringLiteral("three-pass")); },
         [&](SourceDialog*) {
             threePassAfter = true;
             click("btn_Scan");
         }},
    });
    const ScannerLibrary::Handle page = lib->AcquireImage(nullptr);
    ASSERT_NE(page, 0u) << qPrintable(lib->LastErrorText());
    colour = !lib->image(page).isGrayscale();
    EXPECT_EQ(modes, QStringList({"Gray", "Color"}));
    EXPECT_FALSE(threePassBefore);
    EXPECT_TRUE(threePassAfter);
    EXPECT_TRUE(colour); // the page follows the option chosen in the dialog
    // Keep-open 0: the dialog closes with the page and the job's loop ends.
    EXPECT_EQ(lib->GetTwainState(), ScannerLibrary::StateSourceOpen);
    EXPECT_EQ(dialog(), nullptr);
}

TEST_F(SourceDialogTest, ReadOnlyOptionsAreDisabled)
{
    open(0);
    ASSERT_TRUE(lib->sourceOptions()->setValue(QStringLiteral("enable-test-options"), true));
    int disabled = -1;
    play({{idle, [&](SourceDialog* d) {
               disabled = 0;
               for (const SourceOption& o : lib->sourceOptions()->options())
                   if (o.active && !o.settable && o.size == 1 && o.type != SourceOption::Group) {
                       auto* w = d->findChild<QWidget*>(o.name);
                       EXPECT_TRUE(w) << qPrintable(o.name);
                       if (w && !w->isEnabled())
                           ++disabled;
                   }
               click("btn_Close");
           }}});
    EXPECT_EQ(lib->AcquireImage(nullptr), 0u);
    EXPECT_GT(disabled, 0);
    EXPECT_EQ(lib->LastErrorCode(), 0);
}

TEST_F(SourceDialogTest, KeepOpenGivesAPagePerScanUntilClosed)
{
    open(1);
    play({{idle, [](SourceDialog*) { click("btn_Scan"); }},
          {idle, [](SourceDialog*) { click("btn_Scan"); }},
          {idle, [](SourceDialog*) { click("btn_Close"); }}});
    QList<int> states;
    int pages = 0;
    // The job's loop with the dialog shown: continue while the state is 5 or more.
    do {
        const ScannerLibrary::Handle page = lib->AcquireImage(nullptr);
        if (!page)
            break;
        ++pages;
        lib->ReleaseImage(page);
        states << lib->GetTwainState();
    } while (lib->GetTwainState() >= ScannerLibrary::StateSourceEnabled && pages < 5);
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(states, QList<int>({5, 5}));
    EXPECT_EQ(lib->GetTwainState(), ScannerLibrary::StateSourceOpen);
    EXPECT_EQ(lib->LastErrorCode(), 0);
    EXPECT_EQ(dialog(), nullptr);
}

TEST_F(SourceDialogTest, CancelStopsThePageAndTheDialogStays)
{
    open(1);
    // A page of many buffers, each held back by the device, is still coming when Cancel
    // is pressed. Pressed once the first buffer is in: the test backend stops its reader
    // thread asynchronously, and stopping it mid set-up can leave the allocator locked.
    lib->SetResolution(300);
    ASSERT_TRUE(lib->sourceOptions()->setValue(QStringLiteral("read-delay"), true));
    ASSERT_TRUE(lib->sourceOptions()->setValue(QStringLiteral("read-delay-duration"), 200000));
    QString status;
    play({{idle, [](SourceDialog*) { click("btn_Scan"); }},
          {[](SourceDialog* d) {
               return d->findChild<QPushButton*>(QStringLiteral("btn_Cancel"))->isEnabled()
                   && d->findChild<QProgressBar*>(QStringLiteral("pb_Progress"))->value() > 0;
           },
           [](SourceDialog*) { click("btn_Cancel"); }},
          {idle,
           [&](SourceDialog* d) {
               status = d->findChild<QLabel*>(QStringLiteral("lbl_Status"))->text();
               click("btn_Close");
           }}});
    EXPECT_EQ(lib->AcquireImage(nullptr), 0u);
    EXPECT_EQ(status, QStringLiteral("Scanning cancelled"));
    EXPECT_EQ(lib->LastErrorCode(), 0); // cancelling is not a failure
    EXPECT_EQ(lib->GetTwainState(), ScannerLibrary::StateSourceOpen);
    // The device is free again: a scan after the cancelled one works.
    lib->SetHideUI(1);
    ASSERT_TRUE(lib->sourceOptions()->setValue(QStringLiteral("read-delay"), false));
    EXPECT_NE(lib->AcquireImage(nullptr), 0u);
}

TEST_F(SourceDialogTest, WithoutAWindowSystemTheDialogIsAnError)
{
    AcquisitionUi::setCurrent(nullptr);
    open(0);
    EXPECT_EQ(lib->AcquireImage(nullptr), 0u);
    EXPECT_EQ(lib->LastErrorCode(), ScannerLibrary::DialogUnavailable);
}

TEST_F(SourceDialogTest, HiddenDialogReadShowsProgressAndCanBeCancelled)
{
    open(0);
    lib->SetHideUI(1);
    lib->SetResolution(300);
    ASSERT_TRUE(lib->sourceOptions()->setValue(QStringLiteral("read-delay"), true));
    ASSERT_TRUE(lib->sourceOptions()->setValue(QStringLiteral("read-delay-duration"), 200000));
    // Cancel only once the page has begun to arrive: the test backend stops its reader
    // thread asynchronously, and stopping it while it still sets up its picture buffer can
    // leave the allocator locked for good.
    bool shown = false;
    QTimer timer;
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<QProgressDialog*>(w);
                p && p->isVisible() && p->value() > 0 && !shown) {
                shown = true;
                p->findChild<QPushButton*>()->click(); // its Cancel button
            }
    });
    timer.start();
    EXPECT_EQ(lib->AcquireImage(nullptr), 0u);
    EXPECT_TRUE(shown);
    EXPECT_EQ(lib->LastErrorCode(), 0);
    EXPECT_EQ(lib->GetTwainState(), ScannerLibrary::StateSourceOpen);
}

} // namespace
