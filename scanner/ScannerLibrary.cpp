#include "scanner/ScannerLibrary.h"

#include "scanner/AcquisitionUi.h"
#include "scanner/SaneScannerLibrary.h"

#include <memory>

namespace {
ScannerLibrary* g_installed = nullptr;
AcquisitionUi* g_ui = nullptr;
} // namespace

ScannerLibrary& ScannerLibrary::instance()
{
    if (g_installed)
        return *g_installed;
    // Made on first use so that SANE starts only when a scanner is asked for.
    static std::unique_ptr<SaneScannerLibrary> sane = std::make_unique<SaneScannerLibrary>();
    return *sane;
}

void ScannerLibrary::setInstance(ScannerLibrary* lib) { g_installed = lib; }

AcquisitionUi* AcquisitionUi::current() { return g_ui; }

void AcquisitionUi::setCurrent(AcquisitionUi* ui) { g_ui = ui; }
