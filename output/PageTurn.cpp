// SPDX-License-Identifier: GPL-3.0-or-later
#include "PageTurn.h"

#include "FilePlacement.h"
#include "ImageFiles.h"
#include "PlainBitmap.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QTransform>

#include <tiffio.h>
#include <turbojpeg.h>

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

enum class Content { Unknown, Bmp, Gif, Jpeg, Png, Pdf, Tiff };

Content contentOf(const QByteArray& head)
{
    if (head.startsWith("BM"))
        return Content::Bmp;
    if (head.startsWith("GIF8"))
        return Content::Gif;
    if (head.startsWith("\xff\xd8\xff"))
        return Content::Jpeg;
    if (head.startsWith("\x89PNG"))
        return Content::Png;
    if (head.startsWith("%PDF"))
        return Content::Pdf;
    if (head.startsWith(QByteArrayLiteral("II*\0")) || head.startsWith(QByteArrayLiteral("MM\0*")))
        return Content::Tiff;
    return Content::Unknown;
}

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// The file's bytes, or its first `limit` of them: the first bytes say what it holds, and only
// the kinds turned as coded bytes (JPEG, PDF) are read whole.
bool readBytes(const QString& path, QByteArray* bytes, QString* error, qint64 limit = -1)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    *bytes = limit < 0 ? file.readAll() : file.read(limit);
    if (file.error() != QFileDevice::NoError)
        return fail(error, QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    return true;
}

// A page-sized image in memory of its own, in huge pages where the system has them: a
// 300 dpi colour page in 4 KiB pages costs thousands of page faults, which on a virtual
// machine take longer than the turn itself.
QImage largeImage(int width, int height, QImage::Format format, int bytesPerPixel)
{
    constexpr std::size_t kHuge = std::size_t(2) << 20;
    const qsizetype bytesPerLine = (qsizetype(width) * bytesPerPixel + 3) & ~qsizetype(3);
    const std::size_t bytes = std::size_t(bytesPerLine) * std::size_t(height);
    if (bytes < kHuge)
        return QImage(width, height, format);
    const std::size_t mapped = (bytes + kHuge - 1) / kHuge * kHuge;
    void* memory = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return QImage(width, height, format);
#ifdef MADV_HUGEPAGE
    madvise(memory, mapped, MADV_HUGEPAGE); // advice only
#endif
    struct Mapping
    {
        void* start;
        std::size_t bytes;
    };
    auto* mapping = new Mapping{memory, mapped};
    return QImage(
        static_cast<uchar*>(memory), width, height, bytesPerLine, format,
        [](void* info) {
            auto* m = static_cast<Mapping*>(info);
            munmap(m->start, m->bytes);
            delete m;
        },
        mapping);
}

// A 24-bit bitmap (the pane's own copies, and BMP page files) turned straight from the mapped
// file into 8-bit RGB, in tiles, so that neither the unturned page nor a second copy is ever
// made. Null when the file is no such bitmap (the general path takes it).
QImage turnedPlainBmp(const QString& path, int quarterTurns)
{
    QFile file(path);
    PlainBitmap b;
    const uchar* data = mapColourBitmap(file, &b);
    if (!data)
        return {};
    const bool across = quarterTurns % 2 == 1;
    QImage turned = largeImage(across ? b.height : b.width, across ? b.width : b.height,
                               QImage::Format_RGB888, 3);
    if (turned.isNull())
        return {};
    const int w = b.width, h = b.height;
    const auto sourceRow = [&](int y) {
        return data + b.dataOffset + b.stride * (b.bottomUp ? h - 1 - y : y);
    };
    uchar* const bits = turned.bits();
    const qsizetype line = turned.bytesPerLine();
    constexpr int kTile = 64;
    for (int ty = 0; ty < h; ty += kTile) {
        for (int tx = 0; tx < w; tx += kTile) {
            const int yEnd = std::min(h, ty + kTile), xEnd = std::min(w, tx + kTile);
            for (int y = ty; y < yEnd; ++y) {
                const uchar* src = sourceRow(y) + 3 * qsizetype(tx);
                for (int x = tx; x < xEnd; ++x, src += 3) {
                    // Where source pixel (x, y) lies after the turn, clockwise.
                    int dx, dy;
                    switch (quarterTurns) {
                    case 1: dx = h - 1 - y; dy = x; break;
                    case 2: dx = w - 1 - x; dy = h - 1 - y; break;
                    default: dx = y; dy = w - 1 - x; break;
                    }
                    uchar* dst = bits + line * dy + 3 * qsizetype(dx);
                    dst[0] = src[2]; // the file keeps blue first
                    dst[1] = src[1];
                    dst[2] = src[0];
                }
            }
        }
    }
    turned.setDotsPerMeterX(across ? b.dotsPerMeterY : b.dotsPerMeterX);
    turned.setDotsPerMeterY(across ? b.dotsPerMeterX : b.dotsPerMeterY);
    return turned;
}

bool writeAll(const QString& path, const QByteArray& bytes, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()
        || !file.flush() || (file.close(), file.error() != QFileDevice::NoError))
        return fail(error, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    return true;
}

// ------------------------------------------------------------------------------------ JPEG

// The block grid of a JPEG stream is anchored at its top-left corner: a turn keeps every
// block whole only when no partial block would come to lie on the top or left edge.
bool turnsWithoutDecoding(int width, int height, int subsampling, int quarterTurns)
{
    const int w = tjMCUWidth[subsampling];
    const int h = tjMCUHeight[subsampling];
    switch (quarterTurns) {
    case 1: return height % h == 0;
    case 2: return width % w == 0 && height % h == 0;
    case 3: return width % w == 0;
    default: return true;
    }
}

// The JFIF header keeps the density of the page it came from; the turned page has them the
// other way round.
void swapJfifDensity(QByteArray& jpeg)
{
    if (jpeg.size() >= 18 && uchar(jpeg[2]) == 0xff && uchar(jpeg[3]) == 0xe0
        && jpeg.mid(6, 5) == QByteArrayLiteral("JFIF\0")) {
        std::swap(jpeg[14], jpeg[16]);
        std::swap(jpeg[15], jpeg[17]);
    }
}

// 0: could not be turned without decoding (the caller codes the page anew); -1: failed.
int turnJpegLosslessly(const QByteArray& jpeg, int quarterTurns, QByteArray* turned, QString* error)
{
    tjhandle handle = tjInitTransform();
    if (!handle) {
        fail(error, QStringLiteral("JPEG error: ") + QString::fromLocal8Bit(tjGetErrorStr2(nullptr)));
        return -1;
    }
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    const auto* source = reinterpret_cast<const unsigned char*>(jpeg.constData());
    int result = 0;
    if (tjDecompressHeader3(handle, source, jpeg.size(), &width, &height, &subsampling, &colourspace) != 0
        || subsampling < 0 || subsampling >= TJ_NUMSAMP) {
        result = 0;   // a stream TurboJPEG cannot take apart; the decoder may still read it
    } else if (turnsWithoutDecoding(width, height, subsampling, quarterTurns)) {
        tjtransform transform{};
        transform.op = quarterTurns == 1 ? TJXOP_ROT90 : quarterTurns == 2 ? TJXOP_ROT180 : TJXOP_ROT270;
        transform.options = TJXOPT_PERFECT;
        unsigned char* out = nullptr;
        unsigned long outSize = 0;
        if (tjTransform(handle, source, jpeg.size(), 1, &out, &outSize, &transform, 0) == 0) {
            *turned = QByteArray(reinterpret_cast<const char*>(out), qsizetype(outSize));
            swapJfifDensity(*turned);
            result = 1;
        } else {
            fail(error, QStringLiteral("JPEG error: ") + QString::fromLocal8Bit(tjGetErrorStr2(handle)));
            result = -1;
        }
        tjFree(out);
    }
    tjDestroy(handle);
    return result;
}

// libjpeg's luminance table for quality 50, in natural order, and its scaling.
constexpr std::array<int, 64> kLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

std::array<int, 64> scaledLuminance(int quality)
{
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    std::array<int, 64> table{};
    for (size_t i = 0; i < 64; ++i)
        table[i] = std::clamp((kLuminance[i] * scale + 50) / 100, 1, 255);
    return table;
}

// ------------------------------------------------------------------------------------ TIFF

struct TiffPage
{
    QImage image;
    int compression = COMPRESSION_NONE;
    int jpegQuality = 0;
    int pages = 0;
};

int tiffSilence(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// The first page's pixels in the layout the encoders keep (1 bit, gray, RGB), with its
// resolution, its compression, and for JPEG-in-TIFF the quality of its tables.
bool readTiff(const QString& path, TiffPage* page, QString* error)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiffSilence, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiffSilence, nullptr);
    TIFF* t = TIFFOpenExt(QFile::encodeName(path).constData(), "r", options);
    TIFFOpenOptionsFree(options);
    if (!t)
        return fail(error, QStringLiteral("Cannot read %1: not a TIFF file libtiff can open").arg(path));
    uint32_t w = 0, h = 0;
    uint16_t bits = 1, samples = 1, compression = COMPRESSION_NONE, unit = RESUNIT_INCH;
    float xres = 0, yres = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres);
    TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres);
    page->compression = compression;
    if (compression == COMPRESSION_JPEG) {
        uint32_t count = 0;
        void* tables = nullptr;
        if (TIFFGetField(t, TIFFTAG_JPEGTABLES, &count, &tables) && tables)
            page->jpegQuality = jpegQualityOf(QByteArray(static_cast<const char*>(tables), qsizetype(count)));
    }
    QImage rgba(int(w), int(h), QImage::Format_ARGB32);
    const bool read = !rgba.isNull()
                      && TIFFReadRGBAImageOriented(t, w, h, reinterpret_cast<uint32_t*>(rgba.bits()),
                                                   ORIENTATION_TOPLEFT, 0);
    page->pages = TIFFNumberOfDirectories(t);
    TIFFClose(t);
    if (!read)
        return fail(error, QStringLiteral("Cannot read %1: the page cannot be decoded").arg(path));
    // libtiff gives ABGR words; Qt's ARGB32 wants ARGB.
    rgba = rgba.rgbSwapped();
    const QImage::Format layout = bits == 1 ? QImage::Format_Mono
                                : samples == 1 ? QImage::Format_Grayscale8
                                               : QImage::Format_RGB888;
    page->image = rgba.convertToFormat(layout, Qt::ThresholdDither);
    const double perMetre = unit == RESUNIT_CENTIMETER ? 100.0 : unit == RESUNIT_INCH ? 1 / 0.0254 : 0;
    page->image.setDotsPerMeterX(int(std::lround(xres * perMetre)));
    page->image.setDotsPerMeterY(int(std::lround(yres * perMetre)));
    return true;
}

// ------------------------------------------------------------------------------------- PDF

// A one-page PDF as this program writes it: numbered objects listed by a classic
// cross-reference table. Turning sets the page's /Rotate; the image stream stays as it is,
// and so does a text layer over it. Files of another build are refused rather than guessed at.
bool turnPdf(const QByteArray& pdf, int quarterTurns, QByteArray* turned, QString* error)
{
    const QString notOurs = QStringLiteral("The PDF file is not laid out as a page file of this program");
    const qsizetype startxref = pdf.lastIndexOf("startxref");
    if (startxref < 0)
        return fail(error, notOurs);
    const qint64 xrefAt = pdf.mid(startxref + 9, 32).trimmed().split('\n').value(0).trimmed().toLongLong();
    if (xrefAt <= 0 || xrefAt >= startxref || !pdf.mid(xrefAt).startsWith("xref"))
        return fail(error, notOurs);
    static const QRegularExpression header(QStringLiteral("^xref\\s+0\\s+(\\d+)\\s"));
    const auto match = header.match(QString::fromLatin1(pdf.mid(xrefAt, 64)));
    if (!match.hasMatch())
        return fail(error, notOurs);
    const int count = match.captured(1).toInt();
    const qsizetype entries = xrefAt + match.capturedLength(0);
    const qsizetype trailer = pdf.indexOf("trailer", entries);
    if (count < 2 || trailer < 0 || trailer != entries + qsizetype(count) * 20)
        return fail(error, notOurs);
    // Every object's bytes, from its offset to the next object in file order.
    std::vector<std::pair<qint64, int>> byOffset;
    for (int i = 1; i < count; ++i) {
        const qint64 offset = pdf.mid(entries + qsizetype(i) * 20, 10).toLongLong();
        if (offset <= 0 || offset >= xrefAt)
            return fail(error, notOurs);
        byOffset.emplace_back(offset, i);
    }
    std::sort(byOffset.begin(), byOffset.end());
    std::vector<QByteArray> objects(static_cast<size_t>(count));
    for (size_t k = 0; k < byOffset.size(); ++k) {
        const qint64 end = k + 1 < byOffset.size() ? byOffset[k + 1].first : xrefAt;
        objects[size_t(byOffset[k].second)] = pdf.mid(byOffset[k].first, end - byOffset[k].first);
    }
    // The one page object.
    int pageIndex = -1;
    static const QRegularExpression pageType(QStringLiteral("/Type\\s*/Page[^s]"));
    for (int i = 1; i < count; ++i) {
        const QByteArray& o = objects[size_t(i)];
        const qsizetype streamAt = o.indexOf("stream");
        if (pageType.match(QString::fromLatin1(streamAt < 0 ? o : o.left(streamAt))).hasMatch()) {
            if (pageIndex >= 0)
                return fail(error, QStringLiteral("The PDF file holds more than one page"));
            pageIndex = i;
        }
    }
    if (pageIndex < 0)
        return fail(error, notOurs);
    QString page = QString::fromLatin1(objects[size_t(pageIndex)]);
    static const QRegularExpression rotate(QStringLiteral("\\s*/Rotate\\s+(-?\\d+)"));
    const auto current = rotate.match(page);
    int degrees = current.hasMatch() ? current.captured(1).toInt() : 0;
    degrees = ((degrees + quarterTurns * 90) % 360 + 360) % 360;
    if (current.hasMatch())
        page.remove(current.capturedStart(0), current.capturedLength(0));
    if (degrees != 0) {
        const qsizetype close = page.lastIndexOf(QStringLiteral(">>"));
        if (close < 0)
            return fail(error, notOurs);
        page.insert(close, QStringLiteral("/Rotate %1 ").arg(degrees));
    }
    objects[size_t(pageIndex)] = page.toLatin1();

    QByteArray out = pdf.left(byOffset.front().first);
    std::vector<qint64> offsets(static_cast<size_t>(count), 0);
    for (const auto& [offset, index] : byOffset) {
        offsets[size_t(index)] = out.size();
        out += objects[size_t(index)];
    }
    const qint64 newXref = out.size();
    out += "xref\n0 " + QByteArray::number(count) + "\n0000000000 65535 f\r\n";
    for (int i = 1; i < count; ++i)
        out += QByteArray::number(offsets[size_t(i)]).rightJustified(10, '0') + " 00000 n\r\n";
    out += pdf.mid(trailer, startxref - trailer) + "startxref\n" + QByteArray::number(newXref) + "\n%%EOF\n";
    *turned = out;
    return true;
}

// ------------------------------------------------------------------------------ the others

QImage decoded(const QString& path, QString* error)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull())
        fail(error, QStringLiteral("Cannot read %1: %2").arg(path, reader.errorString()));
    return image;
}

const char* extensionOf(Content content)
{
    switch (content) {
    case Content::Bmp: return "bmp";
    case Content::Gif: return "gif";
    case Content::Jpeg: return "jpg";
    case Content::Png: return "png";
    case Content::Tiff: return "tiff";
    default: return "";
    }
}

} // namespace

QImage turnedImage(const QImage& image, int quarterTurns)
{
    quarterTurns = ((quarterTurns % 4) + 4) % 4;
    if (quarterTurns == 0 || image.isNull())
        return image;
    QImage turned = image.transformed(QTransform().rotate(90.0 * quarterTurns));
    // The bits past the last pixel of a 1-bit row come out of the turn as they happen to be;
    // cleared, a page turned round comes back as the very bytes it was.
    const int spare = turned.width() % 8;
    if (turned.format() == QImage::Format_Mono && spare != 0) {
        const uchar keep = uchar(0xff << (8 - spare));
        for (int y = 0; y < turned.height(); ++y)
            turned.scanLine(y)[turned.width() / 8] &= keep;
    }
    const bool across = quarterTurns % 2 == 1;
    turned.setDotsPerMeterX(across ? image.dotsPerMeterY() : image.dotsPerMeterX());
    turned.setDotsPerMeterY(across ? image.dotsPerMeterX() : image.dotsPerMeterY());
    return turned;
}

int jpegQualityOf(const QByteArray& jpeg)
{
    // The first 8-bit table 0 of a DQT segment.
    std::array<int, 64> table{};
    bool found = false;
    for (qsizetype at = jpeg.indexOf("\xff\xdb"); at >= 0 && !found; at = jpeg.indexOf("\xff\xdb", at + 2)) {
        if (at + 4 + 65 > jpeg.size())
            break;
        const int length = uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]);
        for (qsizetype p = at + 4; p + 65 <= at + 2 + length && p + 65 <= jpeg.size();) {
            const int precision = uchar(jpeg[p]) >> 4;
            const int id = uchar(jpeg[p]) & 15;
            if (precision == 0 && id == 0) {
                for (int i = 0; i < 64; ++i)
                    table[size_t(i)] = uchar(jpeg[p + 1 + i]);
                found = true;
                break;
            }
            p += 1 + (precision ? 128 : 64);
        }
    }
    if (!found)
        return 0;
    // The file holds the table in zigzag order: compare the values as sorted lists.
    std::sort(table.begin(), table.end());
    int best = 75;
    long bestDistance = -1;
    for (int quality = 1; quality <= 100; ++quality) {
        std::array<int, 64> standard = scaledLuminance(quality);
        std::sort(standard.begin(), standard.end());
        long distance = 0;
        for (size_t i = 0; i < 64; ++i)
            distance += std::abs(standard[i] - table[i]);
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best = quality;
        }
    }
    return best;
}

PageTurn::~PageTurn()
{
    discardTemporary(m_temporary);
}

bool PageTurn::prepare(const QString& path, int quarterTurns, const Original& original, QString* error)
{
    discardTemporary(m_temporary);
    m_temporary.clear();
    m_image = QImage();
    m_path = path;
    quarterTurns = ((quarterTurns % 4) + 4) % 4;

    const QFileInfo info(path);
    if (!info.isFile())
        return fail(error, QStringLiteral("The file %1 no longer exists").arg(path));
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !info.isWritable()
        || !(st.st_mode & S_IWUSR))
        return fail(error, QStringLiteral("The file %1 is read-only").arg(path));

    QByteArray bytes;
    if (!readBytes(path, &bytes, error, 8))
        return false;
    const Content content = contentOf(bytes);
    if ((content == Content::Jpeg || content == Content::Pdf) && !readBytes(path, &bytes, error))
        return false;
    QByteArray turnedBytes;
    ImageWriteOptions options;
    switch (content) {
    case Content::Unknown:
        return fail(error, QStringLiteral("The file %1 holds no page this program can turn").arg(path));
    case Content::Pdf:
        if (!turnPdf(bytes, quarterTurns, &turnedBytes, error))
            return false;
        break;
    case Content::Jpeg: {
        const int lossless = turnJpegLosslessly(bytes, quarterTurns, &turnedBytes, error);
        if (lossless < 0)
            return false;
        if (lossless == 0) {
            options.jpegQuality = std::max(1, jpegQualityOf(bytes));
            // Coded anew from the page's own pixels when they are at hand: the file's need
            // no decoding then.
            QSize size = QImageReader(path).size();
            if (quarterTurns % 2 == 1)
                size.transpose();
            const QImage* pixels = original ? original() : nullptr;
            m_image = pixels && !size.isEmpty() && pixels->size() == size
                          ? *pixels
                          : turnedImage(decoded(path, error), quarterTurns);
        }
        break;
    }
    case Content::Tiff: {
        TiffPage page;
        if (!readTiff(path, &page, error))
            return false;
        if (page.pages > 1)
            return fail(error, QStringLiteral("The TIFF file %1 holds more than one page").arg(path));
        options.tiffCompression = page.compression;
        if (page.compression == COMPRESSION_JPEG)
            options.jpegQuality = page.jpegQuality > 0 ? page.jpegQuality : 75;
        m_image = turnedImage(page.image, quarterTurns);
        break;
    }
    case Content::Bmp:
        if (quarterTurns != 0)
            m_image = turnedPlainBmp(path, quarterTurns);
        if (m_image.isNull())
            m_image = turnedImage(loadImageFile(path, error), quarterTurns);
        break;
    default:
        m_image = turnedImage(decoded(path, error), quarterTurns);
        break;
    }
    if (turnedBytes.isEmpty()) {
        if (m_image.isNull())
            return false;
        // Lossy codings start again from the page's own pixels where there are any.
        const bool lossy = content == Content::Tiff && options.tiffCompression == COMPRESSION_JPEG;
        const QImage* pixels = lossy && original ? original() : nullptr;
        if (pixels && pixels->size() == m_image.size())
            m_image = *pixels;
    }

    m_temporary = createTemporaryBeside(path, error);
    if (m_temporary.isEmpty())
        return false;
    const bool written = turnedBytes.isEmpty()
                             ? encodeImageAs(m_image, QString::fromLatin1(extensionOf(content)),
                                             m_temporary, options, error)
                             : writeAll(m_temporary, turnedBytes, error);
    // The turned file keeps the access rights of the one it replaces.
    if (!written || ::chmod(QFile::encodeName(m_temporary).constData(), st.st_mode & 07777) != 0) {
        if (written)
            fail(error, systemErrorText(QStringLiteral("Cannot write"), m_temporary, errno));
        discardTemporary(m_temporary);
        m_temporary.clear();
        return false;
    }
    return true;
}

bool PageTurn::commit(QString* error)
{
    if (m_temporary.isEmpty())
        return fail(error, QStringLiteral("Nothing to turn"));
    if (!moveReplacing(m_temporary, m_path, error))
        return false;
    m_temporary.clear();
    return true;
}
