// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/ScannerLibrary.h"

#include "scanner/AcquisitionUi.h"
#include "scanner/SaneScannerLibrary.h"

#include <QMetaObject>
#include <QObject>

#include <memory>

namespace {
ScannerLibrary* g_installed = nullptr;
// Deliberately not a static object: shutdown() ends it while the program still runs.
SaneScannerLibrary* g_sane = nullptr;
AcquisitionUi* g_ui = nullptr;
} // namespace

ScannerLibrary& ScannerLibrary::instance()
{
    if (g_installed)
        return *g_installed;
    // Made on first use so that SANE starts only when a scanner is asked for.
    if (!g_sane)
        g_sane = new SaneScannerLibrary;
    return *g_sane;
}

void ScannerLibrary::shutdown()
{
    delete g_sane;
    g_sane = nullptr;
}

void ScannerLibrary::whenSourceListComplete(QObject* receiver, std::function<void()> done)
{
    // Everything was listed at once: the rest is complete already.
    QMetaObject::invokeMethod(receiver, std::move(done), Qt::QueuedConnection);
}

ScannerLibrary::Handle ScannerLibrary::AcquireImageToFile(QObject* parent, const QString& path,
                                                         const std::function<QString()>& nextCandidate,
                                                         QString* writtenPath)
{
    writtenPath->clear();
    const Handle image = AcquireImage(parent);
    if (image != 0 && WriteImageFileNoClobber(image, path, nextCandidate, writtenPath) == 0)
        writtenPath->clear();
    return image;
}

int ScannerLibrary::AcquireFile(QObject* parent, const QString& path,
                                const std::function<QString()>& nextCandidate,
                                QString* writtenPath)
{
    const Handle image = AcquireImageToFile(parent, path, nextCandidate, writtenPath);
    if (image == 0)
        return 0;
    ReleaseImage(image);
    return 1;
}

void ScannerLibrary::setInstance(ScannerLibrary* lib) { g_installed = lib; }

AcquisitionUi* AcquisitionUi::current() { return g_ui; }

void AcquisitionUi::setCurrent(AcquisitionUi* ui) { g_ui = ui; }
