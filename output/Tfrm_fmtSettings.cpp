#include "output/Tfrm_fmtSettings.h"

#include "app/ErrorReport.h"
#include "app/SettingsStore.h"
#include "ui/Accessibility.h"
#include "ui/DesignFont.h"
#include "ui_Tfrm_fmtSettings.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QShowEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>

#include <algorithm>

namespace {
const QString kJpegQuality = QStringLiteral("JPEGCompression");
const QString kTiffCompression = QStringLiteral("TIFFCompression");
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
    }
    accept();
}

void Tfrm_fmtSettings::Button1Click()
{
    reject();
}
