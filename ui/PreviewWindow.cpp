// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/PreviewWindow.h"

#include "ui/Accessibility.h"

#include <QComboBox>
#include <QGraphicsView>
#include <QLineEdit>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QProgressDialog>
#include <QToolBar>
#include <QVBoxLayout>

PreviewWindow::PreviewWindow(Dialogs::PreviewRequest request, QWidget* parent)
    : QDialog(parent),
      m_request(std::move(request)),
      m_printer(QPrinter::HighResolution),
      m_view(new QPrintPreviewWidget(&m_printer, this)),
      m_zoom(new QComboBox(this))
{
    setWindowTitle(m_request.title);
    setModal(true);
    m_printer.setDocName(m_request.documentName);

    auto* bar = new QToolBar(this);
    auto add = [&](const QString& text, auto slot) {
        QAction* a = bar->addAction(text);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add(tr("First page"), [this] { m_view->setCurrentPage(1); });
    add(tr("Previous page"), [this] { m_view->setCurrentPage(m_view->currentPage() - 1); });
    add(tr("Next page"), [this] { m_view->setCurrentPage(m_view->currentPage() + 1); });
    add(tr("Last page"), [this] { m_view->setCurrentPage(m_view->pageCount()); });
    bar->addSeparator();
    add(tr("Zoom in"), [this] { m_view->zoomIn(); });
    add(tr("Zoom out"), [this] { m_view->zoomOut(); });
    add(tr("Fit width"), [this] { m_view->fitToWidth(); });
    add(tr("Fit page"), [this] { m_view->fitInView(); });
    m_zoom->setEditable(true);
    for (int percent : {25, 50, 75, 100, 125, 150, 200, 400})
        m_zoom->addItem(QStringLiteral("%1%").arg(percent));
    bar->addWidget(m_zoom);
    Accessibility::name(m_zoom, "a11y.zoom");
    // The page itself is shown by a view inside the preview widget; that view takes the focus.
    if (auto* page = m_view->findChild<QGraphicsView*>())
        Accessibility::name(page, "a11y.pagePreview");
    bar->addSeparator();
    add(tr("Print"), [this] { print(); });
    add(tr("Close"), [this] { reject(); });

    connect(m_zoom->lineEdit(), &QLineEdit::editingFinished, this, &PreviewWindow::applyZoom);
    connect(m_zoom, &QComboBox::activated, this, &PreviewWindow::applyZoom);
    connect(m_view, &QPrintPreviewWidget::previewChanged, this, &PreviewWindow::showZoom);
    connect(m_view, &QPrintPreviewWidget::paintRequested, this, [this](QPrinter* printer) {
        renderWithStatus(printer, m_request.generatingText);
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(m_view);
    resize(800, 700);

    m_view->setZoomMode(QPrintPreviewWidget::CustomZoom);
    m_view->setZoomFactor(1.0);
}

PreviewWindow::~PreviewWindow()
{
    // The child widgets outlive this destructor and the printer member: the zoom box reports
    // its edit as finished when it loses the focus on its way out, and the view draws on the
    // printer. So the window's slots are cut off first and the view goes while the printer
    // is still whole.
    for (QObject* sender : {static_cast<QObject*>(m_zoom), static_cast<QObject*>(m_zoom->lineEdit()),
                            static_cast<QObject*>(m_view)})
        disconnect(sender, nullptr, this, nullptr);
    delete m_view;
}

void PreviewWindow::applyZoom()
{
    bool ok = false;
    const double percent =
        m_zoom->currentText().remove(QLatin1Char('%')).trimmed().toDouble(&ok);
    if (ok && percent > 0)
        m_view->setZoomFactor(percent / 100.0);
    showZoom();
}

void PreviewWindow::showZoom()
{
    m_zoom->setEditText(QStringLiteral("%1%").arg(qRound(m_view->zoomFactor() * 100)));
}

void PreviewWindow::renderWithStatus(QPrinter* printer, const QString& statusText)
{
    QProgressDialog status(this);
    status.setWindowTitle(m_request.statusTitle);
    status.setWindowModality(Qt::WindowModal);
    status.setRange(0, 1);
    status.setMinimumDuration(0);
    // A one-page report: the page number is always 1.
    status.setLabelText(QString(statusText).replace(QLatin1String("%p"), QLatin1String("1")));
    status.setValue(0);
    if (status.wasCanceled())
        return;
    QPainter painter(printer);
    if (m_request.render)
        m_request.render(painter, printer->pageRect(QPrinter::DevicePixel), printer->resolution());
    status.setValue(1);
}

void PreviewWindow::print()
{
    QPrintDialog options(&m_printer, this);
    options.setWindowTitle(m_request.printTitle);
    options.setOptions(QAbstractPrintDialog::PrintSelection | QAbstractPrintDialog::PrintPageRange
                       | QAbstractPrintDialog::PrintCollateCopies
                       | QAbstractPrintDialog::PrintShowPageSize);
    options.setMinMax(1, m_view->pageCount());
    options.setFromTo(1, m_view->pageCount());
    if (Dialogs::current().execModal(&options) != QDialog::Accepted)
        return;
    renderWithStatus(&m_printer, m_request.printingText);
    // The page was drawn on the printer the preview shares; show it as now set up.
    m_view->updatePreview();
}
