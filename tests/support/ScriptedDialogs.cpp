// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScriptedDialogs.h"

#include <QDialog>
#include <QFileInfo>
#include <QStringList>

Dialogs::Button ScriptedDialogs::message(Icon icon, const QString& title, const QString& text,
                                         Buttons buttons, Button defaultButton)
{
    messages.append({icon, title, text, buttons, defaultButton});
    if (!answers.empty()) {
        Button b = answers.front();
        answers.pop_front();
        return b;
    }
    return defaultButton != NoButton ? defaultButton : Ok;
}

QString ScriptedDialogs::saveFileName(const QString& title, const QString& directory,
                                      const QString& filter, const QString& defaultSuffix)
{
    saveTitles.append(title);
    saveFilters.append(filter);
    saveFolders.append(directory);
    if (saveNames.empty())
        return {};
    QString name = saveNames.front();
    saveNames.pop_front();
    if (!defaultSuffix.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += u'.' + defaultSuffix;
    return name;
}

QString ScriptedDialogs::existingDirectory(const QString& title, const QString& start)
{
    folderTitles.append(title);
    folderStarts.append(start);
    if (folders.empty())
        return {};
    QString f = folders.front();
    folders.pop_front();
    return f;
}

void ScriptedDialogs::preview(const PreviewRequest& request)
{
    ++previews;
    if (onPreview)
        onPreview(request);
}

int ScriptedDialogs::execModal(QObject* dialog)
{
    ++modals;
    auto* d = qobject_cast<QDialog*>(dialog);
    if (d)
        d->show();
    int result = 0;
    if (!modalHandlers.empty()) {
        auto handler = modalHandlers.front();
        modalHandlers.pop_front();
        result = handler(dialog);
    }
    if (d && d->isVisible())
        d->hide();
    return result;
}

QStringList ScriptedDialogs::texts() const
{
    QStringList out;
    for (const Shown& m : messages)
        out << m.text;
    return out;
}
