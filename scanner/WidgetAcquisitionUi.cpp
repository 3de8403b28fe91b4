// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/WidgetAcquisitionUi.h"

#include "scanner/SourceDialog.h"

#include <QApplication>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

namespace {

QWidget* windowOf(QObject* parent)
{
    if (auto* widget = qobject_cast<QWidget*>(parent))
        return widget->window();
    return QApplication::activeWindow();
}

// A progress window that follows a page read and asks it to stop on Cancel. It is shown
// at once: being modal, it keeps the user from starting another job while the window
// stays painted.
class WidgetProgressView : public ProgressView
{
public:
    WidgetProgressView(ScanProgress& progress, QWidget* parent)
        : m_dialog(QObject::tr("Scanning..."), QObject::tr("Cancel"), 0, 1000, parent)
    {
        m_dialog.setObjectName(QStringLiteral("ScanProgress"));
        m_dialog.setWindowModality(Qt::ApplicationModal);
        m_dialog.setMinimumDuration(0);
        m_dialog.setAutoReset(false);
        m_dialog.setAutoClose(false);
        // Connected before the window shows, so no early Cancel can be lost.
        QObject::connect(&m_dialog, &QProgressDialog::canceled,
                         [&progress] { progress.cancelRequested.store(true); });
        m_dialog.setValue(0);
        m_dialog.show();
        QObject::connect(&m_timer, &QTimer::timeout, [this, &progress] {
            const int permille = progress.permille.load();
            if (permille >= 0)
                m_dialog.setValue(permille);
        });
        m_timer.start(100);
    }

private:
    QProgressDialog m_dialog;
    QTimer m_timer;
};

} // namespace

std::unique_ptr<SourceDialogView> WidgetAcquisitionUi::createSourceDialog(SourceOptions& options,
                                                                          const QString& sourceName,
                                                                          QObject* parent)
{
    return std::make_unique<SourceDialog>(options, sourceName, windowOf(parent));
}

std::unique_ptr<ProgressView> WidgetAcquisitionUi::showProgress(ScanProgress& progress,
                                                                QObject* parent)
{
    return std::make_unique<WidgetProgressView>(progress, windowOf(parent));
}
