// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader hears on the main window beyond the captions of its table: the
// fields' names come from the labels they are the buddies of (in the form), the buttons
// without words and the lists get names of their own, and the title band's picture is
// passed over.
#include "ui/Tfrm_Main.h"

#include "i18n/OwnTexts.h"
#include "ui/Accessibility.h"
#include "ui/UpDown.h"
#include "ui_Tfrm_Main.h"

#include <QToolButton>

void Tfrm_Main::setUpAccessibility()
{
    using Accessibility::name;
    Accessibility::markDecorative(m_ui->ImageScaner);
    Accessibility::followLanguage(this, [this] {
        name(m_ui->spd_About, "a11y.about");
        name(m_ui->btn_fmtSettings, "a11y.fmtSettings", "a11y.fmtSettings.description");
        name(m_ui->btn_Folder, "a11y.chooseFolder", "a11y.chooseFolder.description");
        // The caption before the start number belongs to its naming button, which is named
        // by it already; the box gets a name of its own and the caption as its description.
        name(m_ui->edt_Start, "a11y.startNumber");
        m_ui->edt_Start->setAccessibleDescription(m_ui->RadioButton1->text());
        name(m_ui->UpDown1, "a11y.startCounter");
        m_ui->UpDown1->setStepNames(ownText("a11y.increase"), ownText("a11y.decrease"));
        name(m_ui->lv_Devices, "a11y.scanners");
        name(m_ui->lv_Images, "a11y.scannedImages");
        name(m_ui->ActionMainMenuBar1, "a11y.imageCommands");
        // The command bar's button for the commands that do not fit.
        if (auto* more = m_ui->ActionMainMenuBar1->findChild<QToolButton*>(
                QStringLiteral("qt_toolbar_ext_button")))
            name(more, "a11y.moreCommands");
    });
}
