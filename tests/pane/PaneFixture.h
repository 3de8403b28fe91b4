// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "SaneFixture.h"
#include "ScriptedDialogs.h"

#include "ui/ImagesPane.h"
#include "ui/Tfrm_Main.h"

#include <QAction>
#include <QColor>
#include <QImage>
#include <QListWidget>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include <memory>

// The main window on its images page with entries standing for scanned pages: each has an
// output file in the scratch folder (the destination folder) and a temporary bitmap copy.
// The window lists scanners when shown, so SANE sees only its test backend.
class PaneTest : public SaneFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    QListWidget* list() const { return child<QListWidget>("lv_Images"); }
    QAction* action(const char* name) const { return child<QAction>(name); }
    QPushButton* nextButton() const { return child<QPushButton>("btn_Next"); }
    template<class T>
    T* child(const char* name) const
    {
        T* c = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    // Appends an entry as a scan job does; the copy is a page of `size` filled with `colour`.
    QListWidgetItem* addEntry(const QString& caption, const QSize& size = {40, 30},
                              const QColor& colour = Qt::gray);
    QString outputFile(const QString& caption) const { return scratchDir() + "/" + caption; }
    QByteArray content(const QString& caption) const;

    void click(int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void openContextMenu();
    // The caption editor that is open now.
    QLineEdit* openEditor() const;

    std::unique_ptr<ScriptedDialogs> dialogs;
    std::unique_ptr<Tfrm_Main> window;
};
