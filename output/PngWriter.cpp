// SPDX-License-Identifier: GPL-3.0-or-later
// PNG for scanned pages, coded on two cores while the rows come in. The image data is cut
// into bands of about half a megabyte; each band is filtered and deflated on its own (raw
// deflate ended by a sync flush, so that the bands join into one zlib stream whose checksum
// is put together from theirs; at the harder level primed with the 32 KiB before it, so that
// little is lost at the joins), and the bands are written in order as they are done. The
// bands are fixed by the rows, not by the threads, so a page makes the same bytes however its
// rows are handed over. Colour and gray rows take Sub or Up, whichever is smaller by the
// usual sum-of-magnitudes rule, at deflate level 2; black-and-white rows are not filtered and
// are deflated harder: nearly all that slower filters and levels would get, at a fraction of
// the time (Qt's own writer tries every filter on every row and costs seconds on a 300 dpi
// page).
#include "PngWriter.h"

#include "PageEncoders.h"

#include <QIODevice>

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kBandBytes = 512 * 1024;    // raw rows per band, about
constexpr std::size_t kMaxBandsAhead = 2;         // bands filled but not written yet
constexpr unsigned kCoders = 2;
constexpr std::size_t kWindowBytes = 32768;         // deflate's reach back

struct Band
{
    int rows = 0;
    bool last = false;
    // The rows before the band (the first band: one row of zeros), then its own: the last of
    // them is the Up filter's row before the band, the others make deflate's dictionary.
    int context = 1;
    std::vector<uchar> raw;
    std::vector<uchar> packed;
    uLong adler = 1;
    uLong filteredBytes = 0;
    bool done = false;
    bool ok = true;
};

void putBig32(uchar* p, quint32 v)
{
    p[0] = uchar(v >> 24);
    p[1] = uchar(v >> 16);
    p[2] = uchar(v >> 8);
    p[3] = uchar(v);
}

inline unsigned magnitude(uchar v) { return v < 128 ? v : 256u - v; }

// Sub or Up for one row of `bytes` bytes with `bpp` bytes per pixel, into out (filter byte
// first): the one whose bytes, taken as signed, have the smaller sum of magnitudes.
void filterRow(const uchar* row, const uchar* prior, std::size_t bytes, int bpp, uchar* out)
{
    unsigned long sub = 0, up = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        const uchar left = i >= std::size_t(bpp) ? row[i - bpp] : 0;
        sub += magnitude(uchar(row[i] - left));
        up += magnitude(uchar(row[i] - prior[i]));
    }
    if (sub <= up) {
        out[0] = 1;
        for (std::size_t i = 0; i < bytes; ++i)
            out[1 + i] = uchar(row[i] - (i >= std::size_t(bpp) ? row[i - bpp] : 0));
    } else {
        out[0] = 2;
        for (std::size_t i = 0; i < bytes; ++i)
            out[1 + i] = uchar(row[i] - prior[i]);
    }
}

} // namespace

struct PngWriter::State
{
    ~State() { stopCoders(); }

    QIODevice* out = nullptr;
    PageKind kind = PageKind::Colour;
    int width = 0;
    int height = 0;
    std::size_t rowBytes = 0;
    int bpp = 3;
    int level = 2;
    int bandRows = 1;
    int rowsWritten = 0;
    bool failed = false;
    QString error;
    bool headerWritten = false;   // the zlib stream's two bytes
    uLong adler = 1;

    std::unique_ptr<Band> filling;
    // The last rows handed over (a ring of contextRows), for the next band's context.
    std::vector<uchar> tail;
    int contextRows = 1;
    int tailCount = 0;
    int tailNext = 0;

    // Bands handed to the coders, in page order; the front one is written when it is done.
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::unique_ptr<Band>> ahead;
    std::deque<Band*> waiting;   // not taken by a coder yet
    std::vector<std::thread> coders;
    bool stopping = false;
    // Bands written, kept with their buffers for the bands to come.
    std::vector<std::unique_ptr<Band>> spare;
    struct Recycle
    {
        State& s;
        std::unique_ptr<Band>& band;
        ~Recycle()
        {
            band->rows = 0;
            band->last = band->done = false;
            band->ok = true;
            s.spare.push_back(std::move(band));
        }
    };

    std::unique_ptr<Band> freshBand()
    {
        if (spare.empty())
            return std::make_unique<Band>();
        std::unique_ptr<Band> band = std::move(spare.back());
        spare.pop_back();
        return band;
    }

    void stopCoders()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        for (std::thread& t : coders)
            t.join();
        coders.clear();
    }

    // filtered: the coder's own buffer, kept from band to band (fresh memory costs more than
    // the filtering on some machines).
    void code(Band& band, z_stream& z, std::vector<uchar>& filtered) const
    {
        const std::size_t stride = rowBytes + 1;
        const int all = band.context + band.rows;
        filtered.resize(std::size_t(all - 1) * stride);
        for (int r = 1; r < all; ++r) {
            const uchar* row = band.raw.data() + std::size_t(r) * rowBytes;
            uchar* to = filtered.data() + std::size_t(r - 1) * stride;
            if (kind == PageKind::Bilevel) {
                to[0] = 0;
                std::memcpy(to + 1, row, rowBytes);
            } else {
                filterRow(row, row - rowBytes, rowBytes, bpp, to);
            }
        }
        // The filtered context is what the stream holds just before the band. Only the harder
        // levels are primed with it: the fast ones take a primed window erratically on pages
        // of flat colour (files up to 40 % larger) and gain nothing measurable on scanned
        // noise.
        const std::size_t contextBytes = std::size_t(band.context - 1) * stride;
        const std::size_t dictionary = level >= 4 ? std::min(contextBytes, kWindowBytes) : 0;
        const uchar* data = filtered.data() + contextBytes;
        const std::size_t dataBytes = filtered.size() - contextBytes;
        band.filteredBytes = uLong(dataBytes);
        band.adler = adler32(1, data, uInt(dataBytes));
        deflateReset(&z);
        if (dictionary > 0
            && deflateSetDictionary(&z, data - dictionary, uInt(dictionary)) != Z_OK) {
            band.ok = false;
            return;
        }
        // Room for what scans usually compress to; it grows when a band needs more.
        band.packed.resize(std::max<std::size_t>(dataBytes / 4, 65536));
        z.next_in = const_cast<uchar*>(data);
        z.avail_in = uInt(dataBytes);
        z.next_out = band.packed.data();
        z.avail_out = uInt(band.packed.size());
        const int flush = band.last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            const int status = deflate(&z, flush);
            if (status == Z_STREAM_ERROR) {
                band.ok = false;
                break;
            }
            // A flush is complete when it left room in the output.
            if (z.avail_out != 0 && z.avail_in == 0 && (!band.last || status == Z_STREAM_END))
                break;
            const std::size_t used = band.packed.size() - z.avail_out;
            band.packed.resize(band.packed.size() * 2);
            z.next_out = band.packed.data() + used;
            z.avail_out = uInt(band.packed.size() - used);
        }
        band.packed.resize(band.packed.size() - z.avail_out);
    }

    void coderLoop()
    {
        z_stream z{};
        const bool ready = deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        std::vector<uchar> filtered;
        for (;;) {
            Band* band = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [this] { return stopping || !waiting.empty(); });
                if (stopping)
                    break;
                band = waiting.front();
                waiting.pop_front();
            }
            try {
                if (ready)
                    code(*band, z, filtered);
                else
                    band->ok = false;
            } catch (const std::bad_alloc&) {
                band->ok = false; // told as a failed page, not an ended program
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                band->done = true;
            }
            changed.notify_all();
        }
        if (ready)
            deflateEnd(&z);
    }

    bool writeChunk(const char* type, const uchar* data, std::size_t length)
    {
        uchar head[8];
        putBig32(head, quint32(length));
        std::memcpy(head + 4, type, 4);
        uLong crc = crc32(0, head + 4, 4);
        if (length > 0)
            crc = crc32(crc, data, uInt(length));
        uchar tail[4];
        putBig32(tail, quint32(crc));
        if (out->write(reinterpret_cast<const char*>(head), 8) != 8
            || (length > 0 && out->write(reinterpret_cast<const char*>(data), qint64(length)) != qint64(length))
            || out->write(reinterpret_cast<const char*>(tail), 4) != 4)
            return failWrite();
        return true;
    }

    bool failWrite()
    {
        const QString reason = out->errorString();
        return fail(reason.isEmpty() ? QStringLiteral("Write error") : QStringLiteral("Write error: ") + reason);
    }

    bool fail(const QString& text)
    {
        if (!failed)
            error = text;
        failed = true;
        return false;
    }

    // Writes the front bands that are done; with `all`, waits for every band.
    bool writeDone(bool all)
    {
        for (;;) {
            std::unique_ptr<Band> band;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (ahead.empty())
                    return !failed;
                const bool mustWait = all || ahead.size() > kMaxBandsAhead;
                if (!ahead.front()->done) {
                    if (!mustWait)
                        return !failed;
                    changed.wait(lock, [this] { return ahead.front()->done; });
                }
                band = std::move(ahead.front());
                ahead.pop_front();
            }
            const Recycle recycle{*this, band};
            if (failed)
                continue;
            if (!band->ok) {
                fail(QStringLiteral("PNG error: the image data could not be compressed"));
                continue;
            }
            std::vector<uchar>& data = band->packed;
            if (!headerWritten) {
                // Deflate with a 32 KiB window; the level's class, and the check bits.
                const uchar cmf = 0x78;
                const int levelClass = level <= 1 ? 0 : level <= 5 ? 1 : level == 6 ? 2 : 3;
                uchar flg = uchar(levelClass << 6);
                flg = uchar(flg + (31 - (cmf * 256 + flg) % 31) % 31);
                data.insert(data.begin(), {cmf, flg});
                headerWritten = true;
            }
            adler = adler32_combine(adler, band->adler, z_off_t(band->filteredBytes));
            if (band->last) {
                uchar check[4];
                putBig32(check, quint32(adler));
                data.insert(data.end(), check, check + 4);
            }
            writeChunk("IDAT", data.data(), data.size());
        }
    }

    void submit(std::unique_ptr<Band> band)
    {
        Band* b = band.get();
        {
            const std::lock_guard<std::mutex> lock(mutex);
            ahead.push_back(std::move(band));
            if (!coders.empty())
                waiting.push_back(b);
        }
        if (coders.empty()) {
            // A page of one band is coded here, without threads.
            z_stream z{};
            b->ok = deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
            if (b->ok) {
                std::vector<uchar> filtered;
                code(*b, z, filtered);
                deflateEnd(&z);
            }
            b->done = true;
        } else {
            changed.notify_all();
        }
    }
};

PngWriter::PngWriter(QIODevice& out) : m_state(std::make_unique<State>())
{
    m_state->out = &out;
}

PngWriter::~PngWriter() = default;

bool PngWriter::begin(int width, int height, PageKind kind, int dotsPerMeterX, int dotsPerMeterY,
                      QString* error)
{
    State& s = *m_state;
    if (width <= 0 || height <= 0 || width > (1 << 24) || height > (1 << 24)) {
        if (error)
            *error = QStringLiteral("PNG error: the image has no size that can be written");
        return false;
    }
    s.kind = kind;
    s.width = width;
    s.height = height;
    const bool bilevel = kind == PageKind::Bilevel;
    s.bpp = kind == PageKind::Colour ? 3 : 1;
    s.rowBytes = bilevel ? std::size_t(width + 7) / 8 : std::size_t(width) * std::size_t(s.bpp);
    s.level = bilevel ? 6 : 2;
    s.bandRows = int(std::clamp<std::size_t>(kBandBytes / s.rowBytes, 1, std::size_t(height)));
    s.contextRows = int((kWindowBytes + s.rowBytes) / (s.rowBytes + 1)) + 1;
    s.tail.assign(std::size_t(s.contextRows) * s.rowBytes, 0);

    static const uchar signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uchar header[13];
    putBig32(header, quint32(width));
    putBig32(header + 4, quint32(height));
    header[8] = bilevel ? 1 : 8;
    header[9] = kind == PageKind::Colour ? 2 : 0;   // RGB, or gray
    header[10] = header[11] = header[12] = 0;        // deflate, adaptive filters, no interlace
    bool ok = s.out->write(reinterpret_cast<const char*>(signature), 8) == 8 || s.failWrite();
    ok = ok && s.writeChunk("IHDR", header, sizeof header);
    if (ok && dotsPerMeterX > 0 && dotsPerMeterY > 0) {
        uchar phys[9];
        putBig32(phys, quint32(dotsPerMeterX));
        putBig32(phys + 4, quint32(dotsPerMeterY));
        phys[8] = 1;   // per metre
        ok = s.writeChunk("pHYs", phys, sizeof phys);
    }
    if (ok && (height + s.bandRows - 1) / s.bandRows > 1) {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        try {
            for (unsigned i = 0; i < std::min(kCoders, cores); ++i)
                s.coders.emplace_back([&s] { s.coderLoop(); });
        } catch (const std::system_error&) {
            // No thread to be had: the coders there are do the work, or this one does.
        }
    }
    if (!ok && error)
        *error = s.error;
    return ok;
}

bool PngWriter::writeRow(const uchar* row, QString* error)
{
    State& s = *m_state;
    if (s.failed || s.rowsWritten >= s.height) {
        if (error)
            *error = s.failed ? s.error : QStringLiteral("PNG error: more rows than the image has");
        return false;
    }
    if (!s.filling) {
        s.filling = s.freshBand();
        const int rows = std::min(s.bandRows, s.height - s.rowsWritten);
        // The rows before the band, oldest first; the first band has a row of zeros.
        Band& b = *s.filling;
        b.context = std::max(s.tailCount, 1);
        b.raw.resize(std::size_t(b.context + rows) * s.rowBytes);
        if (s.tailCount == 0)
            std::memset(b.raw.data(), 0, s.rowBytes);
        for (int i = 0; i < s.tailCount; ++i) {
            const int slot = (s.tailNext - s.tailCount + i + s.contextRows) % s.contextRows;
            std::memcpy(b.raw.data() + std::size_t(i) * s.rowBytes,
                        s.tail.data() + std::size_t(slot) * s.rowBytes, s.rowBytes);
        }
    }
    Band& band = *s.filling;
    uchar* to = band.raw.data() + std::size_t(band.context + band.rows) * s.rowBytes;
    if (s.kind == PageKind::Bilevel) {
        // PNG's 1-bit gray has 1 for white; the bits past the last pixel are left 0.
        for (std::size_t i = 0; i < s.rowBytes; ++i)
            to[i] = uchar(~row[i]);
        if (const int spare = int(s.rowBytes * 8) - s.width; spare > 0)
            to[s.rowBytes - 1] &= uchar(0xFF << spare);
    } else {
        std::memcpy(to, row, s.rowBytes);
    }
    std::memcpy(s.tail.data() + std::size_t(s.tailNext) * s.rowBytes, to, s.rowBytes);
    s.tailNext = (s.tailNext + 1) % s.contextRows;
    s.tailCount = std::min(s.tailCount + 1, s.contextRows);
    ++band.rows;
    ++s.rowsWritten;
    if (band.context + band.rows == int(band.raw.size() / s.rowBytes)) {
        band.last = s.rowsWritten == s.height;
        s.submit(std::move(s.filling));
    }
    if (!s.writeDone(false)) {
        if (error)
            *error = s.error;
        return false;
    }
    return true;
}

bool PngWriter::finish(QString* error)
{
    State& s = *m_state;
    if (!s.failed && s.rowsWritten != s.height)
        s.fail(QStringLiteral("PNG error: %1 of %2 rows written").arg(s.rowsWritten).arg(s.height));
    const bool ok = s.writeDone(true) && s.writeChunk("IEND", nullptr, 0);
    s.stopCoders();
    if (!ok && error)
        *error = s.error;
    return ok;
}

bool encodePng(const QImage& image, QIODevice& out, QString* error)
{
    const PageKind kind = pageKind(image);
    PageRows rows(image, kind == PageKind::Bilevel ? QImage::Format_Mono
                         : kind == PageKind::Gray  ? QImage::Format_Grayscale8
                                                   : QImage::Format_RGB888);
    PngWriter png(out);
    if (!png.begin(image.width(), image.height(), kind, image.dotsPerMeterX(), image.dotsPerMeterY(), error))
        return false;
    for (int y = 0; y < image.height(); ++y)
        if (!png.writeRow(rows.row(y), error))
            return false;
    return png.finish(error);
}
