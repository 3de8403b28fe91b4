// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the desktop icons from the program's own logo drawing, so that the menu, the task
// bar and the About window show one picture:
//   quillora_make_icons <folder> <icon name> <size>...
// gives <folder>/scalable/apps/<icon name>.svg and <folder>/<n>x<n>/apps/<icon name>.png.
#include "ui/Artwork.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgGenerator>

#include <cstdio>

namespace {

bool writeSvg(const QString& file)
{
    // 256 user units square: the drawing's proportions, a size that scales to any other.
    QBuffer out;
    QSvgGenerator svg;
    svg.setOutputDevice(&out);
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    svg.setTitle(QStringLiteral("Quillora"));
    svg.setDescription(QStringLiteral("A quill over a scanned sheet"));
    QPainter painter;
    if (!painter.begin(&svg))
        return false;
    Artwork::paintLogo(painter, QSizeF(256, 256));
    if (!painter.end())
        return false;
    // The drawing has no text, yet every group carries the painter's font, whose unset
    // size comes out as the invalid font-size="-1".
    QByteArray text = out.data();
    static const QRegularExpression fontAttributes(QStringLiteral(R"(\s+font-[a-z]+="[^"]*")"));
    text = QString::fromUtf8(text).remove(fontAttributes).toUtf8();
    QFile f(file);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size() &&
           f.flush();
}

bool writePng(const QString& file, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    Artwork::paintLogo(painter, QSizeF(size, size));
    painter.end();
    return image.save(file, "PNG");
}

} // namespace

int main(int argc, char** argv)
{
    // Images and SVG need no window system: the build machine may have none.
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: %s <folder> <icon name> <size>...\n", argv[0]);
        return 2;
    }
    const QDir root(args[1]);
    const QString name = args[2];

    auto fail = [](const QString& file) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return 1;
    };
    if (!root.mkpath(QStringLiteral("scalable/apps")))
        return fail(root.filePath(QStringLiteral("scalable/apps")));
    const QString svg = root.filePath(QStringLiteral("scalable/apps/%1.svg").arg(name));
    if (!writeSvg(svg))
        return fail(svg);
    for (qsizetype i = 3; i < args.size(); ++i) {
        bool ok = false;
        const int size = args[i].toInt(&ok);
        if (!ok || size <= 0 || size > 1024) {
            std::fprintf(stderr, "not an icon size: %s\n", qPrintable(args[i]));
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString png = root.filePath(folder + QStringLiteral("/%1.png").arg(name));
        if (!root.mkpath(folder) || !writePng(png, size))
            return fail(png);
    }
    return 0;
}
