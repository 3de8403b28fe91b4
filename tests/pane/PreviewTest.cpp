// SPDX-License-Identifier: GPL-3.0-or-later
#include "PaneFixture.h"
#include "PeakMemory.h"

#include "ui/PreviewWindow.h"
#include "ui/PrintLayout.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {
// The colour the request's renderer puts 0.3 in from the top-left corner of a Letter sheet,
// just inside the image box.
QColor colourInTheBox(const Dialogs::PreviewRequest& request)
{
    QImage sheet(425, 550, QImage::Format_RGB32); // Letter at 50 dpi
    sheet.setDotsPerMeterX(qRound(50 / 0.0254));
    sheet.setDotsPerMeterY(qRound(50 / 0.0254));
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    request.render(painter, QRectF(sheet.rect()), 50);
    painter.end();
    return sheet.pixelColor(15, 15);
}
} // namespace

// Preview shows the first selected entry in list order, from its temporary copy, however
// the user came to select it and whatever became of the output file.
TEST_F(PaneTest, PreviewShowsTheFirstSelectedEntrysCopy)
{
    addEntry("a.jpg", {40, 30}, Qt::red);
    addEntry("b.jpg", {40, 30}, Qt::green);
    QFile::remove(outputFile("a.jpg"));
    QList<Dialogs::PreviewRequest> requests;
    dialogs->onPreview = [&](const Dialogs::PreviewRequest& r) { requests.append(r); };

    click(1);
    click(0, Qt::ControlModifier);
    action("Preview")->trigger();
    window->lv_ImagesDblClick();
    ASSERT_EQ(requests.size(), 2);
    const Dialogs::PreviewRequest& r = requests.first();
    EXPECT_EQ(r.title, "Image Preview");
    EXPECT_EQ(r.printTitle, "Output Options");
    EXPECT_EQ(r.statusTitle, "Image Status");
    EXPECT_EQ(r.generatingText, "Generating page %p");
    EXPECT_EQ(r.printingText, "Printing page %p");
    EXPECT_EQ(r.documentName, "Quillora Report");
    EXPECT_EQ(colourInTheBox(r), QColor(Qt::red));
    EXPECT_TRUE(dialogs->messages.isEmpty());

    // Ctrl-clicking one out disables Preview: a double click then previews nothing.
    click(0, Qt::ControlModifier);
    window->lv_ImagesDblClick();
    EXPECT_EQ(requests.size(), 2);
}

TEST_F(PaneTest, PreviewOfAMissingOrUnreadableCopyReportsTheFailure)
{
    for (bool missing : {true, false}) {
        SCOPED_TRACE(missing ? "missing" : "not a bitmap");
        list()->clear();
        dialogs->messages.clear();
        QListWidgetItem* entry = addEntry("a.jpg");
        const QString copy = entryCopyPath(entry);
        QFile::remove(copy);
        if (!missing) {
            QFile f(copy);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("not a bitmap");
        }
        click(0);
        action("Preview")->trigger();
        EXPECT_EQ(dialogs->previews, 0);
        ASSERT_EQ(dialogs->messages.size(), 1);
        EXPECT_EQ(dialogs->messages[0].icon, Dialogs::Critical);
        EXPECT_TRUE(dialogs->messages[0].text.contains(copy)) << dialogs->messages[0].text.toStdString();
        EXPECT_EQ(list()->count(), 1);
    }
}

namespace {

// A 24-bit bitmap as the scan job writes its copies, of the largest page the resolution list
// gives (Letter at 2400 dpi, 1.6 GB), kept sparse on disk: black but for one red band of rows
// across its middle.
void writeHugeCopy(const QString& path, int width, int height, int bandTop, int bandRows)
{
    const qint64 stride = (qint64(width) * 3 + 3) / 4 * 4;
    QByteArray header(54, 0);
    auto put32 = [&](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = char(v >> (8 * i));
    };
    header[0] = 'B';
    header[1] = 'M';
    put32(2, quint32(54 + stride * height));
    put32(10, 54);
    put32(14, 40);
    put32(18, quint32(width));
    put32(22, quint32(height));
    header[26] = 1;
    header[28] = 24;
    put32(38, 94488);   // 2400 dpi
    put32(42, 94488);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(header), 54);
    ASSERT_TRUE(f.resize(54 + stride * height));
    QByteArray red(stride, 0);
    for (int x = 0; x < width; ++x)
        red[3 * x + 2] = char(0xff);   // stored as blue, green, red
    // Rows are stored bottom-up.
    ASSERT_TRUE(f.seek(54 + stride * (height - bandTop - bandRows)));
    for (int i = 0; i < bandRows; ++i)
        ASSERT_EQ(f.write(red), stride);
}

} // namespace

// A page of any size the resolution list allows previews and prints: it is read at the size
// it takes on the device, so memory never holds the scanned page (1.6 GB here) whole.
TEST_F(PaneTest, TheLargestPageIsPreviewedAtTheDevicesResolution)
{
    const int width = 20400, height = 26400;   // Letter at 2400 dpi
    QListWidgetItem* entry = addEntry("huge.png");
    writeHugeCopy(entryCopyPath(entry), width, height, 13200, 264);
    QList<Dialogs::PreviewRequest> requests;
    dialogs->onPreview = [&](const Dialogs::PreviewRequest& r) { requests.append(r); };

    const PeakMemory memory;
    click(0);
    action("Preview")->trigger();
    ASSERT_TRUE(dialogs->messages.isEmpty()) << dialogs->texts().join(' ').toStdString();
    ASSERT_EQ(requests.size(), 1);
    QImage sheet(850, 1100, QImage::Format_RGB32);   // Letter at 100 dpi
    sheet.setDotsPerMeterX(qRound(100 / 0.0254));
    sheet.setDotsPerMeterY(qRound(100 / 0.0254));
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    requests[0].render(painter, QRectF(sheet.rect()), 100);
    painter.end();
    EXPECT_LT(memory.growthMiB(), 200.0);

    // 8.0 in wide at 0.2 in, 10.35 in high; the band lies half way down, 0.1 in high.
    const auto at = [&](double xInches, double yInches) {
        return sheet.pixelColor(int(xInches * 100), int(yInches * 100));
    };
    EXPECT_EQ(at(0.1, 1.0), QColor(Qt::white));
    EXPECT_EQ(at(4.0, 2.0), QColor(Qt::black));
    EXPECT_EQ(at(4.0, 0.2 + 10.353 * 0.5 + 0.05), QColor(Qt::red));
    EXPECT_EQ(at(8.1, 9.0), QColor(Qt::black));
    EXPECT_EQ(at(8.3, 9.0), QColor(Qt::white));
    EXPECT_EQ(at(4.0, 10.7), QColor(Qt::white));
}

// The preview window opens at 100 % and renders the page on its printer, whose print job
// carries the document's name.
TEST(PreviewWindowTest, OpensAtFullSizeAndRendersOnItsPrinter)
{
    Dialogs::PreviewRequest request;
    request.title = "Image Preview";
    request.documentName = "Quillora Report";
    request.generatingText = "Generating page %p";
    int rendered = 0;
    QString docName;
    request.render = [&](QPainter& painter, const QRectF&, int) {
        ++rendered;
        if (auto* printer = dynamic_cast<QPrinter*>(painter.device()))
            docName = printer->docName();
    };
    PreviewWindow window(request);
    EXPECT_EQ(window.windowTitle(), "Image Preview");
    EXPECT_DOUBLE_EQ(window.view()->zoomFactor(), 1.0);
    window.view()->updatePreview();
    EXPECT_EQ(rendered, 1);
    EXPECT_EQ(docName, "Quillora Report");
    EXPECT_EQ(window.view()->pageCount(), 1);
}

// However the preview goes away, also after printing or a cancelled print, and also torn
// down while its zoom box still has the focus (on a desktop the focus comes back there from
// the print options and leaves it only as the window is destroyed): nothing of the preview
// runs on the half-destroyed window. The sanitizer build sees the slot that did.
TEST(PreviewWindowTest, ClosesCleanlyInEveryWay)
{
    ScriptedDialogs dialogs;
    QTemporaryDir printed;
    enum Print { NoPrint, Printed, Cancelled };
    enum Close { CloseButton, Escape, WindowClose, TornDown };
    QImage picture(300, 200, QImage::Format_RGB888);
    picture.fill(Qt::darkCyan);
    for (Print print : {NoPrint, Printed, Cancelled}) {
        for (Close how : {CloseButton, Escape, WindowClose, TornDown}) {
            SCOPED_TRACE(testing::Message() << "print " << print << ", close " << how);
            Dialogs::PreviewRequest request;
            int rendered = 0;
            request.render = [&](QPainter& painter, const QRectF&, int) {
                ++rendered;
                renderPrintLayout(painter, picture);
            };
            auto window = std::make_unique<PreviewWindow>(request);
            window->printer().setOutputFileName(printed.filePath(QStringLiteral("page.pdf")));
            window->show();
            QApplication::setActiveWindow(window.get());
            QCoreApplication::processEvents();
            if (print != NoPrint) {
                dialogs.modalHandlers.push_back([print](QObject*) {
                    return print == Printed ? int(QDialog::Accepted) : int(QDialog::Rejected);
                });
                const int before = rendered;
                window->print();
                if (print == Printed)
                    EXPECT_GT(rendered, before);
                else
                    EXPECT_EQ(rendered, before);
                EXPECT_TRUE(window->isVisible());
            }
            window->findChild<QComboBox*>()->lineEdit()->setFocus();
            QCoreApplication::processEvents();
            switch (how) {
            case CloseButton:
                for (QAction* a : window->findChildren<QAction*>())
                    if (a->text() == QLatin1String("Close"))
                        a->trigger();
                break;
            case Escape:
                QTest::keyClick(window.get(), Qt::Key_Escape);
                break;
            case WindowClose:
                window->close();
                break;
            case TornDown:
                break;
            }
            EXPECT_EQ(window->isVisible(), how == TornDown);
            window.reset();
            QCoreApplication::processEvents();
        }
    }
}
