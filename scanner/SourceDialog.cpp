// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/SourceDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <climits>
#include <cmath>

namespace {

QString labelOf(const SourceOption& o)
{
    const QString title = o.title.isEmpty() ? o.name : o.title;
    return o.unit.isEmpty() ? title + QLatin1Char(':')
                            : QStringLiteral("%1 (%2):").arg(title, o.unit);
}

QString numberText(double v, bool fixed)
{
    return fixed ? QString::number(v, 'g', 6) : QString::number(qint64(std::llround(v)));
}

} // namespace

SourceDialog::SourceDialog(SourceOptions& options, const QString& sourceName, QWidget* parent)
    : QDialog(parent), m_options(options)
{
    setObjectName(QStringLiteral("SourceDialog"));
    setWindowTitle(sourceName);
    setWindowModality(Qt::ApplicationModal);
    resize(420, 520);

    auto* layout = new QVBoxLayout(this);
    m_scroll = new QScrollArea(this);
    m_scroll->setWidgetResizable(true);
    layout->addWidget(m_scroll, 1);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lbl_Status"));
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("pb_Progress"));
    m_progressBar->setRange(0, 1000);
    m_progressBar->setTextVisible(false);
    m_progressBar->hide();
    layout->addWidget(m_progressBar);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_scan = new QPushButton(tr("Scan"), this);
    m_scan->setObjectName(QStringLiteral("btn_Scan"));
    m_scan->setDefault(true);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("btn_Cancel"));
    m_cancel->setEnabled(false);
    m_close = new QPushButton(tr("Close"), this);
    m_close->setObjectName(QStringLiteral("btn_Close"));
    buttons->addWidget(m_scan);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_close);
    layout->addLayout(buttons);

    connect(m_scan, &QPushButton::clicked, this, [this] { finishWait(true); });
    connect(m_close, &QPushButton::clicked, this, [this] { finishWait(false); });
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_progress)
            m_progress->cancelRequested.store(true);
        m_cancel->setEnabled(false);
        m_status->setText(tr("Cancelling..."));
    });

    m_poll = new QTimer(this);
    m_poll->setInterval(100);
    connect(m_poll, &QTimer::timeout, this, &SourceDialog::pollProgress);

    rebuild();
}

SourceDialog::~SourceDialog() = default;

void SourceDialog::rebuild()
{
    m_rebuildPending = false;
    const int scrolled = m_scroll->verticalScrollBar()->value();
    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    QFormLayout* form = nullptr;
    auto newForm = [&](const QString& title) {
        auto* box = new QGroupBox(title, page);
        form = new QFormLayout(box);
        pageLayout->addWidget(box);
    };
    for (const SourceOption& o : m_options.options()) {
        if (o.type == SourceOption::Group) {
            newForm(o.title);
            continue;
        }
        // Arrays (gamma tables and the like) have no sensible single control.
        if (!o.active || o.size > 1)
            continue;
        if (!form)
            newForm(QString());
        QWidget* control = makeControl(o);
        control->setObjectName(o.name);
        control->setToolTip(o.description);
        control->setEnabled(o.settable);
        if (o.type == SourceOption::Button || o.type == SourceOption::Bool)
            form->addRow(control);
        else
            form->addRow(labelOf(o), control);
    }
    // Groups whose options are all inactive are left out.
    for (QGroupBox* box : page->findChildren<QGroupBox*>())
        if (box->layout()->count() == 0)
            box->hide();
    pageLayout->addStretch(1);
    m_scroll->setWidget(page); // deletes the previous page
    m_scroll->verticalScrollBar()->setValue(scrolled);
}

QWidget* SourceDialog::makeControl(const SourceOption& o)
{
    const int index = o.index;
    const QVariant current = m_options.value(index);
    const bool fixed = o.type == SourceOption::Fixed;
    switch (o.type) {
    case SourceOption::Bool: {
        auto* box = new QCheckBox(o.title.isEmpty() ? o.name : o.title);
        box->setChecked(current.toBool());
        connect(box, &QCheckBox::toggled, this, [this, index](bool on) { apply(index, on); });
        return box;
    }
    case SourceOption::Button: {
        auto* button = new QPushButton(o.title.isEmpty() ? o.name : o.title);
        connect(button, &QPushButton::clicked, this, [this, index] { apply(index, QVariant()); });
        return button;
    }
    case SourceOption::String: {
        if (o.constraint != SourceOption::StringList) {
            auto* edit = new QLineEdit(current.toString());
            connect(edit, &QLineEdit::editingFinished, this,
                    [this, index, edit] { apply(index, edit->text()); });
            return edit;
        }
        auto* combo = new QComboBox;
        combo->addItems(o.strings);
        combo->setCurrentIndex(o.strings.indexOf(current.toString()));
        connect(combo, &QComboBox::activated, this,
                [this, index, combo](int) { apply(index, combo->currentText()); });
        return combo;
    }
    case SourceOption::Int:
    case SourceOption::Fixed:
    default:
        break;
    }
    if (o.constraint == SourceOption::WordList) {
        auto* combo = new QComboBox;
        for (double w : o.words)
            combo->addItem(numberText(w, fixed), w);
        combo->setCurrentIndex(o.words.indexOf(current.toDouble()));
        connect(combo, &QComboBox::activated, this,
                [this, index, combo](int i) { apply(index, combo->itemData(i)); });
        return combo;
    }
    if (fixed) {
        auto* spin = new QDoubleSpinBox;
        spin->setDecimals(2);
        spin->setRange(o.constraint == SourceOption::Range ? o.minimum : -32768.0,
                       o.constraint == SourceOption::Range ? o.maximum : 32767.0);
        if (o.quantum > 0)
            spin->setSingleStep(o.quantum);
        spin->setValue(current.toDouble());
        spin->setKeyboardTracking(false);
        connect(spin, &QDoubleSpinBox::valueChanged, this,
                [this, index](double v) { apply(index, v); });
        return spin;
    }
    auto* spin = new QSpinBox;
    spin->setRange(o.constraint == SourceOption::Range ? int(o.minimum) : INT_MIN,
                   o.constraint == SourceOption::Range ? int(o.maximum) : INT_MAX);
    if (o.quantum > 0)
        spin->setSingleStep(int(o.quantum));
    spin->setValue(current.toInt());
    spin->setKeyboardTracking(false);
    connect(spin, &QSpinBox::valueChanged, this, [this, index](int v) { apply(index, v); });
    return spin;
}

void SourceDialog::apply(int index, const QVariant& value)
{
    bool reload = false;
    QString error;
    if (!m_options.setValue(index, value, &reload, &error)) {
        m_status->setText(error);
        reload = true; // show the value the device kept
    } else {
        m_status->clear();
    }
    // Rebuilt after the signal returns: the control that sent it must outlive it.
    if (reload && !m_rebuildPending) {
        m_rebuildPending = true;
        QMetaObject::invokeMethod(this, &SourceDialog::rebuild, Qt::QueuedConnection);
    }
}

bool SourceDialog::waitForScan()
{
    setBusy(false);
    if (!isVisible())
        show();
    raise();
    activateWindow();
    QEventLoop loop;
    m_wait = &loop;
    m_scanPressed = false;
    loop.exec();
    m_wait = nullptr;
    return m_scanPressed;
}

void SourceDialog::finishWait(bool scan)
{
    m_scanPressed = scan;
    if (m_wait)
        m_wait->quit();
}

void SourceDialog::beginProgress(ScanProgress& progress)
{
    m_progress = &progress;
    m_status->setText(tr("Scanning..."));
    m_progressBar->setRange(0, 0); // busy until the size is known
    m_progressBar->show();
    setBusy(true);
    m_poll->start();
}

void SourceDialog::endProgress()
{
    m_poll->stop();
    m_progress = nullptr;
    m_progressBar->hide();
    m_status->clear();
    setBusy(false);
}

void SourceDialog::pollProgress()
{
    if (!m_progress)
        return;
    const int permille = m_progress->permille.load();
    if (permille < 0) {
        m_progressBar->setRange(0, 0);
    } else {
        m_progressBar->setRange(0, 1000);
        m_progressBar->setValue(permille);
    }
}

void SourceDialog::setBusy(bool busy)
{
    m_scroll->setEnabled(!busy);
    m_scan->setEnabled(!busy);
    m_close->setEnabled(!busy);
    m_cancel->setEnabled(busy);
}

void SourceDialog::showStatus(const QString& text) { m_status->setText(text); }

void SourceDialog::close()
{
    finishWait(false);
    hide();
}

void SourceDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
    reject();
}

// The window's close button and Escape: while a page is read they cancel it, otherwise
// they close the dialog like the Close button.
void SourceDialog::reject()
{
    if (m_progress) {
        m_cancel->click();
        return;
    }
    finishWait(false);
}
