#include "scanner/ScannerLibrary.h"

#include "scanner/AcquisitionUi.h"
#include "scanner/SaneScannerLibrary.h"

#include <memory>

namespace {
ScannerLibrary* g_installed = nullptr;
// Deliberately not a static object: without shutdown() it is left to the operating
// system, as closing SANE from a static destructor crashes in some backends.
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

void ScannerLibrary::setInstance(ScannerLibrary* lib) { g_installed = lib; }

AcquisitionUi* AcquisitionUi::current() { return g_ui; }

void AcquisitionUi::setCurrent(AcquisitionUi* ui) { g_ui = ui; }
