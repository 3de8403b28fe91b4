// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Dialogs.h"

#include <QDialog>
#include <QPrinter>

class QComboBox;
class QPrintPreviewWidget;

// The modal print preview: the rendered page at 100 %, page navigation, zoom (in, out, fit
// width, fit page, a percentage) and Print, which asks the print options and prints. A
// status window with the request's texts is shown while the page is generated and printed.
class PreviewWindow : public QDialog
{
    Q_OBJECT
public:
    PreviewWindow(Dialogs::PreviewRequest request, QWidget* parent = nullptr);
    ~PreviewWindow() override;

    QPrintPreviewWidget* view() const { return m_view; }
    QPrinter& printer() { return m_printer; }

    // Print options, then the page to the chosen printer; nothing when the options are
    // cancelled (the preview stays open).
    void print();

private:
    // Renders the page onto printer behind a status window; its Cancel stops the page.
    void renderWithStatus(QPrinter* printer, const QString& statusText);
    void applyZoom();
    void showZoom();

    Dialogs::PreviewRequest m_request;
    QPrinter m_printer;
    QPrintPreviewWidget* m_view;
    QComboBox* m_zoom;
};
