// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Dialogs.h"

// The desktop implementation of the dialog interface: real message boxes, file and folder
// dialogs and the print preview, owned by the active window.
class WidgetDialogs : public Dialogs
{
public:
    Button message(Icon icon, const QString& title, const QString& text, Buttons buttons,
                   Button defaultButton) override;
    QString saveFileName(const QString& title, const QString& directory, const QString& filter,
                         const QString& defaultSuffix) override;
    QString existingDirectory(const QString& title, const QString& start) override;
    void preview(const PreviewRequest& request) override;
    int execModal(QObject* dialog) override;
};
