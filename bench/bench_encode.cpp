// SPDX-License-Identifier: GPL-3.0-or-later
// Encodes one page with Quillora's encoders, for bench/run.sh.
//
//   bench_encode mem <page.bmp> <outdir> <case>...   page loaded once, then each case encoded
//                                                    from memory; prints "case<TAB>seconds<TAB>bytes"
//   bench_encode one <page.bmp> <out.ext> [tiff compression]   whole process: load + write
//
// A case is an extension (bmp gif jpg png pdf) or tif:<compression>.
#include "output/ImageFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

int fail(const QString& text)
{
    std::fprintf(stderr, "bench_encode: %s\n", qPrintable(text));
    return 1;
}

// The scanner library holds colour pages as 8-bit RGB; encode what it would hold.
QImage loadPage(const QString& path, QString* error)
{
    QImage page = loadImageFile(path, error);
    if (!page.isNull() && page.format() != QImage::Format_RGB888)
        page = page.convertToFormat(QImage::Format_RGB888);
    return page;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return fail(QStringLiteral("usage: bench_encode mem|one <page.bmp> ..."));
    QString error;
    if (args[1] == QLatin1String("one")) {
        ImageWriteOptions options;
        if (args.size() > 4)
            options.tiffCompression = args[4].toInt();
        const QImage page = loadPage(args[2], &error);
        if (page.isNull() || !writeImageFile(page, args[3], options, &error))
            return fail(error);
        return 0;
    }

    const QImage page = loadPage(args[2], &error);
    if (page.isNull())
        return fail(error);
    const QString outdir = args[3];
    // Untimed warm-up: the first touch of fresh memory is slow on some machines.
    const QString warm = outdir + QStringLiteral("/warm.bmp");
    QFile::remove(warm);
    if (!writeImageFile(page, warm, {}, &error))
        return fail(error);
    QFile::remove(warm);

    for (int i = 4; i < args.size(); ++i) {
        const QString c = args[i];
        ImageWriteOptions options;
        QString ext = c;
        if (c.startsWith(QLatin1String("tif:"))) {
            ext = QStringLiteral("tif");
            options.tiffCompression = c.mid(4).toInt();
        }
        const QString out = outdir + QStringLiteral("/mem.") + ext;
        QFile::remove(out);
        QElapsedTimer timer;
        timer.start();
        if (!writeImageFile(page, out, options, &error))
            return fail(error);
        const double seconds = timer.nsecsElapsed() / 1e9;
        std::printf("%s\t%.6f\t%lld\n", qPrintable(c), seconds, QFileInfo(out).size());
        QFile::remove(out);
    }
    return 0;
}
