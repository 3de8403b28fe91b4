// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <atomic>
#include <memory>

class QObject;
class SourceOptions;

// What a page read shares with whoever shows it: how far it got and whether the user
// asked to stop. Written by the reading thread, read by the window's timer, and the
// other way round for the cancel request.
struct ScanProgress
{
    std::atomic<int> permille{-1}; // -1 while the size is unknown
    std::atomic<bool> cancelRequested{false};
};

// The source's own dialog as the scanner layer drives it.
class SourceDialogView
{
public:
    virtual ~SourceDialogView() = default;
    // Shows the dialog (if hidden) and waits for the user: true when Scan was pressed,
    // false when the dialog was closed.
    virtual bool waitForScan() = 0;
    // While a page is read: shows its progress and offers to cancel it.
    virtual void beginProgress(ScanProgress& progress) = 0;
    virtual void endProgress() = 0;
    // Shows a failure of the last Scan inside the dialog (it stays open).
    virtual void showStatus(const QString& text) = 0;
    virtual void close() = 0;
};

// A progress window for a page read with the source's dialog hidden.
class ProgressView
{
public:
    virtual ~ProgressView() = default;
};

// The windows of the acquisition live in the UI library; it installs this so that the
// scanner layer (which has no widgets) can open them. Without one, the dialog cannot be
// shown and reads run without a progress window.
class AcquisitionUi
{
public:
    virtual ~AcquisitionUi() = default;
    virtual std::unique_ptr<SourceDialogView> createSourceDialog(SourceOptions& options,
                                                                 const QString& sourceName,
                                                                 QObject* parent) = 0;
    virtual std::unique_ptr<ProgressView> showProgress(ScanProgress& progress, QObject* parent) = 0;

    // The one in force (not owned); null when none is installed.
    static AcquisitionUi* current();
    static void setCurrent(AcquisitionUi* ui);
};
