// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Tfrm_Main.h"

#include "app/Dialogs.h"
#include "app/ErrorReport.h"
#include "app/SettingsStore.h"
#include "i18n/TCustomLangTable.h"
#include "i18n/TLangDispatcher.h"
#include "i18n/WidgetLangAdapter.h"
#include "ui/Artwork.h"
#include "ui/DesignFont.h"
#include "ui/ImageList.h"
#include "ui_Tfrm_Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QShowEvent>

namespace {

// Names of the stored values this window reads and writes.
const QString kPath = QStringLiteral("Path");
const QString kResolution = QStringLiteral("Resolution");
const QString kFormat = QStringLiteral("Format");
const QString kDatenum = QStringLiteral("Datenum");
const QString kAdf = QStringLiteral("ADF");
const QString kColor = QStringLiteral("Color");
const QString kFilePrefix = QStringLiteral("FilePrefix");
const QString kHideUI = QStringLiteral("HideUI");
const QString kLang = QStringLiteral("Lang");

// A context-menu entry that stands for an action: it shows the action's caption and icon,
// follows them when they change (a language switch), and runs the action's handler.
void bindEntry(QAction* entry, QAction* action)
{
    auto follow = [entry, action] {
        entry->setText(action->text());
        entry->setIcon(action->icon());
    };
    follow();
    QObject::connect(action, &QAction::changed, entry, follow);
    QObject::connect(entry, &QAction::triggered, action, &QAction::trigger);
}

} // namespace

Tfrm_Main::Tfrm_Main(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::Tfrm_Main>())
{
    m_ui->setupUi(this);
    setFont(designFont(QStringLiteral("Tahoma"), 11));
    QFont bold = m_ui->lbl_Title->font();
    bold.setBold(true);
    m_ui->lbl_Title->setFont(bold);
    setFixedSize(467, 373);
    if (QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());

    // The title band is white with a thin line along its bottom edge; its text stays dark
    // on it under any colour scheme, a dark one included.
    QPalette white = m_ui->Panel_Top->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    m_ui->Panel_Top->setPalette(white);
    QPalette line = m_ui->Bevel_Top->palette();
    line.setColor(QPalette::WindowText, QColor(0xa0, 0xa0, 0xa0));
    m_ui->Bevel_Top->setPalette(line);

    // Settings page as laid out: Gray at 100 dpi, no format chosen, sequence numbers from 1,
    // the home folder as destination. Set before the handlers are connected, as loading a
    // window runs none of them.
    m_ui->cmb_Mode->setCurrentIndex(1);
    m_ui->cmb_Resolution->setCurrentIndex(1);
    m_ui->cb_Format->setCurrentIndex(-1);
    m_ui->edt_Path->setText(QDir::toNativeSeparators(QDir::homePath()));
    m_ui->UpDown1->setAssociate(m_ui->edt_Start);
    m_ui->btn_Folder->raise(); // sits over the right end of the folder box

    // The scanner list keeps its selection visible while another control has the focus.
    QPalette devices = m_ui->lv_Devices->palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        devices.setColor(QPalette::Inactive, role, devices.color(QPalette::Active, role));
    m_ui->lv_Devices->setPalette(devices);

    setUpPictures();
    setUpImagesPage();
    setUpImagesPane();
    setUpPageCommands();
    setUpScannerPage();
    setUpWizard();
    setUpTabOrder();
    // The command bar has a font of its own, so a language switch gives it its character set.
    m_ui->ActionMainMenuBar1->setFont(designFont(QStringLiteral("Tahoma"), 11));
    LangDispatcher1 = attachLangDispatcher(this);
    LangTable1 = attachLangTable(this, LangDispatcher1);
    setUpAccessibility();
    connect(LangDispatcher1, &TLangDispatcher::languageChanged, this,
            [this] { applyPageCommandTexts(); });

    connect(m_ui->edt_Path, &QLineEdit::textChanged, this, guard(&Tfrm_Main::edt_PathChange));
    connect(m_ui->chb_UI, &QCheckBox::toggled, this, guard(&Tfrm_Main::chb_UIClick));
    connect(m_ui->btn_fmtSettings, &QPushButton::clicked, this,
            guard(&Tfrm_Main::btn_fmtSettingsClick));
    connect(m_ui->spd_About, &QToolButton::clicked, this, guard(&Tfrm_Main::spd_AboutClick));
    connect(m_ui->btn_Cancel, &QPushButton::clicked, this, guard(&Tfrm_Main::btn_CancelClick));
}

Tfrm_Main::~Tfrm_Main() = default;

std::function<void()> Tfrm_Main::guard(void (Tfrm_Main::*handler)())
{
    return [this, handler] { guarded([this, handler] { (this->*handler)(); }); };
}

void Tfrm_Main::setUpPictures()
{
    m_ui->ImageScaner->setPixmap(Artwork::scanner(m_ui->ImageScaner->size()));
    m_ui->spd_About->setIcon(QIcon(Artwork::aboutIcon()));

    IL = new ImageList(QStringLiteral("IL"), QSize(32, 32), this);
    IL->add(Artwork::scanner(IL->imageSize()));
    il_Files = new ImageList(QStringLiteral("il_Files"), QSize(100, 75), this);
    IL_menu = new ImageList(QStringLiteral("IL_menu"), QSize(16, 16), this);
    for (auto c : {Artwork::Blank, Artwork::Preview, Artwork::Rename, Artwork::Delete,
                   Artwork::SavePdf, Artwork::SaveTiff, Artwork::RotateLeft, Artwork::RotateRight,
                   Artwork::RotateHalf})
        IL_menu->add(Artwork::commandIcon(c));
}

void Tfrm_Main::setUpImagesPage()
{
    m_ui->Preview->setIcon(IL_menu->icon(Artwork::Preview));
    m_ui->Rename->setIcon(IL_menu->icon(Artwork::Rename));
    m_ui->Delete->setIcon(IL_menu->icon(Artwork::Delete));
    m_ui->SavetosinglePDF->setIcon(IL_menu->icon(Artwork::SavePdf));
    m_ui->Savetotiff->setIcon(IL_menu->icon(Artwork::SaveTiff));
    // The command bar's highlight, as the pane's colour scheme has it; the light highlight
    // keeps dark words under a dark desktop scheme too.
    m_ui->ActionMainMenuBar1->setStyleSheet(QStringLiteral(
        "QToolButton:hover { background: rgb(226, 225, 219); color: black; border: none; }"));

    // The context menu: Preview, Rename and Delete are entries of their own with their own
    // enabled state; the two export entries stand for their actions.
    PopupActionBar1 = new QMenu(this);
    PopupActionBar1->setObjectName(QStringLiteral("PopupActionBar1"));
    auto entry = [this](const char* name, Artwork::Command icon, const QString& text) {
        QAction* a = PopupActionBar1->addAction(IL_menu->icon(icon), text);
        a->setObjectName(QString::fromLatin1(name));
        a->setEnabled(false);
        return a;
    };
    auto separator = [this](const char* name) {
        QAction* a = PopupActionBar1->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    Preview2 = entry("Preview2", Artwork::Preview, QStringLiteral("Preview"));
    N2 = separator("N2");
    Rename2 = entry("Rename2", Artwork::Rename, QStringLiteral("Rename"));
    Delete2 = entry("Delete2", Artwork::Delete, QStringLiteral("Delete"));
    N1 = separator("N1");
    SavetosinglePDF1 = entry("SavetosinglePDF1", Artwork::SavePdf, QString());
    SavetoTIFF1 = entry("SavetoTIFF1", Artwork::SaveTiff, QString());
    bindEntry(SavetosinglePDF1, m_ui->SavetosinglePDF);
    bindEntry(SavetoTIFF1, m_ui->Savetotiff);
    connect(m_ui->lv_Images, &QWidget::customContextMenuRequested, this, [this](QPoint at) {
        PopupActionBar1->popup(m_ui->lv_Images->viewport()->mapToGlobal(at));
    });
}

void Tfrm_Main::setUpTabOrder()
{
    // The settings page runs through both groups before the buttons beside the boxes.
    const QList<QWidget*> settingsPage = {
        m_ui->cmb_Mode,       m_ui->cmb_Resolution, m_ui->chb_UI,    m_ui->chb_ADF,
        m_ui->edt_FileName,   m_ui->RadioButton1,   m_ui->edt_Start, m_ui->UpDown1,
        m_ui->RadioButton2,   m_ui->cb_Format,      m_ui->edt_Path,  m_ui->btn_Folder,
        m_ui->btn_fmtSettings};
    for (qsizetype i = 1; i < settingsPage.size(); ++i)
        setTabOrder(settingsPage[i - 1], settingsPage[i]);
    // Of the two naming buttons only the checked one is a tab stop; the arrow keys move
    // between them.
    for (QRadioButton* naming : {m_ui->RadioButton1, m_ui->RadioButton2}) {
        auto follow = [naming](bool checked) {
            naming->setFocusPolicy(checked ? Qt::StrongFocus : Qt::ClickFocus);
        };
        follow(naming->isChecked());
        connect(naming, &QRadioButton::toggled, naming, follow);
    }
}

void Tfrm_Main::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Restoring from the task bar is no new showing.
    if (!event->spontaneous())
        FormShow();
}

void Tfrm_Main::FormShow()
{
    // A failing step ends the sequence; the window is shown all the same.
    guarded([this] { showSequence(); });
}

void Tfrm_Main::showSequence()
{
    SettingsStore store;

    m_rememberedFolder = store.readString(kPath);
    if (store.valueExists(kResolution))
        selectIndex(m_ui->cmb_Resolution, store.readInteger(kResolution));
    // Before any text is shown; a name the dispatcher does not list ends the sequence.
    if (store.valueExists(kLang))
        LangDispatcher1->SetLanguage(store.readString(kLang));
    if (store.valueExists(kFormat))
        selectIndex(m_ui->cb_Format, store.readInteger(kFormat));
    if (store.valueExists(kDatenum) && store.readBool(kDatenum))
        m_ui->RadioButton2->setChecked(true);
    if (store.valueExists(kAdf))
        m_ui->chb_ADF->setChecked(store.readBool(kAdf));
    if (store.valueExists(kColor))
        selectIndex(m_ui->cmb_Mode, store.readInteger(kColor));
    if (store.valueExists(kFilePrefix))
        m_ui->edt_FileName->setText(store.readString(kFilePrefix));

    m_ui->edt_Start->setEnabled(m_ui->RadioButton1->isChecked());

    m_ui->PageControl->setCurrentWidget(m_ui->TabSheet2);
    m_ui->lbl_Title->setText(LangTable1->GetTextOrDefault("IDS_5"));
    m_ui->lbl_Description->setText(LangTable1->GetTextOrDefault("IDS_6"));

    FillScannerList();

    m_ui->lv_Images->clear();
    il_Files->clear();

    // Changing the box stores "HideUI" through its handler, a missing value included.
    m_ui->chb_UI->setChecked(store.valueExists(kHideUI) && store.readBool(kHideUI));
}

void Tfrm_Main::selectIndex(QComboBox* list, int index)
{
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void Tfrm_Main::closeEvent(QCloseEvent* event)
{
    // A store that refuses the values is reported; the window closes all the same, so a
    // read-only settings location cannot keep the user from leaving.
    guarded([this] { FormClose(); });
    event->accept();
}

void Tfrm_Main::FormClose()
{
    SettingsStore store;
    store.writeInteger(kResolution, m_ui->cmb_Resolution->currentIndex());
    store.writeInteger(kFormat, m_ui->cb_Format->currentIndex());
    store.writeBool(kAdf, m_ui->chb_ADF->isChecked());
    store.writeInteger(kColor, m_ui->cmb_Mode->currentIndex());
    store.writeBool(kDatenum, m_ui->RadioButton2->isChecked());
    store.writeString(kFilePrefix, m_ui->edt_FileName->text());
}

void Tfrm_Main::btn_CancelClick()
{
    close();
}

void Tfrm_Main::edt_PathChange()
{
    if (!m_ui->edt_Path->text().isEmpty())
        m_ui->btn_Next->setEnabled(true);
    SettingsStore().writeString(kPath, m_ui->edt_Path->text());
}

void Tfrm_Main::chb_UIClick()
{
    SettingsStore().writeBool(kHideUI, m_ui->chb_UI->isChecked());
}

void Tfrm_Main::btn_fmtSettingsClick()
{
    if (m_formatSettings)
        Dialogs::current().execModal(m_formatSettings);
}

void Tfrm_Main::spd_AboutClick()
{
    if (m_about)
        Dialogs::current().execModal(m_about);
}

void Tfrm_Main::keyPressEvent(QKeyEvent* event)
{
    // Enter presses the window's default button, Next, for as long as it holds that role.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        m_ui->btn_Next->isDefault()) {
        if (m_ui->btn_Next->isEnabled() && m_ui->btn_Next->isVisible())
            m_ui->btn_Next->click();
        return;
    }
    QWidget::keyPressEvent(event);
}
