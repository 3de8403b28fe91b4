// SPDX-License-Identifier: GPL-3.0-or-later
// Benchmark program for bench/pages.sh: searchable PDF export and turning a page, each as
// the program does it, so that the script can time whole processes beside tesseract,
// jpegtran and convert.
//
//   bench_pages text <dir> <count>            text pages: <dir>/page<i>.png and .bmp
//   bench_pages colour <file.jpg> <copy.bmp>   a colour page as a JPEG scan and its copy
//   bench_pages ocr <out.pdf> <page.bmp>...    a searchable PDF of the pages (English)
//   bench_pages turn <file.jpg> <copy.bmp> <quarter turns>
//                                              turn file and copy, make the thumbnail;
//                                              prints the seconds the turn took inside
#include "output/ImageFiles.h"
#include "output/MultipageExport.h"
#include "output/PageTurn.h"
#include "scanner/Thumbnail.h"
#include "tests/output/TextPages.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QRandomGenerator>

#include <cstdio>
#include <thread>

namespace {

int fail(const QString& why)
{
    std::fprintf(stderr, "%s\n", qPrintable(why));
    return 1;
}

QImage colourScan()
{
    // A4 at 300 dpi: smooth colour with grain, as a photo page scans.
    QImage page(2480, 3508, QImage::Format_RGB888);
    QRandomGenerator random(5);
    for (int y = 0; y < page.height(); ++y) {
        uchar* row = page.scanLine(y);
        for (int x = 0; x < page.width(); ++x) {
            const int grain = int(random.bounded(21)) - 10;
            row[3 * x] = uchar(std::clamp(x * 255 / page.width() + grain, 0, 255));
            row[3 * x + 1] = uchar(std::clamp(y * 255 / page.height() + grain, 0, 255));
            row[3 * x + 2] = uchar(std::clamp(128 + (x ^ y) % 64 + grain, 0, 255));
        }
    }
    const int dpm = qRound(300 / 0.0254);
    page.setDotsPerMeterX(dpm);
    page.setDotsPerMeterY(dpm);
    return page;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString command = args.value(1);
    QString error;
    if (command == QLatin1String("text") && args.size() == 4) {
        for (int i = 1; i <= args[3].toInt(); ++i) {
            const TextPage page = renderTextPage(sampleWords(QStringLiteral("eng"), 280, unsigned(i)), 0.4, unsigned(i));
            const QString base = args[2] + QStringLiteral("/page%1").arg(i);
            if (!page.image.save(base + QStringLiteral(".png"))
                || !writeImageFile(page.image, base + QStringLiteral(".bmp"), {}, &error))
                return fail(error.isEmpty() ? QStringLiteral("cannot write ") + base : error);
        }
        return 0;
    }
    if (command == QLatin1String("colour") && args.size() == 4) {
        const QImage page = colourScan();
        if (!writeImageFile(page, args[2], {}, &error) || !writeImageFile(page, args[3], {}, &error))
            return fail(error);
        return 0;
    }
    if (command == QLatin1String("ocr") && args.size() >= 4) {
        ImageWriteOptions options;
        options.recognitionLanguage = QStringLiteral("eng");
        const MultipageExportResult r = exportMultipage(args.mid(3), args[2], options);
        return r.ok ? 0 : fail(r.error);
    }
    if (command == QLatin1String("turn") && args.size() == 5) {
        QElapsedTimer clock;
        clock.start();
        // As the pane turns an entry: the copy beside the file, then the thumbnail.
        PageTurn copy;
        PageTurn file;
        const int turns = args[4].toInt();
        bool copied = false;
        QString copyError;
        std::thread copying([&] { copied = copy.prepare(args[3], turns, {}, &copyError); });
        const auto copyDone = [&]() -> const QImage* {
            if (copying.joinable())
                copying.join();
            return copied ? &copy.image() : nullptr;
        };
        const bool prepared = file.prepare(args[2], turns, copyDone, &error);
        copyDone();
        if (!prepared || !copied || !file.commit(&error) || !copy.commit(&error))
            return fail(error.isEmpty() ? copyError : error);
        const QImage thumbnail = makeThumbnail(copy.image(), copy.image().width(), copy.image().height());
        std::printf("%.4f\n", clock.nsecsElapsed() / 1e9);
        return thumbnail.isNull() ? 1 : 0;
    }
    return fail(QStringLiteral("usage: see the head of bench_pages.cpp"));
}
