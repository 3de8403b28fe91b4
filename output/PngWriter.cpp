// SPDX-License-Identifier: GPL-3.0-or-later
// PNG through libpng with settings chosen for scanned pages: Qt's own writer tries every
// filter on every row and compresses hard, which costs seconds on a 300 dpi page.
#include "PngWriter.h"

#include "PageEncoders.h"

#include <QIODevice>

#include <png.h>

#include <csetjmp>

struct PngWriter::State
{
    QIODevice* out = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    int height = 0;
    int rowsWritten = 0;
    bool failed = false;
    bool deviceFailed = false;
    char message[256] = {};
};

namespace {

using State = PngWriter::State;

State& stateOf(png_structp png) { return *static_cast<State*>(png_get_error_ptr(png)); }

// libpng reports a fatal error by calling this, which must not return: it jumps back into the
// guarded call below. Only libpng's own frames lie in between.
[[noreturn]] void pngFail(png_structp png, png_const_charp text)
{
    State& s = stateOf(png);
    std::snprintf(s.message, sizeof s.message, "%s", text ? text : "");
    png_longjmp(png, 1);
}

void pngIgnoreWarning(png_structp, png_const_charp) {}   // warnings are not failures

void pngWrite(png_structp png, png_bytep data, size_t size)
{
    auto* s = static_cast<State*>(png_get_io_ptr(png));
    if (s->out->write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) {
        s->deviceFailed = true;
        png_error(png, "write failed");
    }
}

void pngFlush(png_structp) {}   // the caller flushes and closes its device

QString failureText(const State& s)
{
    if (s.deviceFailed) {
        const QString reason = s.out->errorString();
        return reason.isEmpty() ? QStringLiteral("Write error") : QStringLiteral("Write error: ") + reason;
    }
    return QStringLiteral("PNG error: ") + QString::fromLocal8Bit(s.message);
}

// Runs libpng calls so that an error inside them comes back as false. `calls` must hold no
// object with a destructor: longjmp would skip it.
template<typename Calls>
bool guarded(State& s, Calls calls)
{
    if (setjmp(png_jmpbuf(s.png))) {
        s.failed = true;
        return false;
    }
    calls();
    return true;
}

bool refuse(State& s, QString* error)
{
    if (error)
        *error = failureText(s);
    return false;
}

} // namespace

PngWriter::PngWriter(QIODevice& out) : m_state(std::make_unique<State>())
{
    m_state->out = &out;
}

PngWriter::~PngWriter()
{
    if (m_state->png)
        png_destroy_write_struct(&m_state->png, &m_state->info);
}

bool PngWriter::begin(int width, int height, PageKind kind, int dotsPerMeterX, int dotsPerMeterY,
                      QString* error)
{
    State& s = *m_state;
    s.height = height;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s, pngFail, pngIgnoreWarning);
    s.info = s.png ? png_create_info_struct(s.png) : nullptr;
    if (!s.info) {
        if (error)
            *error = QStringLiteral("Out of memory");
        return false;
    }
    const bool bilevel = kind == PageKind::Bilevel;
    const bool ok = guarded(s, [&] {
        png_set_write_fn(s.png, &s, pngWrite, pngFlush);
        png_set_IHDR(s.png, s.info, png_uint_32(width), png_uint_32(height), bilevel ? 1 : 8,
                     kind == PageKind::Colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_pHYs(s.png, s.info, png_uint_32(std::max(0, dotsPerMeterX)),
                     png_uint_32(std::max(0, dotsPerMeterY)), PNG_RESOLUTION_METER);
        if (bilevel) {
            // Black-and-white rows are small and long runs: no filter, a harder level.
            png_set_filter(s.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
            png_set_compression_level(s.png, 6);
            png_set_invert_mono(s.png);   // PNG's 1-bit gray has 1 for white
        } else {
            // Sub or Up, whichever is smaller per row: on scans they get nearly all that the
            // slower Average and Paeth would, and level 2 nearly all of what harder levels do.
            png_set_filter(s.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP);
            png_set_compression_level(s.png, 2);
        }
        png_set_compression_buffer_size(s.png, 256 * 1024);   // IDAT chunks of 256 KiB
        png_write_info(s.png, s.info);
    });
    return ok || refuse(s, error);
}

bool PngWriter::writeRow(const uchar* row, QString* error)
{
    State& s = *m_state;
    if (s.failed || s.rowsWritten >= s.height)
        return false;
    if (!guarded(s, [&] { png_write_row(s.png, const_cast<png_bytep>(row)); }))
        return refuse(s, error);
    ++s.rowsWritten;
    return true;
}

bool PngWriter::finish(QString* error)
{
    State& s = *m_state;
    if (s.failed || s.rowsWritten != s.height) {
        if (error && !s.failed)
            *error = QStringLiteral("PNG error: %1 of %2 rows written").arg(s.rowsWritten).arg(s.height);
        return false;
    }
    return guarded(s, [&] { png_write_end(s.png, nullptr); }) || refuse(s, error);
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
