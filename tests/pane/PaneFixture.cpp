// SPDX-License-Identifier: GPL-3.0-or-later
#include "PaneFixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTest>

void PaneTest::SetUp()
{
    SaneFixture::SetUp();
    dialogs = std::make_unique<ScriptedDialogs>();
    window = std::make_unique<Tfrm_Main>();
    child<QLineEdit>("edt_Path")->setText(scratchDir());
    child<QStackedWidget>("PageControl")->setCurrentWidget(child<QWidget>("TabSheet4"));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
}

void PaneTest::TearDown()
{
    window.reset();
    dialogs.reset();
    SaneFixture::TearDown();
}

QListWidgetItem* PaneTest::addEntry(const QString& caption, const QSize& size,
                                    const QColor& colour)
{
    QImage page(size, QImage::Format_RGB32);
    page.fill(colour);
    const QString copy = tempDir() + "/temp" + caption + ".bmp";
    EXPECT_TRUE(page.save(copy, "BMP"));
    QFile out(outputFile(caption));
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("page data of " + caption.toUtf8());
    auto* item = new QListWidgetItem(caption, list());
    item->setData(CopyPathRole, copy);
    return item;
}

QByteArray PaneTest::content(const QString& caption) const
{
    QFile f(outputFile(caption));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void PaneTest::click(int row, Qt::KeyboardModifiers modifiers)
{
    const QRect r = list()->visualItemRect(list()->item(row));
    QTest::mouseClick(list()->viewport(), Qt::LeftButton, modifiers, r.center());
}

void PaneTest::openContextMenu()
{
    window->PopupActionBar1->popup(list()->viewport()->mapToGlobal(QPoint(2, 2)));
    window->PopupActionBar1->hide();
}

QLineEdit* PaneTest::openEditor() const
{
    // Editors closed before are deleted later; let that happen first.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return list()->viewport()->findChild<QLineEdit*>();
}
