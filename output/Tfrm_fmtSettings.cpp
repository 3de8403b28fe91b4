// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/Tfrm_fmtSettings.h"

#include "app/ErrorReport.h"
#include "app/SettingsStore.h"
#include "ui/Accessibility.h"
#include "ui/DesignFont.h"
#include "ui_Tfrm_fmtSettings.h"

#include "i18n/OwnTexts.h"
#include "i18n/TLangDispatcher.h"
#include "output/TextRecognition.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

#include <algorithm>

namespace {
const QString kJpegQuality = QStringLiteral("JPEGCompression");
const QString kTiffCompression = QStringLiteral("TIFFCompression");
const QString kSearchable = QStringLiteral("SearchablePDF");
const QString kRecognitionLanguage = QStringLiteral("OCRLanguage");

// The recognition languages, by the interface's language numbers 1 to 3.
const char* const kLanguageNames[] = {"pdf.english", "pdf.russian", "pdf.german"};
} // namespace

Tfrm_fmtSettings::Tfrm_fmtSettings(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_ui(std::make_unique<Ui::Tfrm_fmtSettings>()), m_tiffChoices(new QButtonGroup(this))
{
    m_ui->setupUi(this);
    setFont(designFont(QStringLiteral("Tahoma"), 11));
    setFixedSize(434, 278);
    // Shown where it was designed, at the top-left corner of the screen.
    move(0, 0);

    const QString choices[] = {
        QStringLiteral("No compression"),
        QStringLiteral("CCITT modified Huffman RLE"),
        QStringLiteral("CCITT Group 3 fax encoding"),
        QStringLiteral("CCITT Group 4 fax encoding"),
        QStringLiteral("LZW"),
        QStringLiteral("JPEG-in-TIFF"),
    };
    int id = 0;
    for (const QString& text : choices) {
        auto* choice = new QRadioButton(text, m_ui->RadioGroup1);
        choice->setGeometry(16, 24 + id * 24, 360, 17);
        m_tiffChoices->addButton(choice, id++);
    }
    setTiffIndex(0);

    connect(m_ui->TrackBar1, &QSlider::valueChanged, this, &Tfrm_fmtSettings::TrackBar1Change);
    // The position tip: the value beside the thumb while it is dragged.
    connect(m_ui->TrackBar1, &QSlider::sliderMoved, this, [this](int value) {
        QStyleOptionSlider option;
        option.initFrom(m_ui->TrackBar1);
        option.orientation = Qt::Horizontal;
        option.minimum = m_ui->TrackBar1->minimum();
        option.maximum = m_ui->TrackBar1->maximum();
        option.sliderPosition = value;
        option.sliderValue = value;
        const QRect thumb = m_ui->TrackBar1->style()->subControlRect(
            QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, m_ui->TrackBar1);
        QToolTip::showText(m_ui->TrackBar1->mapToGlobal(thumb.topRight() + QPoint(4, 0)),
                           QString::number(value), m_ui->TrackBar1);
    });
    connect(m_ui->Button2, &QPushButton::clicked, this,
            [this] { guarded([this] { Button2Click(); }); });
    connect(m_ui->Button1, &QPushButton::clicked, this, &Tfrm_fmtSettings::Button1Click);

    // The window's own texts stay English; what a screen reader hears follows the language.
    // (The tab bar is named by its current tab.)
    Accessibility::followLanguage(
        this, [this] { Accessibility::name(m_ui->TrackBar1, "a11y.jpegQuality"); });
    setUpRecognitionTab();
}

void Tfrm_fmtSettings::setUpRecognitionTab()
{
    // Behind the two tabs of the window's own, which keep their places and controls.
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("TabSheet3"));
    m_ui->PageControl1->addTab(tab, QStringLiteral("PDF"));
    chb_SearchablePDF = new QCheckBox(tab);
    chb_SearchablePDF->setObjectName(QStringLiteral("chb_SearchablePDF"));
    chb_SearchablePDF->setGeometry(16, 16, 380, 20);
    lbl_OCRLanguage = new QLabel(tab);
    lbl_OCRLanguage->setObjectName(QStringLiteral("lbl_OCRLanguage"));
    lbl_OCRLanguage->setGeometry(16, 53, 150, 17);
    cmb_OCRLanguage = new QComboBox(tab);
    cmb_OCRLanguage->setObjectName(QStringLiteral("cmb_OCRLanguage"));
    cmb_OCRLanguage->setGeometry(170, 50, 160, 22);
    for (int language = 1; language <= 3; ++language)
        cmb_OCRLanguage->addItem(QString(), recognitionLanguageCode(language));
    lbl_OCRLanguage->setBuddy(cmb_OCRLanguage);
    lbl_OCRData = new QLabel(tab);
    lbl_OCRData->setObjectName(QStringLiteral("lbl_OCRData"));
    lbl_OCRData->setGeometry(16, 86, 380, 40);
    lbl_OCRData->setWordWrap(true);
    applyRecognitionTexts();
    connect(chb_SearchablePDF, &QCheckBox::clicked, this, [this](bool on) { m_searchableWanted = on; });
    connect(cmb_OCRLanguage, &QComboBox::currentIndexChanged, this, [this] { followRecognitionData(); });
    followRecognitionData();
}

void Tfrm_fmtSettings::applyRecognitionTexts()
{
    chb_SearchablePDF->setText(ownText("pdf.searchable"));
    lbl_OCRLanguage->setText(ownText("pdf.language"));
    for (int i = 0; i < cmb_OCRLanguage->count(); ++i)
        cmb_OCRLanguage->setItemText(i, ownText(kLanguageNames[i]));
}

void Tfrm_fmtSettings::followRecognitionData()
{
    // Without the language's data the option cannot work: it is shown off, and says why.
    const bool installed = recognitionDataInstalled(cmb_OCRLanguage->currentData().toString());
    chb_SearchablePDF->setEnabled(installed);
    chb_SearchablePDF->setChecked(installed && m_searchableWanted);
    lbl_OCRData->setText(installed ? QString()
                                   : ownText("pdf.noData").arg(cmb_OCRLanguage->currentText()));
    lbl_OCRData->setVisible(!installed);
}

Tfrm_fmtSettings::~Tfrm_fmtSettings() = default;

int Tfrm_fmtSettings::tiffIndex() const
{
    return m_tiffChoices->checkedId();
}

void Tfrm_fmtSettings::setTiffIndex(int index)
{
    index = std::clamp(index, -1, static_cast<int>(m_tiffChoices->buttons().size()) - 1);
    if (index < 0) {
        // An exclusive group cannot be emptied by unchecking its checked button.
        m_tiffChoices->setExclusive(false);
        for (QAbstractButton* b : m_tiffChoices->buttons())
            b->setChecked(false);
        m_tiffChoices->setExclusive(true);
        return;
    }
    m_tiffChoices->button(index)->setChecked(true);
}

void Tfrm_fmtSettings::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        guarded([this] { FormShow(); });
}

void Tfrm_fmtSettings::FormShow()
{
    {
        SettingsStore store;
        // A value missing from the store leaves its control as the last showing left it.
        if (store.valueExists(kJpegQuality))
            m_ui->TrackBar1->setValue(store.readInteger(kJpegQuality));
        if (store.valueExists(kTiffCompression))
            setTiffIndex(store.readInteger(kTiffCompression));
        if (store.valueExists(kSearchable))
            m_searchableWanted = store.readBool(kSearchable);
        applyRecognitionTexts();
        const int stored = cmb_OCRLanguage->findData(store.readString(kRecognitionLanguage));
        const TLangDispatcher* dispatcher = TLangDispatcher::shared();
        const int active = dispatcher ? dispatcher->ActiveLanguage() : 1;
        cmb_OCRLanguage->setCurrentIndex(stored >= 0 ? stored : std::clamp(active, 1, 3) - 1);
        followRecognitionData();
    }
    m_ui->Label1->setText(QString::number(m_ui->TrackBar1->value()));
}

void Tfrm_fmtSettings::TrackBar1Change()
{
    m_ui->Label1->setText(QString::number(m_ui->TrackBar1->value()));
}

void Tfrm_fmtSettings::Button2Click()
{
    {
        SettingsStore store;
        store.writeInteger(kJpegQuality, m_ui->TrackBar1->value());
        store.writeInteger(kTiffCompression, tiffIndex());
        store.writeBool(kSearchable, chb_SearchablePDF->isChecked());
        store.writeString(kRecognitionLanguage, cmb_OCRLanguage->currentData().toString());
    }
    accept();
}

void Tfrm_fmtSettings::Button1Click()
{
    reject();
}
