// SPDX-License-Identifier: GPL-3.0-or-later
#include "PaneFixture.h"

#include "app/SettingsStore.h"
#include "output/ImageFiles.h"
#include "scanner/Thumbnail.h"
#include "tests/output/PageFixtures.h"
#include "tests/output/TextPages.h"
#include "i18n/TLangDispatcher.h"
#include "ui/ImageList.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QDrag>
#include <QMimeData>
#include <QItemSelectionModel>
#include <QProgressDialog>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

// Pages told apart by their sizes (at 96 dpi, 0.75 pt a pixel in a PDF).
const QSize kSizes[] = {{64, 32}, {32, 48}, {80, 16}, {16, 16}};

QSizeF inPoints(const QSize& pixels) { return QSizeF(pixels) * 0.75; }

QImage pageOfSize(const QSize& size)
{
    QImage page = colourPage(size.width(), size.height(), 96);
    return page;
}

} // namespace

class PagesTest : public PaneTest
{
protected:
    // An entry as a scan job makes it: a real page file, a bitmap copy and a thumbnail kept
    // in the window's thumbnail list.
    QListWidgetItem* addPage(const QString& caption, const QSize& size)
    {
        return addPage(caption, pageOfSize(size));
    }
    QListWidgetItem* addPage(const QString& caption, const QImage& page)
    {
        const QSize size = page.size();
        const QString copy = tempDir() + "/temp" + caption + ".bmp";
        EXPECT_TRUE(writeImageFile(page, copy, {}, nullptr));
        EXPECT_TRUE(writeImageFile(page, outputFile(caption), {}, nullptr));
        const int index = window->il_Files->add(QPixmap::fromImage(makeThumbnail(page, size.width(), size.height())));
        auto* item = new QListWidgetItem(window->il_Files->icon(index), caption, list());
        item->setData(CopyPathRole, copy);
        item->setData(ThumbnailIndexRole, index);
        return item;
    }
    QStringList captions() const
    {
        QStringList out;
        for (int row = 0; row < list()->count(); ++row)
            out << list()->item(row)->text();
        return out;
    }
    QList<QSizeF> exportedPdf()
    {
        const QString target = root() + "/order.pdf";
        QFile::remove(target);
        dialogs->saveNames.push_back(target);
        action("SavetosinglePDF")->trigger();
        return pdfPageSizes(target);
    }
    void selectAll()
    {
        click(0);
        for (int row = 1; row < list()->count(); ++row)
            click(row, Qt::ControlModifier);
    }
    void pressCtrl(Qt::Key key) { QTest::keyClick(list(), key, Qt::ControlModifier); }
};

// The turning commands turn every selected page: its file, its copy (which preview and export
// read) and its thumbnail; the other entries are left alone.
TEST_F(PagesTest, TurningTurnsFileCopyAndThumbnail)
{
    addPage("a.png", kSizes[0]);
    addPage("b.jpg", QSize(64, 32));
    addPage("c.bmp", kSizes[2]);
    click(0);
    click(1, Qt::ControlModifier);
    const QImage untouched = QImage(outputFile("c.bmp"));

    action("RotateRight")->trigger();

    for (const char* caption : {"a.png", "b.jpg"}) {
        SCOPED_TRACE(caption);
        QListWidgetItem* item = list()->findItems(caption, Qt::MatchExactly).value(0);
        ASSERT_NE(item, nullptr);
        const QImage file(outputFile(caption));
        EXPECT_EQ(file.size(), QSize(32, 64));
        const QImage copy(entryCopyPath(item));
        EXPECT_EQ(copy.size(), QSize(32, 64));
        // The thumbnail is the turned page's, in the entry and in the thumbnail list.
        const QImage expected = makeThumbnail(copy, copy.width(), copy.height());
        EXPECT_EQ(item->icon().pixmap(100, 75).toImage().convertToFormat(QImage::Format_RGB32),
                  expected.convertToFormat(QImage::Format_RGB32));
        EXPECT_EQ(window->il_Files->image(item->data(ThumbnailIndexRole).toInt()).toImage()
                      .convertToFormat(QImage::Format_RGB32),
                  expected.convertToFormat(QImage::Format_RGB32));
    }
    EXPECT_EQ(QImage(outputFile("c.bmp")), untouched);
    EXPECT_TRUE(dialogs->messages.isEmpty());
    // The export reads the turned copies.
    EXPECT_EQ(exportedPdf(), (QList<QSizeF>{inPoints({32, 64}), inPoints({32, 64})}));

    // From the context menu, the other way round.
    openContextMenu();
    child<QAction>("RotateLeft1")->trigger();
    EXPECT_EQ(QImage(outputFile("a.png")).size(), kSizes[0]);
    child<QAction>("RotateHalf1")->trigger();
    EXPECT_EQ(QImage(outputFile("a.png")).size(), kSizes[0]);
}

// A page whose file is gone or read-only is named with the reason and stays as it was,
// copy and thumbnail included; the others are turned all the same.
TEST_F(PagesTest, PagesThatCannotBeTurnedAreReportedAndKept)
{
    addPage("gone.png", kSizes[0]);
    addPage("locked.png", kSizes[0]);
    addPage("fine.png", kSizes[0]);
    QFile::remove(outputFile("gone.png"));
    QFile::setPermissions(outputFile("locked.png"), QFile::ReadOwner | QFile::ReadGroup);
    const QImage lockedIcon = list()->item(1)->icon().pixmap(100, 75).toImage();
    selectAll();

    action("RotateLeft")->trigger();

    ASSERT_EQ(dialogs->messages.size(), 1);
    const auto& shown = dialogs->messages[0];
    EXPECT_EQ(shown.icon, Dialogs::Warning);
    EXPECT_EQ(shown.title, "Rotate pages");
    EXPECT_TRUE(shown.text.contains("gone.png: The file ")) << shown.text.toStdString();
    EXPECT_TRUE(shown.text.contains("no longer exists")) << shown.text.toStdString();
    EXPECT_TRUE(shown.text.contains("locked.png: ")) << shown.text.toStdString();
    EXPECT_TRUE(shown.text.contains("read-only")) << shown.text.toStdString();
    EXPECT_FALSE(shown.text.contains("fine.png"));
    for (int row : {0, 1})
        EXPECT_EQ(QImage(entryCopyPath(list()->item(row))).size(), kSizes[0]) << row;
    EXPECT_EQ(QImage(outputFile("locked.png")).size(), kSizes[0]);
    EXPECT_EQ(list()->item(1)->icon().pixmap(100, 75).toImage(), lockedIcon);
    EXPECT_EQ(QImage(outputFile("fine.png")).size(), kSizes[0].transposed());
    // The five commands keep their states: turning is no selection change.
    EXPECT_TRUE(action("SavetosinglePDF")->isEnabled());
}

// The names are those of the active language, and follow when it changes.
TEST_F(PagesTest, CommandNamesFollowTheLanguage)
{
    EXPECT_EQ(action("RotateLeft")->text(), "Rotate left");
    EXPECT_EQ(action("RotateHalf1")->text(), "Rotate 180°");
    window->LangDispatcher1->SetActiveLanguage(3);
    EXPECT_EQ(action("RotateRight")->text(), "Nach rechts drehen");
    EXPECT_EQ(action("RotateRight")->toolTip(), "Nach rechts drehen");
    EXPECT_EQ(action("RotateRight1")->text(), "Nach rechts drehen");
    EXPECT_EQ(child<QToolButton>("RotateButton")->text(), "Drehen");
    window->LangDispatcher1->SetActiveLanguage(2);
    EXPECT_EQ(action("RotateLeft")->text(), "Повернуть влево");
}

// Ctrl+Left and Ctrl+Right move the selected entries one place; the export follows the
// order the pane shows, and the selection and the commands stay as they were.
TEST_F(PagesTest, KeyboardMovesEntriesAndTheExportFollows)
{
    for (int i = 0; i < 4; ++i)
        addPage(QStringLiteral("p%1.png").arg(i), kSizes[i]);
    click(0);
    pressCtrl(Qt::Key_Right);
    pressCtrl(Qt::Key_Right);
    EXPECT_EQ(captions(), (QStringList{"p1.png", "p2.png", "p0.png", "p3.png"}));
    click(3, Qt::ControlModifier);   // p0 and p3 together
    pressCtrl(Qt::Key_Left);
    EXPECT_EQ(captions(), (QStringList{"p1.png", "p0.png", "p3.png", "p2.png"}));
    pressCtrl(Qt::Key_Right);
    EXPECT_EQ(captions(), (QStringList{"p1.png", "p2.png", "p0.png", "p3.png"}));
    pressCtrl(Qt::Key_Right);   // the two stand together at the end: nothing moves
    EXPECT_EQ(captions(), (QStringList{"p1.png", "p2.png", "p0.png", "p3.png"}));
    EXPECT_EQ(window->selectionCount(), 2);
    EXPECT_TRUE(action("SavetosinglePDF")->isEnabled());

    selectAll();
    EXPECT_EQ(exportedPdf(), (QList<QSizeF>{inPoints(kSizes[1]), inPoints(kSizes[2]),
                                            inPoints(kSizes[0]), inPoints(kSizes[3])}));
}

// Dragging entries onto another place puts them there, the export takes them in that order,
// and no dragged entry is lost; a drag from elsewhere changes nothing.
TEST_F(PagesTest, DraggingMovesEntriesAndTheExportFollows)
{
    for (int i = 0; i < 4; ++i)
        addPage(QStringLiteral("p%1.png").arg(i), kSizes[i]);
    click(0);

    // Ctrl-pressing a second entry takes it into the selection, and moving on drags both. Offscreen windows have no
    // drag and drop of their own (the drag ends at once, dropping nothing): the drop comes as
    // the window system delivers it, with the data of a drag the list has made.
    QWidget* viewport = list()->viewport();
    const QPoint pressed = list()->visualItemRect(list()->item(1)).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseMove}) {
        const QPoint at = pressed + QPoint(type == QEvent::MouseMove ? 30 : 0, 0);
        QMouseEvent e(type, at, viewport->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::ControlModifier);
        QApplication::sendEvent(viewport, &e);
    }
    EXPECT_EQ(captions(), (QStringList{"p0.png", "p1.png", "p2.png", "p3.png"}));
    EXPECT_EQ(window->selectionCount(), 2);
    EXPECT_EQ(openEditor(), nullptr);
    auto* drag = new QDrag(list());
    drag->setMimeData(new QMimeData);
    const QRect onto = list()->visualItemRect(list()->item(3));
    const QPointF end(onto.right() - 2, onto.center().y());   // past the middle of p3: behind it
    QDragEnterEvent enter(end.toPoint(), Qt::CopyAction | Qt::MoveAction, drag->mimeData(),
                          Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDragMoveEvent move(end.toPoint(), Qt::CopyAction | Qt::MoveAction, drag->mimeData(),
                        Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(end, Qt::CopyAction | Qt::MoveAction, drag->mimeData(), Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    EXPECT_TRUE(drop.isAccepted());
    delete drag;

    EXPECT_EQ(captions(), (QStringList{"p2.png", "p3.png", "p0.png", "p1.png"}));
    EXPECT_EQ(window->selectionCount(), 2);

    QMimeData foreign;
    foreign.setData("application/x-qabstractitemmodeldatalist", QByteArray());
    QDropEvent other(QPointF(2, 2), Qt::CopyAction | Qt::MoveAction, &foreign, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(viewport, &other);
    EXPECT_EQ(captions(), (QStringList{"p2.png", "p3.png", "p0.png", "p1.png"}));

    selectAll();
    EXPECT_EQ(exportedPdf(), (QList<QSizeF>{inPoints(kSizes[2]), inPoints(kSizes[3]),
                                            inPoints(kSizes[0]), inPoints(kSizes[1])}));
}

// A searchable export runs beside the window with the export's progress window: its Cancel
// stops the work and leaves no file; let through, the file holds the pages' words.
TEST_F(PagesTest, SearchableExportRunsBesideAndCanBeCancelled)
{
    {
        SettingsStore store;
        store.writeBool("SearchablePDF", true);
        store.writeString("OCRLanguage", "eng");
    }
    const QStringList words = sampleWords("eng", 30, 2);
    for (const char* caption : {"t1.png", "t2.png", "t3.png"})
        addPage(caption, renderTextPage(words, 0.2, 1).image);
    selectAll();
    const QString target = root() + "/text.pdf";

    bool pressed = false;
    QTimer cancel;
    cancel.setInterval(20);
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        auto* progress = window->findChild<QProgressDialog*>("ExportProgress");
        if (progress && progress->isVisible()) {
            progress->findChild<QPushButton*>()->click();
            pressed = true;
            cancel.stop();
        }
    });
    cancel.start();
    dialogs->saveNames.push_back(target);
    action("SavetosinglePDF")->trigger();
    EXPECT_TRUE(pressed);
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_EQ(folderEntries(root()).filter(".part"), QStringList());
    EXPECT_TRUE(dialogs->messages.isEmpty());

    dialogs->saveNames.push_back(target);
    action("SavetosinglePDF")->trigger();
    ASSERT_EQ(dialogs->messages.size(), 1);
    EXPECT_EQ(dialogs->messages[0].text, "PDF file successfully saved");
    const QString text = runTool("pdftotext", {target, "-"});
    for (const QString& word : words.mid(0, 5))
        EXPECT_TRUE(text.contains(word)) << word.toStdString();
    EXPECT_EQ(pdfPageSizes(target).size(), 3);
}
