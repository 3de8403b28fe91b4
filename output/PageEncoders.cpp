// SPDX-License-Identifier: GPL-3.0-or-later
#include "PageEncoders.h"

#include "ColourReduction.h"
#include "PageRows.h"
#include "SystemFile.h"
#include "PdfTextLayer.h"

#include <QFile>
#include <QIODevice>

#include <cstdio>   // before jpeglib.h, which uses FILE
#include <gif_lib.h>
#include <jpeglib.h>
#include <jerror.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

QString deviceError(const QIODevice& out)
{
    const QString reason = out.errorString();
    return reason.isEmpty() ? QStringLiteral("Write error") : QStringLiteral("Write error: ") + reason;
}

void putLe16(uchar* p, quint16 v)
{
    p[0] = uchar(v);
    p[1] = uchar(v >> 8);
}
void putLe32(uchar* p, quint32 v)
{
    putLe16(p, quint16(v));
    putLe16(p + 2, quint16(v >> 16));
}

} // namespace

// ------------------------------------------------------------------------------------- BMP

bool encodeBmp(const QImage& image, QIODevice& out, QString* error)
{
    const PageKind kind = pageKind(image);
    const QImage::Format layout = kind == PageKind::Bilevel ? QImage::Format_Mono
                                : kind == PageKind::Gray    ? QImage::Format_Grayscale8
                                                            : QImage::Format_BGR888;
    const int bitsPerPixel = kind == PageKind::Bilevel ? 1 : kind == PageKind::Gray ? 8 : 24;
    const int paletteSize = kind == PageKind::Bilevel ? 2 : kind == PageKind::Gray ? 256 : 0;
    const int w = image.width();
    const int h = image.height();
    const qint64 stride = (qint64(w) * bitsPerPixel + 31) / 32 * 4;
    const qint64 dataOffset = 14 + 40 + 4 * paletteSize;
    const qint64 fileSize = dataOffset + stride * h;
    if (fileSize > 0xffffffffLL) {
        setError(error, QStringLiteral("The page is too large for a bitmap file"));
        return false;
    }

    std::vector<uchar> header(dataOffset, 0);
    uchar* p = header.data();
    p[0] = 'B';
    p[1] = 'M';
    putLe32(p + 2, quint32(fileSize));
    putLe32(p + 10, quint32(dataOffset));
    putLe32(p + 14, 40);
    putLe32(p + 18, quint32(w));
    putLe32(p + 22, quint32(h));   // positive: rows stored bottom-up, as every reader expects
    putLe16(p + 26, 1);
    putLe16(p + 28, quint16(bitsPerPixel));
    putLe32(p + 34, quint32(stride * h));
    putLe32(p + 38, quint32(std::max(0, image.dotsPerMeterX())));
    putLe32(p + 42, quint32(std::max(0, image.dotsPerMeterY())));
    putLe32(p + 46, quint32(paletteSize));
    uchar* palette = p + 54;
    if (kind == PageKind::Bilevel) {
        putLe32(palette, 0x00ffffff);   // bit 0 white, bit 1 black
        putLe32(palette + 4, 0);
    } else {
        for (int i = 0; i < paletteSize; ++i)
            putLe32(palette + 4 * i, quint32(i * 0x010101));
    }
    if (out.write(reinterpret_cast<const char*>(p), dataOffset) != dataOffset) {
        setError(error, deviceError(out));
        return false;
    }

    PageRows rows(image, layout);
    // Rows are gathered into blocks of about a megabyte: one write per row is slow.
    const int rowsPerBlock = int(std::max<qint64>(1, (1 << 20) / stride));
    std::vector<char> block(size_t(stride * rowsPerBlock), 0);
    int filled = 0;
    for (int y = h - 1; y >= 0; --y) {
        std::memcpy(block.data() + filled * stride, rows.row(y), size_t(rows.bytesPerRow()));
        if (++filled == rowsPerBlock || y == 0) {
            if (out.write(block.data(), filled * stride) != filled * stride) {
                setError(error, deviceError(out));
                return false;
            }
            filled = 0;
        }
    }
    return true;
}

// ------------------------------------------------------------------------------------- GIF

bool encodeGif(const QImage& image, const QString& path, QString* error)
{
    if (image.width() > 0xffff || image.height() > 0xffff) {
        setError(error, QStringLiteral("The page is too large for a GIF file"));
        return false;
    }
    ColourReduction indexed(image);
    const QList<QRgb>& palette = indexed.palette();
    int bits = 1;
    while ((1 << bits) < palette.size())
        ++bits;
    std::vector<GifColorType> colours(size_t(1) << bits, GifColorType{0, 0, 0});
    for (qsizetype i = 0; i < palette.size(); ++i)
        colours[size_t(i)] = GifColorType{GifByteType(qRed(palette[i])), GifByteType(qGreen(palette[i])),
                                          GifByteType(qBlue(palette[i]))};

    // giflib writes through us, so that a failed write keeps the system's reason.
    SystemFile file;
    if (!file.create(path)) {
        setError(error, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    const auto put = [](GifFileType* g, const GifByteType* data, int size) -> int {
        auto* sink = static_cast<SystemFile*>(g->UserData);
        return sink->write(reinterpret_cast<const char*>(data), size) == size ? size : 0;
    };
    int code = 0;
    GifFileType* gif = EGifOpen(&file, put, &code);
    if (!gif) {
        setError(error, QStringLiteral("Cannot write %1: %2").arg(path, QString::fromLatin1(GifErrorString(code))));
        return false;
    }
    ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
    bool ok = map && EGifPutScreenDesc(gif, image.width(), image.height(), bits, 0, map) == GIF_OK
              && EGifPutImageDesc(gif, 0, 0, image.width(), image.height(), false, nullptr) == GIF_OK;
    GifFreeMapObject(map);
    // giflib masks each line in place, so it gets a copy of the row.
    std::vector<GifPixelType> line(size_t(image.width()));
    for (int y = 0; ok && y < image.height(); ++y) {
        std::memcpy(line.data(), indexed.row(y), line.size());
        ok = EGifPutLine(gif, line.data(), image.width()) == GIF_OK;
    }
    if (!ok)
        code = gif->Error;
    int closeCode = 0;
    if (EGifCloseFile(gif, &closeCode) != GIF_OK && ok) {
        ok = false;
        code = closeCode;
    }
    if (ok && !file.finish())
        ok = false;
    if (!ok) {
        const QString reason = file.lastError() != 0 ? file.errorString()
                                                     : QString::fromLatin1(GifErrorString(code));
        setError(error, QStringLiteral("Cannot write %1: %2").arg(path, reason));
    }
    return ok;
}

// ------------------------------------------------------------------------------------ JPEG

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back
// to the encoder. No C++ object lives in the frames it jumps over.
struct JpegErrors
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegFail(j_common_ptr info)
{
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void jpegIgnoreMessage(j_common_ptr) {}   // warnings are not failures; keep them off the terminal

// The compressed bytes go to the caller's device through a buffer of 64 KiB.
struct JpegDestination
{
    jpeg_destination_mgr manager;
    QIODevice* out;
    JOCTET* buffer;
    size_t size;
    bool deviceFailed;
};

void jpegInitDestination(j_compress_ptr info)
{
    auto* d = reinterpret_cast<JpegDestination*>(info->dest);
    d->manager.next_output_byte = d->buffer;
    d->manager.free_in_buffer = d->size;
}

boolean jpegEmptyBuffer(j_compress_ptr info)
{
    auto* d = reinterpret_cast<JpegDestination*>(info->dest);
    if (d->out->write(reinterpret_cast<const char*>(d->buffer), qint64(d->size)) != qint64(d->size)) {
        d->deviceFailed = true;
        ERREXIT(info, JERR_FILE_WRITE);
    }
    d->manager.next_output_byte = d->buffer;
    d->manager.free_in_buffer = d->size;
    return TRUE;
}

void jpegTermDestination(j_compress_ptr info)
{
    auto* d = reinterpret_cast<JpegDestination*>(info->dest);
    const qint64 left = qint64(d->size - d->manager.free_in_buffer);
    if (left > 0 && d->out->write(reinterpret_cast<const char*>(d->buffer), left) != left) {
        d->deviceFailed = true;
        ERREXIT(info, JERR_FILE_WRITE);
    }
}

} // namespace

struct JpegWriter::State
{
    explicit State(QIODevice& device) : out(device), buffer(64 * 1024) {}

    QIODevice& out;
    std::vector<JOCTET> buffer;
    JpegErrors errors;
    JpegDestination destination;
    jpeg_compress_struct info;
    bool created = false;
    bool failed = false;

    // After a jump out of libjpeg: the coder is gone and every later call fails.
    bool fail(QString* error)
    {
        if (created)
            jpeg_destroy_compress(&info);
        created = false;
        failed = true;
        setError(error, destination.deviceFailed
                            ? deviceError(out)
                            : QStringLiteral("JPEG error: ") + QString::fromLocal8Bit(errors.message));
        return false;
    }
};

JpegWriter::JpegWriter(QIODevice& out) : m_state(std::make_unique<State>(out)) {}

JpegWriter::~JpegWriter()
{
    if (m_state->created)
        jpeg_destroy_compress(&m_state->info);
}

bool JpegWriter::begin(int width, int height, bool gray, double dpiX, double dpiY, int quality,
                       QString* error)
{
    State& s = *m_state;
    s.info.err = jpeg_std_error(&s.errors.manager);
    s.errors.manager.error_exit = jpegFail;
    s.errors.manager.output_message = jpegIgnoreMessage;
    s.errors.message[0] = 0;
    s.destination.manager.init_destination = jpegInitDestination;
    s.destination.manager.empty_output_buffer = jpegEmptyBuffer;
    s.destination.manager.term_destination = jpegTermDestination;
    s.destination.out = &s.out;
    s.destination.buffer = s.buffer.data();
    s.destination.size = s.buffer.size();
    s.destination.deviceFailed = false;
    const int densityX = std::max(1, int(std::lround(dpiX)));
    const int densityY = std::max(1, int(std::lround(dpiY)));

    if (setjmp(s.errors.jump))
        return s.fail(error);
    jpeg_create_compress(&s.info);
    s.created = true;
    s.info.dest = &s.destination.manager;
    s.info.image_width = JDIMENSION(width);
    s.info.image_height = JDIMENSION(height);
    s.info.input_components = gray ? 1 : 3;
    s.info.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&s.info);
    jpeg_set_quality(&s.info, std::clamp(quality, 1, 100), TRUE);
    s.info.density_unit = 1;   // dots per inch
    s.info.X_density = UINT16(std::min(densityX, 65535));
    s.info.Y_density = UINT16(std::min(densityY, 65535));
    jpeg_start_compress(&s.info, TRUE);
    return true;
}

bool JpegWriter::writeRows(PageRows& rows, int first, int count, QString* error)
{
    State& s = *m_state;
    if (s.failed || !s.created)
        return s.fail(error);
    if (setjmp(s.errors.jump))
        return s.fail(error);
    for (int y = first; y < first + count; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(rows.row(y));
        jpeg_write_scanlines(&s.info, &row, 1);
    }
    return true;
}

bool JpegWriter::finish(QString* error)
{
    State& s = *m_state;
    if (s.failed || !s.created)
        return s.fail(error);
    if (setjmp(s.errors.jump))
        return s.fail(error);
    jpeg_finish_compress(&s.info);
    jpeg_destroy_compress(&s.info);
    s.created = false;
    return true;
}

bool encodeJpeg(const QImage& image, QIODevice& out, int quality, QString* error)
{
    // Gray pages stay gray (one component); everything else is written as RGB, the rows
    // read in place when the page already holds 8-bit RGB, as scanned colour pages do.
    const bool gray = pageKind(image) != PageKind::Colour;
    PageRows rows(image, gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    JpegWriter jpeg(out);
    return jpeg.begin(image.width(), image.height(), gray, dotsPerInchX(image), dotsPerInchY(image),
                      quality, error)
           && jpeg.writeRows(rows, 0, image.height(), error) && jpeg.finish(error);
}

// ------------------------------------------------------------------------------------ TIFF

namespace {

int tiffError(TIFF*, void* user, const char* module, const char* fmt, va_list ap)
{
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    QString message = QString::fromLocal8Bit(text);
    if (module && *module)
        message = QString::fromLocal8Bit(module) + QStringLiteral(": ") + message;
    static_cast<TiffFile*>(user)->noteError(message);
    return 1;
}

int tiffWarning(TIFF*, void*, const char*, const char*, va_list)
{
    return 1;   // warnings are not failures; keep them off the terminal
}

// The file's procedures for libtiff: plain system calls on our descriptor, so that a failure
// keeps the system's reason (libtiff itself only says "Write error").
TiffFile* tiffFileOf(thandle_t h) { return static_cast<TiffFile*>(h); }

tmsize_t tiffFileRead(thandle_t h, void* buffer, tmsize_t n)
{
    const ssize_t got = ::read(tiffFileOf(h)->descriptor(), buffer, size_t(n));
    if (got < 0)
        tiffFileOf(h)->noteSystemError(errno);
    return tmsize_t(got);
}

tmsize_t tiffFileWrite(thandle_t h, void* buffer, tmsize_t n)
{
    const auto* bytes = static_cast<const char*>(buffer);
    tmsize_t written = 0;
    while (written < n) {
        const ssize_t put = ::write(tiffFileOf(h)->descriptor(), bytes + written, size_t(n - written));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            tiffFileOf(h)->noteSystemError(put < 0 ? errno : ENOSPC);
            return -1;
        }
        written += put;
    }
    return written;
}

toff_t tiffFileSeek(thandle_t h, toff_t offset, int whence)
{
    const off_t at = ::lseek(tiffFileOf(h)->descriptor(), off_t(offset), whence);
    if (at < 0) {
        tiffFileOf(h)->noteSystemError(errno);
        return toff_t(-1);
    }
    return toff_t(at);
}

int tiffFileClose(thandle_t h)
{
    const int rc = ::close(tiffFileOf(h)->descriptor());
    if (rc != 0 && errno != EINTR)
        tiffFileOf(h)->noteSystemError(errno);
    return rc == 0 || errno == EINTR ? 0 : -1;
}

toff_t tiffFileSize(thandle_t h)
{
    struct stat st;
    return ::fstat(tiffFileOf(h)->descriptor(), &st) == 0 ? toff_t(st.st_size) : 0;
}

int tiffFileMap(thandle_t, void**, toff_t*) { return 0; }
void tiffFileUnmap(thandle_t, void*, toff_t) {}

} // namespace

// A TIFF in memory, used only to run libtiff's encoder on some strips of a page on another
// thread: each strip is coded on its own, so strips coded apart are the very bytes the file
// would get, and are copied into it as they are. Strips taken are dropped from memory; the
// offsets stay those of the whole stream.
class MemoryTiff
{
public:
    // The bytes go to `buffer`, emptied first: a buffer kept from one use to the next keeps
    // its memory, which on virtual machines is dearer to touch anew than to reuse.
    explicit MemoryTiff(std::vector<uchar>& buffer) : m_bytes(buffer) { m_bytes.clear(); }
    MemoryTiff(const MemoryTiff&) = delete;
    MemoryTiff& operator=(const MemoryTiff&) = delete;
    ~MemoryTiff()
    {
        if (m_tiff)
            TIFFCleanup(m_tiff);   // frees the handle; there is no file to close
    }

    TIFF* open()
    {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, error, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, tiffWarning, this);
        m_tiff = TIFFClientOpenExt("memory", "w", this, read, write, seek, close, size, map, unmap,
                                   options);
        TIFFOpenOptionsFree(options);
        return m_tiff;
    }

    TIFF* tiff() const { return m_tiff; }
    const std::vector<uchar>& bytes() const { return m_bytes; }   // from offset dropped() on
    toff_t dropped() const { return m_dropped; }
    // Everything coded so far has been taken.
    void drop()
    {
        m_dropped += m_bytes.size();
        m_bytes.clear();
    }
    const QString& lastError() const { return m_lastError; }

private:
    static MemoryTiff* self(thandle_t h) { return static_cast<MemoryTiff*>(h); }
    static int error(TIFF*, void* user, const char*, const char* fmt, va_list ap)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        static_cast<MemoryTiff*>(user)->m_lastError = QString::fromLocal8Bit(text);
        return 1;
    }
    static tmsize_t read(thandle_t h, void* buffer, tmsize_t n)
    {
        MemoryTiff* m = self(h);
        if (m->m_pos < m->m_dropped)
            return -1;   // taken already
        const toff_t at = m->m_pos - m->m_dropped;
        const toff_t left = at < m->m_bytes.size() ? m->m_bytes.size() - at : 0;
        const tmsize_t taken = tmsize_t(std::min<toff_t>(left, toff_t(n)));
        std::memcpy(buffer, m->m_bytes.data() + at, size_t(taken));
        m->m_pos += toff_t(taken);
        return taken;
    }
    static tmsize_t write(thandle_t h, void* buffer, tmsize_t n)
    {
        MemoryTiff* m = self(h);
        const auto* bytes = static_cast<const uchar*>(buffer);
        if (m->m_pos < m->m_dropped)
            return -1;   // taken already
        const toff_t at = m->m_pos - m->m_dropped;
        try {
            if (at > m->m_bytes.size())
                m->m_bytes.resize(size_t(at));
            const size_t inside = std::min(size_t(n), size_t(m->m_bytes.size() - at));
            std::memcpy(m->m_bytes.data() + at, bytes, inside);
            m->m_bytes.insert(m->m_bytes.end(), bytes + inside, bytes + n);
        } catch (const std::bad_alloc&) {
            return -1;
        }
        m->m_pos += toff_t(n);
        return n;
    }
    static toff_t seek(thandle_t h, toff_t offset, int whence)
    {
        MemoryTiff* m = self(h);
        const toff_t base = whence == SEEK_CUR ? m->m_pos
                          : whence == SEEK_END ? m->m_dropped + m->m_bytes.size()
                                               : 0;
        m->m_pos = base + offset;
        return m->m_pos;
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t h) { return self(h)->m_dropped + self(h)->m_bytes.size(); }
    static int map(thandle_t, void**, toff_t*) { return 0; }
    static void unmap(thandle_t, void*, toff_t) {}

    TIFF* m_tiff = nullptr;
    std::vector<uchar>& m_bytes;
    toff_t m_pos = 0;
    toff_t m_dropped = 0;
    QString m_lastError;
};

bool isSupportedTiffCompression(int compression)
{
    switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
    case COMPRESSION_LZW:
    case COMPRESSION_JPEG:
        return true;
    default:
        return false;
    }
}

TiffFile::TiffFile() = default;

TiffFile::~TiffFile()
{
    m_page.coders.clear();   // before the buffers they write to
    if (m_tiff)
        TIFFClose(m_tiff);   // closes the descriptor too
    else if (m_fd >= 0)
        ::close(m_fd);
}

QString TiffFile::failure(const QString& what) const
{
    // The system's reason says more than libtiff's "Write error at scanline 0".
    const QString reason = m_systemError != 0 ? SystemFile::reasonOf(m_systemError) : m_lastError;
    return reason.isEmpty() ? QStringLiteral("%1 %2").arg(what, m_path)
                            : QStringLiteral("%1 %2: %3").arg(what, m_path, reason);
}

bool TiffFile::open(const QString& path, QString* error, const QString& shownAs)
{
    m_path = shownAs.isEmpty() ? path : shownAs;
    // Read and write: libtiff reads back what it links when it adds a page.
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        m_systemError = errno;
        setError(error, failure(QStringLiteral("Cannot write")));
        return false;
    }
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, tiffError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, tiffWarning, this);
    m_tiff = TIFFClientOpenExt(QFile::encodeName(path).constData(), "w", this, tiffFileRead,
                               tiffFileWrite, tiffFileSeek, tiffFileClose, tiffFileSize, tiffFileMap,
                               tiffFileUnmap, options);
    TIFFOpenOptionsFree(options);
    if (!m_tiff) {
        setError(error, failure(QStringLiteral("Cannot write")));
        return false;   // the descriptor is closed by the destructor
    }
    return true;
}

bool TiffFile::beginPage(int width, int height, PageKind kind, double dpiX, double dpiY,
                         int compression, int jpegQuality, bool multipage, QString* error)
{
    if (!isSupportedTiffCompression(compression)) {
        setError(error, QStringLiteral("Unsupported TIFF compression %1").arg(compression));
        return false;
    }
    const bool fax = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTFAX3
                     || compression == COMPRESSION_CCITTFAX4;
    if (fax)
        kind = PageKind::Bilevel;
    if (compression == COMPRESSION_JPEG && kind == PageKind::Bilevel)
        kind = PageKind::Gray;   // JPEG has no 1-bit samples
    Page& p = m_page;
    p.kind = kind;
    p.layout = kind == PageKind::Bilevel ? QImage::Format_Mono
             : kind == PageKind::Gray    ? QImage::Format_Grayscale8
                                         : QImage::Format_RGB888;
    p.width = uint32_t(width);
    p.height = uint32_t(height);
    p.compression = compression;
    p.jpegQuality = jpegQuality;
    p.rowBytes = kind == PageKind::Bilevel ? (width + 7) / 8
               : kind == PageKind::Gray    ? width
                                           : 3 * qint64(width);
    // Strips of about 128 KiB; JPEG wants a multiple of 16 rows (chroma subsampling).
    p.rowsPerStrip = uint32_t(std::max<qint64>(1, (128 * 1024) / p.rowBytes));
    if (p.rowsPerStrip >= 16)
        p.rowsPerStrip -= p.rowsPerStrip % 16;
    else if (compression == COMPRESSION_JPEG)
        p.rowsPerStrip = 16;
    p.rowsPerStrip = std::min(p.rowsPerStrip, std::max<uint32_t>(p.height, 1));
    p.strips = (p.height + p.rowsPerStrip - 1) / p.rowsPerStrip;
    p.rowsIn = 0;
    // LZW is the slow coding: a large page has its strips coded on all the machine's cores, a
    // window of about 8 MiB of rows at a time so that the coded strips held back stay small.
    p.threads = compression == COMPRESSION_LZW ? unsigned(codingThreads(p.rowBytes * p.height)) : 1;
    p.window = std::max<uint32_t>(p.threads, uint32_t((8 * 1024 * 1024) / (p.rowBytes * p.rowsPerStrip)));
    p.pending.clear();
    p.pendingFirst = 0;
    try {
        p.strip.resize(size_t(p.rowBytes) * p.rowsPerStrip);
        if (p.threads > 1) {
            // Room made once for a share of a window (coding rarely makes strips larger).
            p.pending.reserve(size_t(p.rowBytes * p.rowsPerStrip) * (4 * p.threads + 1));
            p.coders.clear();
            p.coded.resize(p.threads);
            for (std::vector<uchar>& buffer : p.coded)
                buffer.reserve(size_t(p.rowBytes * p.rowsPerStrip * p.window / p.threads) + 65536);
        }
    } catch (const std::bad_alloc&) {
        setError(error, QStringLiteral("Out of memory"));
        return false;
    }

    TIFF* t = m_tiff;
    setCodingTags(t);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, float(dpiX));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, float(dpiY));
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    if (multipage) {
        TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(t, TIFFTAG_PAGENUMBER, uint16_t(m_pages), uint16_t(0));
    }
    return true;
}

void TiffFile::setCodingTags(TIFF* t) const
{
    const Page& p = m_page;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.kind == PageKind::Colour ? 3 : 1);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.kind == PageKind::Bilevel ? 1 : 8);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, p.compression);
    if (p.kind == PageKind::Bilevel)
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    else if (p.kind == PageKind::Gray)
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    else if (p.compression == COMPRESSION_JPEG)
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    else
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    if (p.compression == COMPRESSION_LZW && p.kind != PageKind::Bilevel)
        TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);   // smaller and faster on scans
    if (p.compression == COMPRESSION_JPEG) {
        TIFFSetField(t, TIFFTAG_JPEGQUALITY, std::clamp(p.jpegQuality, 1, 100));
        if (p.kind == PageKind::Colour)
            TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);   // libtiff converts
    }
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, p.rowsPerStrip);
}

bool TiffFile::writeStrip(uint32_t index, qint64 bytes, QString* error)
{
    if (TIFFWriteEncodedStrip(m_tiff, index, m_page.strip.data(), tmsize_t(bytes)) < 0) {
        setError(error, failure(QStringLiteral("Cannot write")));
        return false;
    }
    return true;
}

bool TiffFile::writeRows(PageRows& rows, int first, int count, QString* error)
{
    Page& p = m_page;
    if (p.threads > 1) {
        if (count > int(p.height - p.rowsIn)) {
            setError(error, QStringLiteral("More rows than the page has for %1").arg(m_path));
            return false;
        }
        // A few strips for each thread at a time, so that the rows waiting stay in the room
        // made for them once.
        const size_t batch = size_t(p.rowBytes * p.rowsPerStrip) * 4 * p.threads;
        for (int y = first; y < first + count; ++y) {
            const uchar* row = rows.row(y);
            p.pending.insert(p.pending.end(), row, row + p.rowBytes);
            ++p.rowsIn;
            if (p.pending.size() >= batch && !codePendingStrips(false, error))
                return false;
        }
        return true;
    }
    for (int y = first; y < first + count; ++y) {
        if (p.rowsIn >= p.height) {
            setError(error, QStringLiteral("More rows than the page has for %1").arg(m_path));
            return false;
        }
        const uint32_t inStrip = p.rowsIn % p.rowsPerStrip;
        std::memcpy(p.strip.data() + size_t(inStrip) * size_t(p.rowBytes), rows.row(y),
                    size_t(p.rowBytes));
        ++p.rowsIn;
        if (inStrip + 1 == p.rowsPerStrip
            && !writeStrip(p.rowsIn / p.rowsPerStrip - 1, qint64(p.rowsPerStrip) * p.rowBytes, error))
            return false;
    }
    return true;
}

bool TiffFile::endPage(QString* error)
{
    Page& p = m_page;
    const uint32_t rest = p.rowsIn % p.rowsPerStrip;
    if (p.threads > 1) {
        if (p.rowsIn == p.height && !codePendingStrips(true, error))
            return false;
    } else if (rest > 0 && p.rowsIn == p.height
               && !writeStrip(p.strips - 1, qint64(rest) * p.rowBytes, error)) {
        return false;
    }
    if (p.rowsIn != p.height) {
        setError(error, QStringLiteral("Not all rows of the page were given for %1").arg(m_path));
        return false;
    }
    p.strip = {};
    p.pending = {};
    p.coders.clear();
    p.coded = {};
    if (!TIFFWriteDirectory(m_tiff)) {
        setError(error, failure(QStringLiteral("Cannot write")));
        return false;
    }
    ++m_pages;
    return true;
}

bool TiffFile::writePage(const QImage& page, int compression, int jpegQuality, bool multipage,
                         QString* error)
{
    if (!beginPage(page.width(), page.height(), pageKind(page), dotsPerInchX(page),
                   dotsPerInchY(page), compression, jpegQuality, multipage, error))
        return false;
    if (m_page.threads > 1) {
        // Each thread reads its strips from the page itself, converting its own rows.
        const auto fillerForThread = [&]() -> StripFiller {
            auto rows = std::make_shared<PageRows>(page, m_page.layout);
            return [this, rows](uint32_t index, std::vector<uchar>& strip) {
                const uint32_t top = index * m_page.rowsPerStrip;
                const uint32_t n = std::min(m_page.rowsPerStrip, m_page.height - top);
                for (uint32_t i = 0; i < n; ++i)
                    std::memcpy(strip.data() + size_t(i) * size_t(m_page.rowBytes),
                                rows->row(int(top + i)), size_t(m_page.rowBytes));
                return qint64(n) * m_page.rowBytes;
            };
        };
        for (uint32_t first = 0; first < m_page.strips; first += m_page.window)
            if (!codeStripsInParallel(first, std::min(m_page.strips, first + m_page.window),
                                      fillerForThread, error))
                return false;
        m_page.rowsIn = m_page.height;
        m_page.pendingFirst = m_page.strips;
        return endPage(error);
    }
    PageRows rows(page, m_page.layout);
    return writeRows(rows, 0, page.height(), error) && endPage(error);
}

bool TiffFile::codePendingStrips(bool all, QString* error)
{
    Page& p = m_page;
    const qint64 stripBytes = p.rowBytes * p.rowsPerStrip;
    const uint32_t complete = uint32_t(qint64(p.pending.size()) / stripBytes);
    // While rows come, every complete strip once there are a few for each thread (so that
    // coding keeps up with the rows); at the end whatever is left, the short last strip too.
    const uint32_t ready = all ? p.strips - p.pendingFirst : complete >= 4 * p.threads ? complete : 0;
    if (ready == 0)
        return true;
    const uint32_t base = p.pendingFirst;
    const auto fillerForThread = [&]() -> StripFiller {
        return [this, base, stripBytes](uint32_t index, std::vector<uchar>& strip) {
            // A copy: the coder works on it in place.
            const qint64 from = qint64(index - base) * stripBytes;
            const qint64 n = std::min<qint64>(stripBytes, qint64(m_page.pending.size()) - from);
            std::memcpy(strip.data(), m_page.pending.data() + from, size_t(n));
            return n;
        };
    };
    for (uint32_t first = base; first < base + ready; first += p.window)
        if (!codeStripsInParallel(first, std::min(base + ready, first + p.window), fillerForThread,
                                  error))
            return false;
    const size_t used = std::min(p.pending.size(), size_t(qint64(ready) * stripBytes));
    p.pending.erase(p.pending.begin(), p.pending.begin() + qint64(used));
    p.pendingFirst += ready;
    return true;
}

bool TiffFile::codeStripsInParallel(uint32_t first, uint32_t last,
                                    const std::function<StripFiller()>& fillerForThread,
                                    QString* error)
{
    TIFF* t = m_tiff;
    const unsigned threads = m_page.threads;
    const size_t stripBytes = size_t(m_page.rowBytes) * m_page.rowsPerStrip;
    struct Coded
    {
        MemoryTiff* memory = nullptr;
        TIFF* scratch = nullptr;
        std::vector<std::pair<uint64_t, uint64_t>> strips;   // offset, length
        bool ok = true;
    };
    std::vector<std::unique_ptr<Coded>> parts;
    m_page.coders.resize(threads);
    const auto code = [&](Coded& part, StripFiller fill, uint32_t from, uint32_t to) {
        if (from == to)
            return;   // fewer strips than threads: a coder without strips has no strip table
        try {
            std::vector<uchar> strip(stripBytes);
            for (uint32_t index = from; part.ok && index < to; ++index)
                part.ok = TIFFWriteEncodedStrip(part.scratch, index, strip.data(),
                                                tmsize_t(fill(index, strip))) >= 0;
            uint64_t* offsets = nullptr;
            uint64_t* lengths = nullptr;
            part.ok = part.ok && TIFFGetField(part.scratch, TIFFTAG_STRIPOFFSETS, &offsets)
                      && TIFFGetField(part.scratch, TIFFTAG_STRIPBYTECOUNTS, &lengths);
            for (uint32_t index = from; part.ok && index < to; ++index)
                part.strips.emplace_back(offsets[index], lengths[index]);
        } catch (const std::bad_alloc&) {
            part.ok = false;
        }
    };
    std::vector<std::thread> workers;
    const uint32_t count = last - first;
    for (unsigned k = 0; k < threads; ++k) {
        const uint32_t from = first + uint32_t(qint64(count) * k / threads);
        const uint32_t to = first + uint32_t(qint64(count) * (k + 1) / threads);
        parts.push_back(std::make_unique<Coded>());
        Coded& part = *parts.back();
        std::unique_ptr<MemoryTiff>& coder = m_page.coders[k];
        if (!coder) {
            coder = std::make_unique<MemoryTiff>(m_page.coded[k]);
            if (TIFF* scratch = coder->open())
                setCodingTags(scratch);
            else
                part.ok = false;
        }
        part.memory = coder.get();
        part.scratch = coder->tiff();
        part.ok = part.ok && part.scratch;
        if (k == 0)
            continue;   // this thread takes the first share once the others run
        try {
            workers.emplace_back(code, std::ref(part), fillerForThread(), from, to);
        } catch (const std::system_error&) {
            code(part, fillerForThread(), from, to);
        }
    }
    code(*parts[0], fillerForThread(), first, first + uint32_t(qint64(count) / threads));
    for (std::thread& worker : workers)
        worker.join();
    uint32_t index = first;
    for (const std::unique_ptr<Coded>& part : parts) {
        if (!part->ok) {
            m_lastError = part->memory ? part->memory->lastError() : QString();
            setError(error, m_lastError.isEmpty() ? QStringLiteral("Out of memory")
                                                  : failure(QStringLiteral("Cannot write")));
            return false;
        }
        const std::vector<uchar>& bytes = part->memory->bytes();
        const uint64_t dropped = part->memory->dropped();
        for (const auto& [offset, length] : part->strips) {
            if (offset < dropped || offset - dropped + length > bytes.size()
                || TIFFWriteRawStrip(t, index++, const_cast<uchar*>(bytes.data()) + (offset - dropped),
                                     tmsize_t(length)) < 0) {
                setError(error, failure(QStringLiteral("Cannot write")));
                return false;
            }
        }
        part->memory->drop();
    }
    return true;
}

bool TiffFile::close(QString* error)
{
    TIFF* t = m_tiff;
    m_tiff = nullptr;
    const bool flushed = TIFFFlush(t) == 1;
    TIFFClose(t);   // and with it the descriptor, whose close may fail on its own
    m_fd = -1;
    const bool ok = flushed && m_systemError == 0;
    if (!ok)
        setError(error, failure(QStringLiteral("Cannot write")));
    return ok;
}

// ------------------------------------------------------------------------------------- PDF

namespace {

QByteArray number(double v)
{
    // Enough precision for a point size; no exponent notation, which PDF does not know.
    return QByteArray::number(v, 'f', 3);
}

} // namespace

int PdfDocument::beginObject()
{
    const int id = int(m_offsets.size());
    m_offsets.append(m_out.pos());
    return id;
}

bool PdfDocument::write(const QByteArray& bytes)
{
    return m_out.write(bytes) == bytes.size();
}

bool PdfDocument::writeFailed(QString* error) const
{
    setError(error, deviceError(m_out));
    return false;
}

bool PdfDocument::start(QString* error)
{
    m_offsets = {0, 0, 0};   // object 0 is the free list head; 1 and 2 come at the end
    if (!write(QByteArrayLiteral("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")))
        return writeFailed(error);
    return true;
}

bool PdfDocument::writeStream(const QByteArray& dictionary, const QByteArray& data)
{
    const int id = beginObject();
    return write(QByteArray::number(id) + " 0 obj\n<< " + dictionary + " /Length "
                 + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n");
}

namespace {

QByteArray deflated(const QByteArray& data)
{
    QByteArray z = qCompress(data);   // a zlib stream behind a 4-byte size
    z.remove(0, 4);
    return z;
}

} // namespace

bool PdfDocument::writeInvisibleFont()
{
    // Font file, code map, Unicode map, descriptor and the two font dictionaries, each
    // referring to the ones before.
    const QByteArray program = invisibleFontProgram();
    const int file = int(m_offsets.size());
    if (!writeStream("/Length1 " + QByteArray::number(program.size()) + " /Filter /FlateDecode",
                     deflated(program)))
        return false;
    const int glyphs = file + 1;
    if (!writeStream("/Filter /FlateDecode", deflated(allCodesToGlyphOne())))
        return false;
    const int unicode = glyphs + 1;
    if (!writeStream("/Filter /FlateDecode", deflated(identityToUnicodeMap())))
        return false;
    const auto ref = [](int id) { return QByteArray::number(id) + " 0 R"; };
    const int descriptor = beginObject();
    if (!write(QByteArray::number(descriptor) + " 0 obj\n<< /Type /FontDescriptor /FontName /InvisibleText"
               " /Flags 5 /FontBBox [0 " + QByteArray::number(kInvisibleDescent) + ' '
               + QByteArray::number(kInvisibleWidth) + ' ' + QByteArray::number(kInvisibleAscent)
               + "] /ItalicAngle 0 /Ascent " + QByteArray::number(kInvisibleAscent) + " /Descent "
               + QByteArray::number(kInvisibleDescent) + " /CapHeight " + QByteArray::number(kInvisibleAscent)
               + " /StemV 80 /FontFile2 " + ref(file) + " >>\nendobj\n"))
        return false;
    const int cidFont = beginObject();
    if (!write(QByteArray::number(cidFont) + " 0 obj\n<< /Type /Font /Subtype /CIDFontType2"
               " /BaseFont /InvisibleText /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity)"
               " /Supplement 0 >> /FontDescriptor " + ref(descriptor) + " /DW "
               + QByteArray::number(kInvisibleWidth) + " /CIDToGIDMap " + ref(glyphs) + " >>\nendobj\n"))
        return false;
    m_invisibleFont = beginObject();
    return write(QByteArray::number(m_invisibleFont) + " 0 obj\n<< /Type /Font /Subtype /Type0"
                 " /BaseFont /InvisibleText /Encoding /Identity-H /DescendantFonts [" + ref(cidFont)
                 + "] /ToUnicode " + ref(unicode) + " >>\nendobj\n");
}

bool PdfDocument::addPage(const QImage& page, int jpegQuality, QString* error)
{
    return addPage(page, jpegQuality, nullptr, error);
}

bool PdfDocument::addPage(const QImage& page, int jpegQuality, const TextLayer* text, QString* error)
{
    const PageKind kind = pageKind(page);
    const double widthPt = page.width() * 72.0 / dotsPerInchX(page);
    const double heightPt = page.height() * 72.0 / dotsPerInchY(page);

    // The image: JPEG for gray and colour, 1-bit Flate for black and white (JPEG would blur
    // the edges and be larger).
    const int image = beginObject();
    const int length = image + 1;
    QByteArray dict = "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(page.width())
                      + " /Height " + QByteArray::number(page.height());
    QByteArray bilevel;
    if (kind == PageKind::Bilevel) {
        PageRows rows(page, QImage::Format_Mono);
        QByteArray packed;
        packed.reserve(qsizetype(rows.bytesPerRow()) * page.height());
        for (int y = 0; y < page.height(); ++y)
            packed.append(reinterpret_cast<const char*>(rows.row(y)), rows.bytesPerRow());
        bilevel = qCompress(packed);   // a zlib stream behind a 4-byte size
        bilevel.remove(0, 4);
        dict += " /ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0] /Filter /FlateDecode";
    } else {
        dict += kind == PageKind::Gray ? " /ColorSpace /DeviceGray" : " /ColorSpace /DeviceRGB";
        dict += " /BitsPerComponent 8 /Filter /DCTDecode";
    }
    dict += " /Length " + QByteArray::number(length) + " 0 R >>\nstream\n";
    if (!write(QByteArray::number(image) + " 0 obj\n" + dict))
        return writeFailed(error);
    const qint64 streamStart = m_out.pos();
    if (kind == PageKind::Bilevel) {
        if (!write(bilevel))
            return writeFailed(error);
    } else if (!encodeJpeg(page, m_out, jpegQuality, error)) {
        return false;
    }
    const qint64 streamLength = m_out.pos() - streamStart;
    if (!write("\nendstream\nendobj\n"))
        return writeFailed(error);

    beginObject();
    if (!write(QByteArray::number(length) + " 0 obj\n" + QByteArray::number(streamLength) + "\nendobj\n"))
        return writeFailed(error);

    const QByteArray draw = "q " + number(widthPt) + " 0 0 " + number(heightPt) + " 0 0 cm /Im0 Do Q\n";
    // The recognised words go over the image, unpainted: found, selected and copied in
    // their places.
    const QByteArray words = text ? textLayerOperators(*text, widthPt / page.width(),
                                                       heightPt / page.height(), heightPt)
                                  : QByteArray();
    QByteArray fonts;
    if (!words.isEmpty()) {
        if (!m_invisibleFont && !writeInvisibleFont())
            return writeFailed(error);
        fonts = " /Font << /T0 " + QByteArray::number(m_invisibleFont) + " 0 R >>";
    }
    const int contents = int(m_offsets.size());
    if (words.isEmpty() ? !writeStream(QByteArray(), draw)
                        : !writeStream("/Filter /FlateDecode", deflated(draw + words)))
        return writeFailed(error);

    const int pageObject = beginObject();
    if (!write(QByteArray::number(pageObject) + " 0 obj\n<< /Type /Page /Parent "
               + QByteArray::number(kPages) + " 0 R /MediaBox [0 0 " + number(widthPt) + ' '
               + number(heightPt) + "] /Resources << /XObject << /Im0 " + QByteArray::number(image)
               + " 0 R >>" + fonts + " >> /Contents " + QByteArray::number(contents) + " 0 R >>\nendobj\n"))
        return writeFailed(error);
    m_pageObjects.append(pageObject);
    return true;
}

bool PdfDocument::finish(QString* error)
{
    m_offsets[kPages] = m_out.pos();
    QByteArray pages = QByteArray::number(kPages) + " 0 obj\n<< /Type /Pages /Kids [";
    for (int id : m_pageObjects)
        pages += QByteArray::number(id) + " 0 R ";
    pages += "] /Count " + QByteArray::number(m_pageObjects.size()) + " >>\nendobj\n";
    if (!write(pages))
        return writeFailed(error);
    m_offsets[kCatalog] = m_out.pos();
    if (!write(QByteArray::number(kCatalog) + " 0 obj\n<< /Type /Catalog /Pages "
               + QByteArray::number(kPages) + " 0 R >>\nendobj\n"))
        return writeFailed(error);

    const qint64 xref = m_out.pos();
    QByteArray table = "xref\n0 " + QByteArray::number(m_offsets.size()) + "\n0000000000 65535 f\r\n";
    for (qsizetype i = 1; i < m_offsets.size(); ++i)
        table += QByteArray::number(m_offsets[i]).rightJustified(10, '0') + " 00000 n\r\n";
    table += "trailer\n<< /Size " + QByteArray::number(m_offsets.size()) + " /Root "
             + QByteArray::number(kCatalog) + " 0 R >>\nstartxref\n" + QByteArray::number(xref)
             + "\n%%EOF\n";
    if (!write(table))
        return writeFailed(error);
    return true;
}
