// SPDX-License-Identifier: GPL-3.0-or-later
// Acquires one page from a SANE device through Quillora's scanner library and writes it,
// for bench/run.sh (compare: scanimage --format=png|jpeg|tiff). SANE_CONFIG_DIR decides
// which devices exist.
//
//   bench_scan <device name> <dpi> <out.png|out.jpg|out.tif> [tiff compression]
//   bench_scan <device name> <dpi> -     opens the source and sets it up, nothing more: the
//                                        program's idle size for the memory figures
//   bench_scan --loaded                  returns at once: what starting a process with the
//                                        core library's shared libraries costs by itself
//
// The test backend gets its 'Color pattern' over the full 200 x 200 mm area.
#include "scanner/SaneScannerLibrary.h"
#include "scanner/SourceOptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

int fail(ScannerLibrary& lib, const char* step)
{
    std::fprintf(stderr, "bench_scan: %s failed: %s\n", step, qPrintable(lib.LastErrorText()));
    return 1;
}

} // namespace

double wallNow()
{
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    // BENCH_PHASES=1 prints how long each phase took (to stderr), with wall-clock stamps at
    // the start and end of main to set against the whole process.
    if (argc == 2 && std::strcmp(argv[1], "--loaded") == 0)
        return 0;
    const bool phases = qEnvironmentVariableIsSet("BENCH_PHASES");
    if (phases)
        std::fprintf(stderr, "main entered at %.4f\n", wallNow());
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: bench_scan <device name> <dpi> <out> [tiff compression]\n");
        return 2;
    }
    SaneScannerLibrary lib;
    if (!lib.OpenSourceByName(args[1].toUtf8().constData()))
        return fail(lib, "OpenSourceByName");
    if (SourceOptions* options = lib.sourceOptions()) {
        options->setValue(QStringLiteral("test-picture"), QStringLiteral("Color pattern"));
        options->setValue(QStringLiteral("depth"), 8);
        options->setValue(QStringLiteral("tl-x"), 0.0);
        options->setValue(QStringLiteral("tl-y"), 0.0);
        options->setValue(QStringLiteral("br-x"), 200.0);
        options->setValue(QStringLiteral("br-y"), 200.0);
    }
    lib.SetHideUI(1);
    lib.SetUseFeeder(0);
    lib.SetPixelType(2);
    lib.SetResolution(args[2].toDouble());
    lib.SetJpegQuality(75);
    lib.SetTiffCompression(0, args.size() > 4 ? args[4].toInt() : 5);
    if (args[3] == QLatin1String("-")) {
        lib.EndAcquisition();
        return 0;
    }
    if (phases)
        std::fprintf(stderr, "set up at %.4f\n", wallNow());
    QElapsedTimer timer;
    timer.start();
    const ScannerLibrary::Handle page = lib.AcquireImage(nullptr);
    if (phases)
        std::fprintf(stderr, "acquire %.3f s\n", timer.nsecsElapsed() / 1e9);
    timer.restart();
    if (!page)
        return fail(lib, "AcquireImage");
    QFile::remove(args[3]);
    if (!lib.WriteImageFile(page, args[3]))
        return fail(lib, "WriteImageFile");
    if (phases)
        std::fprintf(stderr, "write %.3f s\n", timer.nsecsElapsed() / 1e9);
    lib.ReleaseImage(page);
    lib.EndAcquisition();
    if (phases)
        std::fprintf(stderr, "main left at %.4f\n", wallNow());
    return 0;
}
