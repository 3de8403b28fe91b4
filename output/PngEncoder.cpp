// PNG written with zlib directly: Qt's PNG writer filters every row five ways and
// compresses hard, which costs seconds on a 300 dpi page.
#include "PageEncoders.h"

#include "PageRows.h"

#include <QIODevice>

#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

class PngChunks
{
public:
    explicit PngChunks(QIODevice& out) : m_out(out) {}

    bool write(const char type[4], const uchar* data, quint32 size)
    {
        uchar head[8];
        putBe32(head, size);
        std::memcpy(head + 4, type, 4);
        uLong crc = crc32(0, head + 4, 4);
        if (size > 0)
            crc = crc32(crc, data, size);   // crc32 with no buffer would restart the sum
        uchar tail[4];
        putBe32(tail, quint32(crc));
        return put(head, 8) && put(data, size) && put(tail, 4);
    }

    bool put(const uchar* data, qint64 size)
    {
        return size == 0 || m_out.write(reinterpret_cast<const char*>(data), size) == size;
    }

    static void putBe32(uchar* p, quint32 v)
    {
        p[0] = uchar(v >> 24);
        p[1] = uchar(v >> 16);
        p[2] = uchar(v >> 8);
        p[3] = uchar(v);
    }

private:
    QIODevice& m_out;
};

// Sub or Up, whichever leaves the smaller sum of magnitudes; both cost one pass, and on
// scanned pages they get most of what the slower Paeth and Average filters would.
// Sub or Up, whichever leaves the smaller sum of magnitudes; both cost one pass, and on
// scanned pages they get most of what the slower Paeth and Average filters would.
// Returns how many bytes of the filtered row are zero.
int filterRow(const uchar* row, const uchar* above, int bytes, int bpp, uchar* out,
              std::vector<uchar>& up)
{
    uchar* sub = out + 1;
    unsigned sumSub = 0, sumUp = 0;
    int zeroSub = 0, zeroUp = 0;
    for (int i = 0; i < bytes; ++i) {
        const uchar s = uchar(row[i] - (i >= bpp ? row[i - bpp] : 0));
        const uchar u = uchar(row[i] - (above ? above[i] : 0));
        sub[i] = s;
        up[size_t(i)] = u;
        sumSub += s < 128 ? s : 256 - s;
        sumUp += u < 128 ? u : 256 - u;
        zeroSub += s == 0;
        zeroUp += u == 0;
    }
    if (above && sumUp < sumSub) {
        out[0] = 2;
        std::memcpy(sub, up.data(), size_t(bytes));
        return zeroUp;
    }
    out[0] = 1;
    return zeroSub;
}

} // namespace

bool encodePng(const QImage& image, QIODevice& out, QString* error)
{
    const PageKind kind = pageKind(image);
    const QImage::Format layout = kind == PageKind::Bilevel ? QImage::Format_Mono
                                : kind == PageKind::Gray    ? QImage::Format_Grayscale8
                                                            : QImage::Format_RGB888;
    PageRows rows(image, layout);
    const int bytes = rows.bytesPerRow();
    const int bpp = kind == PageKind::Colour ? 3 : 1;
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };

    PngChunks chunks(out);
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uchar ihdr[13];
    PngChunks::putBe32(ihdr, quint32(image.width()));
    PngChunks::putBe32(ihdr + 4, quint32(image.height()));
    ihdr[8] = kind == PageKind::Bilevel ? 1 : 8;
    ihdr[9] = kind == PageKind::Colour ? 2 : 0;
    ihdr[10] = ihdr[11] = ihdr[12] = 0;
    uchar phys[9];
    PngChunks::putBe32(phys, quint32(std::max(0, image.dotsPerMeterX())));
    PngChunks::putBe32(phys + 4, quint32(std::max(0, image.dotsPerMeterY())));
    phys[8] = 1;   // metres
    if (!chunks.put(signature, 8) || !chunks.write("IHDR", ihdr, 13) || !chunks.write("pHYs", phys, 9))
        return fail(QStringLiteral("Write error: ") + out.errorString());

    z_stream z{};
    // Clean content (mostly zero after filtering) gains from string matching at a low level;
    // noisy scans gain nothing from it and are run-length coded, several times faster and
    // no larger. The choice is made anew for every band of rows.
    constexpr int kBand = 64;
    bool runLength = false;
    long long zeros = 0;
    if (deflateInit(&z, kind == PageKind::Bilevel ? 6 : 2) != Z_OK)
        return fail(QStringLiteral("Out of memory"));
    std::vector<uchar> line(size_t(bytes) + 1);
    std::vector<uchar> idat(256 * 1024);
    const uchar* above = nullptr;
    std::vector<uchar> previous(static_cast<size_t>(bytes));
    std::vector<uchar> scratch(static_cast<size_t>(bytes));
    bool ok = true;
    const auto drain = [&](int flush) {
        int rc;
        do {
            z.next_out = idat.data();
            z.avail_out = uInt(idat.size());
            rc = deflate(&z, flush);
            const quint32 produced = quint32(idat.size() - z.avail_out);
            if (produced > 0 && !chunks.write("IDAT", idat.data(), produced))
                return false;
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
        return true;
    };
    for (int y = 0; ok && y < image.height(); ++y) {
        const uchar* row = rows.row(y);
        if (kind == PageKind::Bilevel) {
            line[0] = 0;
            for (int i = 0; i < bytes; ++i)
                line[size_t(i) + 1] = uchar(~row[i]);   // PNG's 1-bit gray: 1 is white
        } else {
            zeros += filterRow(row, above, bytes, bpp, line.data(), scratch);
            std::memcpy(previous.data(), row, size_t(bytes));   // the row may be a strip's, gone next time
            above = previous.data();
        }
        z.next_in = line.data();
        z.avail_in = uInt(line.size());
        ok = drain(Z_NO_FLUSH);
        if (kind != PageKind::Bilevel && (y + 1) % kBand == 0) {
            const bool noisy = zeros * 2 < (long long)bytes * kBand;
            if (noisy != runLength) {
                runLength = noisy;
                // deflateParams may have to emit what is pending first.
                z.next_out = idat.data();
                z.avail_out = uInt(idat.size());
                const int rc = deflateParams(&z, 2, runLength ? Z_RLE : Z_DEFAULT_STRATEGY);
                const quint32 produced = quint32(idat.size() - z.avail_out);
                ok = ok && rc == Z_OK && (produced == 0 || chunks.write("IDAT", idat.data(), produced));
            }
            zeros = 0;
        }
    }
    ok = ok && drain(Z_FINISH);
    deflateEnd(&z);
    ok = ok && chunks.write("IEND", nullptr, 0);
    if (!ok)
        return fail(QStringLiteral("Write error: ") + out.errorString());
    return true;
}
