// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Tfrm_About.h"

#include "about/FileVersion.h"
#include "about/UpdateCheck.h"
#include "app/ErrorReport.h"
#include "i18n/TCustomLangTable.h"
#include "i18n/TLangDispatcher.h"
#include "i18n/WidgetLangAdapter.h"
#include "ui/Accessibility.h"
#include "ui/Artwork.h"
#include "ui/DesignFont.h"
#include "ui_Tfrm_About.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QShowEvent>

Tfrm_About::Tfrm_About(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_ui(std::make_unique<Ui::Tfrm_About>())
{
    m_ui->setupUi(this);
    setFont(designFont(QStringLiteral("MS Sans Serif"), 11));
    setFixedSize(357, 216);
    // White under any colour scheme, so its labels keep dark text; the buttons follow the
    // scheme as a whole.
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    setPalette(white);
    setAutoFillBackground(true);

    QFont name = designFont(QStringLiteral("Arial Black"), 24);
    name.setWeight(QFont::Black);
    m_ui->lbl_Name->setFont(name);
    QPalette black = m_ui->lbl_Name->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    m_ui->lbl_Name->setPalette(black);
    m_ui->Image->setPixmap(Artwork::logo(m_ui->Image->width()));
    Accessibility::markDecorative(m_ui->Image);
    // Name and version size themselves to their texts.
    m_ui->lbl_Name->adjustSize();
    m_ui->lbl_Version->adjustSize();

    // Neither button is the window's default: Enter acts on the focused one.
    for (QPushButton* b : {m_ui->btn_Update, m_ui->btn_OK}) {
        b->setDefault(false);
        b->setAutoDefault(true);
    }
    m_ui->btn_Update->setFocus();
    connect(m_ui->btn_OK, &QPushButton::clicked, this, &Tfrm_About::btn_OKClick);
    // Registers with the main window's dispatcher, created before this window.
    LangTable1 = attachLangTable(this, TLangDispatcher::shared());
    m_updateCheck = std::make_unique<UpdateCheck>(
        [this](const QString& key) { return LangTable1->GetTextOrDefault(key.toLatin1()); });
    connect(m_ui->btn_Update, &QPushButton::clicked, this,
            [this] { guarded([this] { btn_UpdateClick(); }); });
}

Tfrm_About::~Tfrm_About() = default;

void Tfrm_About::btn_OKClick()
{
    accept();
}

void Tfrm_About::FormShow()
{
    m_ui->lbl_Version->setText(LangTable1->GetTextOrDefault("IDS_0")
                               + ReadFileVersion(QCoreApplication::applicationFilePath()));
    m_ui->lbl_Version->adjustSize();
}

void Tfrm_About::btn_UpdateClick()
{
    m_updateCheck->run();
}

void Tfrm_About::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        FormShow();
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    m_ui->btn_Update->setFocus();
}

void Tfrm_About::keyPressEvent(QKeyEvent* event)
{
    // Escape does not close this window; only OK does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
