// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Dialogs.h"

#include <QList>
#include <QString>

#include <deque>
#include <functional>

// Dialogs with preset answers, for widget tests. Every call is recorded; a message
// box takes the next queued answer, or its default button when none is queued. Modal
// windows are handed to a queued handler that plays the user's part; nothing sleeps.
class ScriptedDialogs : public Dialogs
{
public:
    struct Shown
    {
        Icon icon;
        QString title;
        QString text;
        Buttons buttons;
        Button defaultButton;
    };

    ScriptedDialogs() { Dialogs::setCurrent(this); }
    ~ScriptedDialogs() override { Dialogs::setCurrent(nullptr); }

    // Queued answers, taken first in, first out.
    std::deque<Button> answers;
    // Names typed into save dialogs; like the real dialog, a name without an extension
    // gets the dialog's default one.
    std::deque<QString> saveNames;
    std::deque<QString> folders;
    // A modal window is shown (not exec'd) and given to the next handler, whose return
    // value is the window's result; without a handler it is closed with 0.
    std::deque<std::function<int(QObject*)>> modalHandlers;
    std::function<void(const PreviewRequest&)> onPreview;

    // What was asked.
    QList<Shown> messages;
    QList<QString> saveTitles;
    QList<QString> saveFilters;  // the filter each save dialog offered
    QList<QString> saveFolders;  // the folder each save dialog opened in
    QList<QString> folderTitles;
    QList<QString> folderStarts; // the folder each folder picker opened in
    int previews = 0;
    int modals = 0;

    Button message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                   Button defaultButton) override;
    QString saveFileName(const QString& title, const QString& directory, const QString& filter,
                         const QString& defaultSuffix) override;
    QString existingDirectory(const QString& title, const QString& start) override;
    void preview(const PreviewRequest& request) override;
    int execModal(QObject* dialog) override;

    // The texts of the messages shown so far.
    QStringList texts() const;
};
