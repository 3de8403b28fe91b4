// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "scanner/AcquisitionUi.h"

// The acquisition's windows made of widgets: the source dialog and, with the dialog
// hidden, a progress window with Cancel. Installed by the program at start.
class WidgetAcquisitionUi : public AcquisitionUi
{
public:
    std::unique_ptr<SourceDialogView> createSourceDialog(SourceOptions& options,
                                                         const QString& sourceName,
                                                         QObject* parent) override;
    std::unique_ptr<ProgressView> showProgress(ScanProgress& progress, QObject* parent) override;
};
