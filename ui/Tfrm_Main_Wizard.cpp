// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard's page machine: Next and Back with their titles and button rules, the
// destination-folder check, the folder picker and the naming buttons.
#include "ui/Tfrm_Main.h"
#include "ui_Tfrm_Main.h"

#include "app/Dialogs.h"
#include "i18n/TCustomLangTable.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>

namespace {
// The scanner whose own dialog cannot be hidden: its hide-UI box is cleared and locked.
const QString kTarnwickRelay = QStringLiteral("Tarnwick Relay");
} // namespace

void Tfrm_Main::setUpWizard()
{
    connect(m_ui->btn_Next, &QPushButton::clicked, this, guard(&Tfrm_Main::btn_NextClick));
    connect(m_ui->btn_Back, &QPushButton::clicked, this, guard(&Tfrm_Main::btn_BackClick));
    connect(m_ui->btn_Folder, &QPushButton::clicked, this, guard(&Tfrm_Main::btn_FolderClick));
    connect(m_ui->RadioButton1, &QRadioButton::clicked, this,
            guard(&Tfrm_Main::RadioButton1Click));
    connect(m_ui->RadioButton2, &QRadioButton::clicked, this,
            guard(&Tfrm_Main::RadioButton2Click));
    m_ui->RadioButton1->installEventFilter(this);
    m_ui->RadioButton2->installEventFilter(this);
    m_ui->btn_Next->setDefault(true);
}

bool Tfrm_Main::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyRelease) {
        if (watched == m_ui->RadioButton1)
            guard(&Tfrm_Main::RadioButton1KeyUp)();
        else if (watched == m_ui->RadioButton2)
            guard(&Tfrm_Main::RadioButton2KeyUp)();
    }
    return QWidget::eventFilter(watched, event);
}

void Tfrm_Main::setPageTexts(const char* titleKey, const char* descriptionKey)
{
    m_ui->lbl_Title->setText(LangTable1->GetTextOrDefault(titleKey));
    m_ui->lbl_Description->setText(LangTable1->GetTextOrDefault(descriptionKey));
}

void Tfrm_Main::btn_NextClick()
{
    QWidget* page = m_ui->PageControl->currentWidget();
    if (page == m_ui->TabSheet3 && !checkDestinationFolder())
        return;
    if (page != m_ui->TabSheet4)
        m_ui->PageControl->setCurrentIndex(m_ui->PageControl->currentIndex() + 1);

    page = m_ui->PageControl->currentWidget();
    if (page == m_ui->TabSheet3) {
        setPageTexts("IDS_18", "IDS_19");
        m_ui->edt_Path->setText(m_rememberedFolder);
        applyTarnwickRelayRule();
        if (m_ui->edt_Path->text().isEmpty())
            m_ui->btn_Next->setEnabled(false);
        m_ui->btn_Back->setEnabled(true);
    } else if (page == m_ui->TabSheet4) {
        setPageTexts("IDS_20", "IDS_21");
        // A failure inside the job ends this handler here: the caption and Back stay as
        // they were, so a first job that failed can still go back to its settings.
        RunScanJob();
        m_ui->btn_Next->setText(LangTable1->GetTextOrDefault("IDS_22"));
        m_ui->btn_Back->setEnabled(false);
    }
}

void Tfrm_Main::btn_BackClick()
{
    const int index = m_ui->PageControl->currentIndex();
    if (index > 0)
        m_ui->PageControl->setCurrentIndex(index - 1);

    QWidget* page = m_ui->PageControl->currentWidget();
    if (page == m_ui->TabSheet2) {
        setPageTexts("IDS_5", "IDS_6");
        m_ui->btn_Back->setEnabled(false);
    } else if (page == m_ui->TabSheet3) {
        // Back from the images page after a failed job: the folder box keeps what it holds.
        setPageTexts("IDS_18", "IDS_19");
        if (m_ui->edt_Path->text().isEmpty())
            m_ui->btn_Next->setEnabled(false);
        applyTarnwickRelayRule();
        m_ui->btn_Back->setEnabled(true);
    }
}

bool Tfrm_Main::checkDestinationFolder()
{
    const QString folder = m_ui->edt_Path->text();
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        return true;
    Dialogs& dialogs = Dialogs::current();
    if (dialogs.message(Dialogs::Warning, LangTable1->GetTextOrDefault("IDS_13"), LangTable1->GetTextOrDefault("IDS_12"),
                        Dialogs::Yes | Dialogs::No, Dialogs::Yes) != Dialogs::Yes)
        return false;
    // One level only: a folder whose parent is missing is not created.
    if (folder.isEmpty() || !QDir().mkdir(folder)) {
        dialogs.message(Dialogs::Warning, LangTable1->GetTextOrDefault("IDS_13"), LangTable1->GetTextOrDefault("IDS_14"),
                        Dialogs::Ok, Dialogs::Ok);
        return false;
    }
    return true;
}

void Tfrm_Main::applyTarnwickRelayRule()
{
    const QList<QListWidgetItem*> selected = m_ui->lv_Devices->selectedItems();
    if (!selected.isEmpty() && selected.first()->text() == kTarnwickRelay) {
        // Clearing the box stores "HideUI" = 0 through its handler.
        m_ui->chb_UI->setChecked(false);
        m_ui->chb_UI->setEnabled(false);
    } else {
        m_ui->chb_UI->setEnabled(true);
    }
}

QString Tfrm_Main::dialogStartFolder() const
{
    // The folder box may name a folder that is still to be made (Next offers to create it);
    // the dialogs then open in the nearest folder above it that exists.
    QString folder = QDir::fromNativeSeparators(m_ui->edt_Path->text().trimmed());
    while (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            return {};
        folder = parent;
    }
    return folder;
}

void Tfrm_Main::btn_FolderClick()
{
    const QString folder = Dialogs::current().existingDirectory(
        LangTable1->GetTextOrDefault("IDS_41"), dialogStartFolder());
    if (!folder.isEmpty())
        m_ui->edt_Path->setText(QDir::toNativeSeparators(folder));
}

void Tfrm_Main::updateStartNumberBox()
{
    // Only the box: the counter's arrows stay usable.
    m_ui->edt_Start->setEnabled(m_ui->RadioButton1->isChecked());
}

void Tfrm_Main::RadioButton1Click() { updateStartNumberBox(); }
void Tfrm_Main::RadioButton2Click() { updateStartNumberBox(); }
void Tfrm_Main::RadioButton1KeyUp() { updateStartNumberBox(); }
void Tfrm_Main::RadioButton2KeyUp() { updateStartNumberBox(); }
