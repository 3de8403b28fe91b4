// SPDX-License-Identifier: GPL-3.0-or-later
// Exports bitmap pages to one multipage PDF or TIFF with Quillora's writer, as the images
// pane does: each page read from its file, appended, released.
//
//   bench_multipage <out.pdf|out.tif> [-c tiff compression] [-q jpeg quality] <page.bmp>...
#include "output/ImageFiles.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_multipage <out.pdf|out.tif> [-c N] [-q N] <page.bmp>...\n");
        return 2;
    }
    const QString out = args.takeFirst();
    ImageWriteOptions options;
    while (args.size() >= 2 && (args[0] == QLatin1String("-c") || args[0] == QLatin1String("-q"))) {
        (args[0] == QLatin1String("-c") ? options.tiffCompression : options.jpegQuality) = args[1].toInt();
        args.remove(0, 2);
    }
    QString error;
    auto writer = MultipageWriter::begin(out, options, &error);
    bool ok = writer != nullptr;
    for (const QString& path : args) {
        if (!ok)
            break;
        const QImage page = loadImageFile(path, &error);
        ok = !page.isNull() && writer->appendPage(page, &error);
    }
    ok = ok && writer->finish(&error);
    if (!ok) {
        std::fprintf(stderr, "bench_multipage: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
