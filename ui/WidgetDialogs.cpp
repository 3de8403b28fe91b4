// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WidgetDialogs.h"

#include "ui/PreviewWindow.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace {
QWidget* owner()
{
    if (QWidget* w = QApplication::activeModalWidget())
        return w;
    return QApplication::activeWindow();
}
} // namespace

Dialogs::Button WidgetDialogs::message(Icon icon, const QString& title, const QString& text,
                                       Buttons buttons, Button defaultButton)
{
    static const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Information,
                                              QMessageBox::Warning, QMessageBox::Critical,
                                              QMessageBox::Question};
    QMessageBox box(icons[icon], title, text,
                    QMessageBox::StandardButtons(static_cast<int>(buttons.toInt())), owner());
    if (defaultButton != NoButton)
        box.setDefaultButton(static_cast<QMessageBox::StandardButton>(defaultButton));
    return static_cast<Button>(box.exec());
}

QString WidgetDialogs::saveFileName(const QString& title, const QString& directory,
                                    const QString& filter, const QString& defaultSuffix)
{
    QFileDialog dialog(owner(), title, directory, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString WidgetDialogs::existingDirectory(const QString& title, const QString& start)
{
    return QFileDialog::getExistingDirectory(owner(), title, start);
}

void WidgetDialogs::preview(const PreviewRequest& request)
{
    PreviewWindow window(request, owner());
    window.exec();
}

int WidgetDialogs::execModal(QObject* dialog)
{
    auto* d = qobject_cast<QDialog*>(dialog);
    return d ? d->exec() : 0;
}
