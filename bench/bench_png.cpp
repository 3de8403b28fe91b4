// PNG encoders side by side on pages held in memory, for bench/run.sh.
//
//   bench_png <page.bmp> <outdir> <reps> [colour|gray|bilevel]
//   prints "encoder<TAB>rep<TAB>wall seconds<TAB>cpu seconds<TAB>bytes" per encoding
#include "output/ImageFiles.h"
#include "output/PageEncoders.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <ctime>

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: bench_png <page.bmp> <outdir> <reps>\n");
        return 1;
    }
    QString error;
    QImage page = loadImageFile(args[1], &error);
    if (page.isNull()) {
        std::fprintf(stderr, "bench_png: %s\n", qPrintable(error));
        return 1;
    }
    // What the scanner library holds for each pixel type.
    const QString kind = args.size() > 4 ? args[4] : QStringLiteral("colour");
    page = page.convertToFormat(kind == QLatin1String("gray")      ? QImage::Format_Grayscale8
                                : kind == QLatin1String("bilevel") ? QImage::Format_Mono
                                                                   : QImage::Format_RGB888);
    const QString out = args[2] + QStringLiteral("/bench.png");
    using Encode = bool (*)(const QImage&, QIODevice&, QString*);
    const struct { const char* name; Encode encode; } encoders[] = {
        {"ours", encodePng}, {"libpng", encodePngLibpng}};
    const int reps = args[3].toInt();
    for (int rep = 0; rep <= reps; ++rep) {   // rep 0 warms up and is not reported
        for (const auto& e : encoders) {
            QFile file(out);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return 1;
            QElapsedTimer timer;
            const double cpu0 = cpuSeconds();
            timer.start();
            const bool ok = e.encode(page, file, &error) && file.flush();
            const double wall = timer.nsecsElapsed() / 1e9;
            const double cpu = cpuSeconds() - cpu0;
            file.close();
            if (!ok) {
                std::fprintf(stderr, "bench_png: %s\n", qPrintable(error));
                return 1;
            }
            if (rep > 0)
                std::printf("%s\t%d\t%.6f\t%.6f\t%lld\n", e.name, rep, wall, cpu, QFile(out).size());
            QFile::remove(out);
        }
    }
    return 0;
}
