// PNG written with zlib directly: Qt's PNG writer filters every row five ways and
// compresses hard, which costs seconds on a 300 dpi page.
#include "PageEncoders.h"

#include "PageRows.h"

#include <QIODevice>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <system_error>
#include <thread>
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
// Returns how many bytes of the filtered row are zero. Each step is a plain loop over the
// row, which the compiler turns into vector code.
int filterRow(const uchar* row, const uchar* above, int bytes, int bpp, uchar* out,
              std::vector<uchar>& scratch)
{
    uchar* sub = out + 1;
    uchar* up = scratch.data();
    const int lead = std::min(bpp, bytes);
    for (int i = 0; i < lead; ++i)
        sub[i] = row[i];
    for (int i = lead; i < bytes; ++i)
        sub[i] = uchar(row[i] - row[i - bpp]);
    if (!above) {
        out[0] = 1;
        int zeros = 0;
        for (int i = 0; i < bytes; ++i)
            zeros += sub[i] == 0;
        return zeros;
    }
    for (int i = 0; i < bytes; ++i)
        up[i] = uchar(row[i] - above[i]);
    // A filtered byte's magnitude as a signed difference: min(b, 256 - b).
    unsigned sumSub = 0, sumUp = 0;
    int zeroSub = 0, zeroUp = 0;
    for (int i = 0; i < bytes; ++i) {
        const uchar s = sub[i];
        const uchar u = up[i];
        sumSub += std::min<uchar>(s, uchar(-s));
        sumUp += std::min<uchar>(u, uchar(-u));
        zeroSub += s == 0;
        zeroUp += u == 0;
    }
    if (sumUp < sumSub) {
        out[0] = 2;
        std::memcpy(sub, up, size_t(bytes));
        return zeroUp;
    }
    out[0] = 1;
    return zeroSub;
}

// The compressed image data as IDAT chunks of up to 256 KiB.
class IdatWriter
{
public:
    explicit IdatWriter(PngChunks& chunks) : m_chunks(chunks) { m_buffer.reserve(kSize); }

    bool append(const uchar* data, size_t size)
    {
        while (size > 0) {
            const size_t take = std::min(size, kSize - m_buffer.size());
            m_buffer.insert(m_buffer.end(), data, data + take);
            data += take;
            size -= take;
            if (m_buffer.size() == kSize && !flush())
                return false;
        }
        return true;
    }

    bool flush()
    {
        const bool ok = m_buffer.empty() || m_chunks.write("IDAT", m_buffer.data(), quint32(m_buffer.size()));
        m_buffer.clear();
        return ok;
    }

private:
    static constexpr size_t kSize = 256 * 1024;
    PngChunks& m_chunks;
    std::vector<uchar> m_buffer;
};

using Sink = std::function<bool(const uchar*, size_t)>;

// Filters rows [top, bottom) of the page and compresses them as raw deflate data, adding
// the filtered bytes to *adler. A part that is not the last ends on a byte boundary without
// closing the stream, so parts compressed side by side join into one stream: the later
// part only loses the earlier part's rows as a dictionary.
bool deflateRows(const QImage& image, QImage::Format layout, PageKind kind, int top, int bottom,
                 bool last, uLong* adler, const Sink& sink, bool* outOfMemory)
{
    PageRows rows(image, layout);
    const int bytes = rows.bytesPerRow();
    const int bpp = kind == PageKind::Colour ? 3 : 1;
    z_stream z{};
    // Clean content (mostly zero after filtering) gains from string matching at a low level;
    // noisy scans gain nothing from it and are run-length coded, several times faster and
    // no larger. The choice is made anew for every band of rows.
    constexpr int kBand = 64;
    bool runLength = false;
    long long zeros = 0;
    if (deflateInit2(&z, kind == PageKind::Bilevel ? 6 : 2, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        *outOfMemory = true;
        return false;
    }
    std::vector<uchar> line(size_t(bytes) + 1);
    std::vector<uchar> out(256 * 1024);
    std::vector<uchar> previous(static_cast<size_t>(bytes));
    std::vector<uchar> scratch(static_cast<size_t>(bytes));
    const uchar* above = nullptr;
    if (top > 0 && kind != PageKind::Bilevel) {
        std::memcpy(previous.data(), rows.row(top - 1), size_t(bytes));
        above = previous.data();
    }
    bool ok = true;
    const auto drain = [&](int flush) {
        int rc;
        do {
            z.next_out = out.data();
            z.avail_out = uInt(out.size());
            rc = deflate(&z, flush);
            const size_t produced = out.size() - z.avail_out;
            if (produced > 0 && !sink(out.data(), produced))
                return false;
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
        return true;
    };
    for (int y = top; ok && y < bottom; ++y) {
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
        *adler = adler32(*adler, line.data(), uInt(line.size()));
        z.next_in = line.data();
        z.avail_in = uInt(line.size());
        ok = drain(Z_NO_FLUSH);
        if (kind != PageKind::Bilevel && (y + 1) % kBand == 0) {
            const bool noisy = zeros * 2 < (long long)bytes * kBand;
            if (noisy != runLength) {
                runLength = noisy;
                // deflateParams may have to emit what is pending first.
                z.next_out = out.data();
                z.avail_out = uInt(out.size());
                const int rc = deflateParams(&z, 2, runLength ? Z_RLE : Z_DEFAULT_STRATEGY);
                const size_t produced = out.size() - z.avail_out;
                ok = ok && rc == Z_OK && (produced == 0 || sink(out.data(), produced));
            }
            zeros = 0;
        }
    }
    ok = ok && drain(last ? Z_FINISH : Z_SYNC_FLUSH);
    deflateEnd(&z);
    return ok;
}

} // namespace

bool encodePng(const QImage& image, QIODevice& out, QString* error)
{
    const PageKind kind = pageKind(image);
    const QImage::Format layout = kind == PageKind::Bilevel ? QImage::Format_Mono
                                : kind == PageKind::Gray    ? QImage::Format_Grayscale8
                                                            : QImage::Format_RGB888;
    const int height = image.height();
    const auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        return false;
    };

    PngChunks chunks(out);
    static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uchar ihdr[13];
    PngChunks::putBe32(ihdr, quint32(image.width()));
    PngChunks::putBe32(ihdr + 4, quint32(height));
    ihdr[8] = kind == PageKind::Bilevel ? 1 : 8;
    ihdr[9] = kind == PageKind::Colour ? 2 : 0;
    ihdr[10] = ihdr[11] = ihdr[12] = 0;
    uchar phys[9];
    PngChunks::putBe32(phys, quint32(std::max(0, image.dotsPerMeterX())));
    PngChunks::putBe32(phys + 4, quint32(std::max(0, image.dotsPerMeterY())));
    phys[8] = 1;   // metres
    if (!chunks.put(signature, 8) || !chunks.write("IHDR", ihdr, 13) || !chunks.write("pHYs", phys, 9))
        return fail(QStringLiteral("Write error: ") + out.errorString());

    // A large gray or colour page is compressed in parts on the machine's cores, bands of
    // whole 64 rows each; the first part goes straight to the file, the others are held
    // until it is written. Black-and-white pages are small and stay in one part.
    const qint64 lineBytes = PageRows(image, layout).bytesPerRow() + 1;   // with its filter byte
    int parts = kind == PageKind::Bilevel ? 1 : codingThreads(lineBytes * height);
    const int bands = (height + 63) / 64;
    parts = std::max(1, std::min(parts, bands));
    std::vector<int> tops(size_t(parts) + 1);
    for (int i = 0; i <= parts; ++i)
        tops[size_t(i)] = std::min(height, int(qint64(bands) * i / parts) * 64);

    struct Part
    {
        std::vector<uchar> data;
        uLong adler = 1;
        bool ok = true;
        bool outOfMemory = false;
    };
    std::vector<Part> rest(size_t(parts - 1));
    std::vector<std::thread> workers;
    for (int i = 1; i < parts; ++i) {
        Part& part = rest[size_t(i - 1)];
        const auto work = [&image, layout, kind, &tops, parts, i, &part] {
            try {
                part.ok = deflateRows(image, layout, kind, tops[size_t(i)], tops[size_t(i) + 1],
                                      i == parts - 1, &part.adler,
                                      [&part](const uchar* d, size_t n) {
                                          part.data.insert(part.data.end(), d, d + n);
                                          return true;
                                      },
                                      &part.outOfMemory);
            } catch (const std::bad_alloc&) {
                part.ok = false;
                part.outOfMemory = true;
            }
        };
        try {
            workers.emplace_back(work);
        } catch (const std::system_error&) {
            work();   // no thread to be had: the part is compressed here, in turn
        }
    }

    IdatWriter idat(chunks);
    const uchar zlibHeader[2] = {0x78, uchar(kind == PageKind::Bilevel ? 0x9c : 0x5e)};
    uLong adler = 1;
    bool outOfMemory = false;
    bool ok = idat.append(zlibHeader, 2)
              && deflateRows(image, layout, kind, 0, tops[1], parts == 1, &adler,
                             [&idat](const uchar* d, size_t n) { return idat.append(d, n); },
                             &outOfMemory);
    for (std::thread& worker : workers)
        worker.join();
    for (int i = 1; i < parts; ++i) {
        const Part& part = rest[size_t(i - 1)];
        outOfMemory = outOfMemory || part.outOfMemory;
        ok = ok && part.ok && idat.append(part.data.data(), part.data.size());
        adler = adler32_combine(adler, part.adler,
                                z_off_t(qint64(tops[size_t(i) + 1] - tops[size_t(i)]) * lineBytes));
    }
    uchar trailer[4];
    PngChunks::putBe32(trailer, quint32(adler));
    ok = ok && idat.append(trailer, 4) && idat.flush() && chunks.write("IEND", nullptr, 0);
    if (!ok)
        return fail(outOfMemory ? QStringLiteral("Out of memory")
                                : QStringLiteral("Write error: ") + out.errorString());
    return true;
}
