// SPDX-License-Identifier: GPL-3.0-or-later
#include "PageFixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void setResolution(QImage& image, int dpi)
{
    const int dpm = qRound(dpi / 0.0254);
    image.setDotsPerMeterX(dpm);
    image.setDotsPerMeterY(dpm);
}

quint32 le32(const QByteArray& b, int at)
{
    return quint8(b[at]) | quint8(b[at + 1]) << 8 | quint8(b[at + 2]) << 16 | quint32(quint8(b[at + 3])) << 24;
}

FileProbe probeWithQt(const QString& path, FileProbe p)
{
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) {
        p.failure = reader.errorString();
        return p;
    }
    p.ok = true;
    p.width = image.width();
    p.height = image.height();
    p.dpiX = image.dotsPerMeterX() * 0.0254;
    p.dpiY = image.dotsPerMeterY() * 0.0254;
    p.pages = 1;
    return p;
}

FileProbe probeTiff(const QString& path)
{
    FileProbe p;
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!t) {
        p.failure = QStringLiteral("libtiff cannot open it");
        return p;
    }
    uint32_t w = 0, h = 0;
    uint16_t bits = 0, samples = 1, compression = 0, unit = 0;
    float xres = 0, yres = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres);
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    p.pages = TIFFNumberOfDirectories(t);
    TIFFClose(t);
    p.ok = true;
    p.width = int(w);
    p.height = int(h);
    p.bitsPerPixel = bits * samples;
    p.tiffCompression = compression;
    p.dpiX = unit == RESUNIT_INCH ? xres : 0;
    p.dpiY = unit == RESUNIT_INCH ? yres : 0;
    return p;
}

FileProbe probePdf(const QString& path)
{
    FileProbe p;
    int rc = 0;
    const QString info = runTool(QStringLiteral("pdfinfo"), {path}, &rc);
    if (rc != 0) {
        p.failure = QStringLiteral("pdfinfo failed");
        return p;
    }
    const auto pages = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    const auto size = QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(info);
    // pdfimages -list: page num type width height color comp bpc enc interp object ID x-ppi y-ppi ...
    const QStringList images = runTool(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path})
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!pages.hasMatch() || !size.hasMatch() || images.size() < 3) {
        p.failure = QStringLiteral("unexpected pdfinfo/pdfimages output: ") + info;
        return p;
    }
    const QStringList f = images[2].simplified().split(QLatin1Char(' '));
    p.ok = f.size() >= 14;
    p.pages = pages.captured(1).toInt();
    p.pageWidthPt = size.captured(1).toDouble();
    p.pageHeightPt = size.captured(2).toDouble();
    if (p.ok) {
        p.width = f[3].toInt();
        p.height = f[4].toInt();
        p.bitsPerPixel = f[6].toInt() * f[7].toInt();
        p.dpiX = f[12].toDouble();
        p.dpiY = f[13].toDouble();
    }
    return p;
}

} // namespace

QImage colourPage(int width, int height, int dpi)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            uchar* px = row + 3 * x;
            if (x < width / 4 && y < height / 4) {
                px[0] = px[1] = px[2] = 0;
            } else if (x >= width * 3 / 4 && y < height / 4) {
                px[0] = 255;
                px[1] = px[2] = 0;
            } else {
                px[0] = uchar(x * 255 / width);
                px[1] = uchar(y * 255 / height);
                px[2] = uchar(160 + (x + y) % 96);
            }
        }
    }
    setResolution(image, dpi);
    return image;
}

QImage grayPage(int width, int height, int dpi)
{
    QImage image = colourPage(width, height, dpi).convertToFormat(QImage::Format_Grayscale8);
    setResolution(image, dpi);
    return image;
}

QImage bilevelPage(int width, int height, int dpi)
{
    QImage image = colourPage(width, height, dpi).convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    setResolution(image, dpi);
    return image;
}

QImage noisyPage(int width, int height, int dpi)
{
    QImage image(width, height, QImage::Format_RGB888);
    QRandomGenerator random(42);
    for (int y = 0; y < height; ++y)
        random.fillRange(reinterpret_cast<quint32*>(image.scanLine(y)), image.bytesPerLine() / 4);
    setResolution(image, dpi);
    return image;
}

FileProbe probeFile(const QString& path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("tif") || ext == QLatin1String("tiff"))
        return probeTiff(path);
    if (ext == QLatin1String("pdf"))
        return probePdf(path);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FileProbe{false, file.errorString()};
    const QByteArray head = file.read(64);
    FileProbe p;
    if (ext == QLatin1String("bmp") && head.size() >= 54) {
        // The header as written, so that the stored depth is what is checked.
        p = probeWithQt(path, p);
        p.bitsPerPixel = quint8(head[28]) | quint8(head[29]) << 8;
        p.dpiX = le32(head, 38) * 0.0254;
        p.dpiY = le32(head, 42) * 0.0254;
        return p;
    }
    if (ext == QLatin1String("png") && head.size() >= 26) {
        p = probeWithQt(path, p);
        const int depth = quint8(head[24]);
        const int channels = quint8(head[25]) == 2 ? 3 : quint8(head[25]) == 6 ? 4 : 1;
        p.bitsPerPixel = depth * channels;
        return p;
    }
    p = probeWithQt(path, p);
    if (ext == QLatin1String("gif")) {
        p.bitsPerPixel = 8;
        p.dpiX = p.dpiY = 0;   // GIF has no resolution
    } else {
        const QImage image(path);
        p.bitsPerPixel = image.format() == QImage::Format_Grayscale8 ? 8 : 24;
    }
    return p;
}

QImage decodeFile(const QString& path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext != QLatin1String("tif") && ext != QLatin1String("tiff"))
        return QImage(path);
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!t)
        return {};
    uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    QImage image(int(w), int(h), QImage::Format_RGBA8888);
    const bool ok = TIFFReadRGBAImageOriented(t, w, h, reinterpret_cast<uint32_t*>(image.bits()),
                                              ORIENTATION_TOPLEFT, 0) == 1;
    TIFFClose(t);
    return ok ? image : QImage();
}

bool jpegHasQuality(const QByteArray& bytes, int quality)
{
    // The luminance table of the JPEG standard, which libjpeg scales by the quality.
    static const int kBase[64] = {
        16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19,  26,  58,  60,  55,
        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29,  51,  87,  80,  62,
        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64,  81,  104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99};
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    QList<int> expected;
    for (int b : kBase)
        expected << std::clamp((b * scale + 50) / 100, 1, 255);
    // The first quantization table after the start of the first JPEG stream, 8-bit entries.
    const qsizetype start = bytes.indexOf("\xff\xd8\xff");
    const qsizetype dqt = start < 0 ? -1 : bytes.indexOf("\xff\xdb", start);
    if (dqt < 0 || dqt + 5 + 64 > bytes.size() || (quint8(bytes[dqt + 4]) >> 4) != 0)
        return false;
    QList<int> found;
    for (int i = 0; i < 64; ++i)
        found << quint8(bytes[dqt + 5 + i]);
    // Stored in zigzag order: the same entries, whatever the order.
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    return found == expected;
}

bool forEachTiffPage(const QString& path, const std::function<void(TIFF*)>& page)
{
    TIFF* t = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!t)
        return false;
    do
        page(t);
    while (TIFFReadDirectory(t));
    TIFFClose(t);
    return true;
}

QList<int> tiffCompressions(const QString& path)
{
    QList<int> tags;
    forEachTiffPage(path, [&](TIFF* t) {
        uint16_t tag = 0;
        TIFFGetField(t, TIFFTAG_COMPRESSION, &tag);
        tags << tag;
    });
    return tags;
}

QString runTool(const QString& program, const QStringList& arguments, int* exitCode)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QList<QSizeF> pdfPageSizes(const QString& path)
{
    static const QRegularExpression count(QStringLiteral(R"(Pages: +(\d+))"));
    const QString pages = count.match(runTool(QStringLiteral("pdfinfo"), {path})).captured(1);
    const QString info = runTool(QStringLiteral("pdfinfo"),
                                 {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), pages, path});
    QList<QSizeF> sizes;
    static const QRegularExpression page(QStringLiteral(R"(Page +\d+ size: +([\d.]+) x ([\d.]+) pts)"));
    for (auto it = page.globalMatch(info); it.hasNext();) {
        const auto m = it.next();
        sizes.append(QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()));
    }
    return sizes;
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

FailingFolder::FailingFolder(const QString& folder, Kind kind) : m_folder(folder)
{
    const QByteArray dir = QFile::encodeName(folder);
    if (geteuid() != 0 && kind == ReadOnly) {
        m_active = ::chmod(dir.constData(), 0555) == 0;
        if (!m_active)
            m_reason = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    // Only this test process sees the mount: each test case runs in a process of its own.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        m_reason = QStringLiteral("no private mount namespace: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    int rc;
    if (kind == ReadOnly) {
        rc = ::mount(dir.constData(), dir.constData(), nullptr, MS_BIND, nullptr);
        if (rc == 0) {
            m_mounted = true;
            rc = ::mount(nullptr, dir.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
        }
    } else {
        rc = ::mount("quillora-full", dir.constData(), "tmpfs", 0, "size=64k");
        m_mounted = rc == 0;
    }
    m_active = rc == 0;
    if (!m_active)
        m_reason = QStringLiteral("mount failed: ") + QString::fromLocal8Bit(std::strerror(errno));
}

FailingFolder::~FailingFolder()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}
