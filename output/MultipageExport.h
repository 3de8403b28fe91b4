// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "output/ImageFiles.h"

#include <QString>
#include <QStringList>

#include <functional>

// Gathers page files into one multipage PDF or TIFF, chosen by the extension of `target`.
// Pages are read and appended one at a time in the order given. `progress(pagesDone)` runs
// before each page and once at the end; returning false cancels. On failure or cancel
// nothing is left under `target` (an existing file there stays as it was) and the result
// says why.
struct MultipageExportResult
{
    bool ok = false;
    bool cancelled = false;
    QString error;
};

MultipageExportResult exportMultipage(const QStringList& pages, const QString& target,
                                      const ImageWriteOptions& options,
                                      const std::function<bool(int pagesDone)>& progress = {});

// The JPEG quality and TIFF compression the export writes with: the stored ones, as every
// scan hands them to the encoders (a missing TIFF compression leaves the encoders' default).
// Stored rather than those of the last scan, so that after a Save in the format settings
// window the export follows what that window shows, not a state the user cannot see.
ImageWriteOptions storedWriteOptions();

// The recognition language of searchable PDF files as stored, when they are on and the
// language's data is installed; empty otherwise. A missing language is the interface's.
QString storedRecognitionLanguage();
