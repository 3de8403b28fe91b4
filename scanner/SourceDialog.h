// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "scanner/AcquisitionUi.h"
#include "scanner/SourceOptions.h"

#include <QDialog>
#include <QEventLoop>
#include <QPointer>

class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTimer;
class QWidget;

// The source's own dialog: the device's options as the device describes them (groups,
// switches, numbers with their ranges or lists, texts with their lists, buttons; options
// that are inactive are left out, read-only ones are shown disabled), with Scan and
// Close. While a page is read it shows the progress and offers Cancel.
class SourceDialog : public QDialog, public SourceDialogView
{
    Q_OBJECT
public:
    SourceDialog(SourceOptions& options, const QString& sourceName, QWidget* parent = nullptr);
    ~SourceDialog() override;

    bool waitForScan() override;
    void beginProgress(ScanProgress& progress) override;
    void endProgress() override;
    void showStatus(const QString& text) override;
    void close() override;

    // Builds the option controls again from what the device says now.
    void rebuild();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QWidget* makeControl(const SourceOption& option);
    void apply(int index, const QVariant& value);
    void finishWait(bool scan);
    void setBusy(bool busy);
    void pollProgress();

    SourceOptions& m_options;
    QScrollArea* m_scroll = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QPushButton* m_scan = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_cancel = nullptr;
    QTimer* m_poll = nullptr;
    ScanProgress* m_progress = nullptr;
    QEventLoop* m_wait = nullptr;
    bool m_scanPressed = false;
    bool m_rebuildPending = false;
};
