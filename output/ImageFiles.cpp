// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageFiles.h"

#include "FilePlacement.h"
#include "PageEncoders.h"
#include "PlainBitmap.h"
#include "PngWriter.h"
#include "SystemFile.h"
#include "TextRecognition.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>


namespace {

enum class Format { Unknown, Bmp, Gif, Jpeg, Png, Pdf, Tiff };

Format formatOf(const QString& path)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("bmp"))
        return Format::Bmp;
    if (ext == QLatin1String("gif"))
        return Format::Gif;
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return Format::Jpeg;
    if (ext == QLatin1String("png"))
        return Format::Png;
    if (ext == QLatin1String("pdf"))
        return Format::Pdf;
    if (ext == QLatin1String("tif") || ext == QLatin1String("tiff"))
        return Format::Tiff;
    return Format::Unknown;
}

QString unsupportedFormat(const QString& path)
{
    const QString ext = QFileInfo(path).suffix();
    return ext.isEmpty() ? QStringLiteral("No image format given by the name %1").arg(path)
                         : QStringLiteral("Unsupported image format \"%1\"").arg(ext);
}

// A file written straight through the system: every write and the final close are checked,
// each failure with the system's reason; a full disk shows up at the latest on closing.
template<typename Encode>
bool writeThroughSystemFile(const QString& path, QString* error, Encode encode)
{
    SystemFile file;
    if (!file.create(path)) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!encode(file))
        return false;
    if (!file.finish()) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool encodeFile(const QImage& image, Format format, const QString& path,
                const ImageWriteOptions& options, QString* error)
{
    switch (format) {
    case Format::Bmp:
        return writeThroughSystemFile(path, error, [&](QIODevice& f) { return encodeBmp(image, f, error); });
    case Format::Gif:
        return encodeGif(image, path, error);
    case Format::Jpeg:
        return writeThroughSystemFile(path, error, [&](QIODevice& f) {
            return encodeJpeg(image, f, std::clamp(options.jpegQuality, 1, 100), error);
        });
    case Format::Png:
        return writeThroughSystemFile(path, error, [&](QIODevice& f) {
            return encodePng(image, f, error);
        });
    case Format::Pdf: {
        TextLayer text;
        if (!options.recognitionLanguage.isEmpty()
            && !TextRecogniser(options.recognitionLanguage).recognise(image, &text, nullptr, error))
            return false;
        return writeThroughSystemFile(path, error, [&](QIODevice& f) {
            PdfDocument pdf(f);
            return pdf.start(error)
                   && pdf.addPage(image, std::clamp(options.jpegQuality, 1, 100), &text, error)
                   && pdf.finish(error);
        });
    }
    case Format::Tiff: {
        TiffFile tiff;
        return tiff.open(path, error)
               && tiff.writePage(image, options.tiffCompression, options.jpegQuality, false, error)
               && tiff.close(error);
    }
    case Format::Unknown:
        break;
    }
    return false;
}

// Checks made before any encoding, so that a page never costs time only to be refused.
bool checkWritable(const QImage& image, Format format, const QString& path,
                   const ImageWriteOptions& options, QString* error)
{
    if (format == Format::Unknown) {
        if (error)
            *error = unsupportedFormat(path);
        return false;
    }
    if (image.isNull()) {
        if (error)
            *error = QStringLiteral("No image to write to %1").arg(path);
        return false;
    }
    if (format == Format::Tiff && !isSupportedTiffCompression(options.tiffCompression)) {
        if (error)
            *error = QStringLiteral("Unsupported TIFF compression %1").arg(options.tiffCompression);
        return false;
    }
    return true;
}

QString alreadyExists(const QString& path)
{
    return QStringLiteral("Cannot create %1: the file already exists").arg(path);
}

// Moves a finished temporary file into place, never over an existing file: a name taken
// meanwhile moves on to nextCandidate(). The temporary is gone afterwards either way.
bool placeTemporary(const QString& temporary, const QString& path,
                    const std::function<QString()>& nextCandidate, QString* writtenPath,
                    QString* error)
{
    QString target = path;
    for (int attempt = 0; attempt < 100000; ++attempt) {
        switch (moveWithoutReplacing(temporary, target, error)) {
        case MoveResult::Moved:
            if (writtenPath)
                *writtenPath = target;
            return true;
        case MoveResult::Failed:
            discardTemporary(temporary);
            return false;
        case MoveResult::TargetExists:
            break;
        }
        const QString next = nextCandidate ? nextCandidate() : QString();
        if (next.isEmpty()) {
            if (error)
                *error = alreadyExists(target);
            discardTemporary(temporary);
            return false;
        }
        target = next;
    }
    if (error)
        *error = alreadyExists(target);
    discardTemporary(temporary);
    return false;
}

} // namespace

bool writeImageFile(const QImage& image, const QString& path, const ImageWriteOptions& options,
                    QString* error)
{
    return writeImageFileNoClobber(image, path, options, {}, nullptr, error);
}

bool writeImageFileNoClobber(const QImage& image, const QString& path,
                             const ImageWriteOptions& options,
                             const std::function<QString()>& nextCandidate, QString* writtenPath,
                             QString* error)
{
    const Format format = formatOf(path);
    if (!checkWritable(image, format, path, options, error))
        return false;
    if (!nextCandidate && QFileInfo::exists(path)) {
        if (error)
            *error = alreadyExists(path);
        return false;
    }
    const QString temporary = createTemporaryBeside(path, error);
    if (temporary.isEmpty())
        return false;
    if (!encodeFile(image, format, temporary, options, error)) {
        discardTemporary(temporary);
        return false;
    }
    return placeTemporary(temporary, path, nextCandidate, writtenPath, error);
}

bool encodeImageAs(const QImage& image, const QString& extension, const QString& path,
                   const ImageWriteOptions& options, QString* error)
{
    const Format format = formatOf(QStringLiteral("page.") + extension);
    return checkWritable(image, format, path, options, error)
           && encodeFile(image, format, path, options, error);
}


// ------------------------------------------------------------------- pages coded as they come

// One format's coder on the temporary file: rows in its layout, then the end of the file.
struct StreamedPageFile::Coder
{
    virtual ~Coder() = default;
    virtual QImage::Format layout() const = 0;
    virtual bool write(PageRows& rows, int count, QString* error) = 0;
    virtual bool finish(QString* error) = 0;
};

namespace {

PageKind kindOf(QImage::Format format)
{
    return format == QImage::Format_Mono ? PageKind::Bilevel
         : format == QImage::Format_Grayscale8 ? PageKind::Gray
                                               : PageKind::Colour;
}

// JPEG and PNG go through a SystemFile, as writeThroughSystemFile has them.
class SystemFileCoder : public StreamedPageFile::Coder
{
public:
    // Written through `writePath`, called `path` in error texts.
    SystemFileCoder(QString writePath, QString path)
        : m_writePath(std::move(writePath)), m_path(std::move(path))
    {
    }

protected:
    bool create(QString* error)
    {
        if (m_file.create(m_writePath))
            return true;
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(m_path, m_file.errorString());
        return false;
    }
    bool close(QString* error)
    {
        if (m_file.finish())
            return true;
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(m_path, m_file.errorString());
        return false;
    }

    QString m_writePath;
    QString m_path;
    SystemFile m_file;
};

class JpegCoder final : public SystemFileCoder
{
public:
    using SystemFileCoder::SystemFileCoder;
    bool start(PageKind kind, int width, int height, int dpmX, int dpmY, int quality, QString* error)
    {
        m_gray = kind != PageKind::Colour;
        return create(error)
               && m_jpeg.begin(width, height, m_gray, dotsPerInch(dpmX), dotsPerInch(dpmY),
                               std::clamp(quality, 1, 100), error);
    }
    QImage::Format layout() const override
    {
        return m_gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    }
    bool write(PageRows& rows, int count, QString* error) override
    {
        return m_jpeg.writeRows(rows, 0, count, error);
    }
    bool finish(QString* error) override { return m_jpeg.finish(error) && close(error); }

private:
    JpegWriter m_jpeg{m_file};
    bool m_gray = false;
};

class PngCoder final : public SystemFileCoder
{
public:
    using SystemFileCoder::SystemFileCoder;
    bool start(PageKind kind, int width, int height, int dpmX, int dpmY, QString* error)
    {
        m_layout = kind == PageKind::Bilevel ? QImage::Format_Mono
                 : kind == PageKind::Gray    ? QImage::Format_Grayscale8
                                             : QImage::Format_RGB888;
        return create(error) && m_png.begin(width, height, kind, dpmX, dpmY, error);
    }
    QImage::Format layout() const override { return m_layout; }
    bool write(PageRows& rows, int count, QString* error) override
    {
        for (int y = 0; y < count; ++y)
            if (!m_png.writeRow(rows.row(y), error))
                return false;
        return true;
    }
    bool finish(QString* error) override { return m_png.finish(error) && close(error); }

private:
    PngWriter m_png{m_file};
    QImage::Format m_layout = QImage::Format_RGB888;
};

class TiffCoder final : public StreamedPageFile::Coder
{
public:
    bool start(const QString& writePath, const QString& path, PageKind kind, int width,
               int height, int dpmX, int dpmY, const ImageWriteOptions& options, QString* error)
    {
        return m_tiff.open(writePath, error, path)
               && m_tiff.beginPage(width, height, kind, dotsPerInch(dpmX), dotsPerInch(dpmY),
                                   options.tiffCompression, options.jpegQuality, false, error);
    }
    QImage::Format layout() const override { return m_tiff.rowLayout(); }
    bool write(PageRows& rows, int count, QString* error) override
    {
        return m_tiff.writeRows(rows, 0, count, error);
    }
    bool finish(QString* error) override { return m_tiff.endPage(error) && m_tiff.close(error); }

private:
    TiffFile m_tiff;
};

} // namespace

std::unique_ptr<StreamedPageFile> StreamedPageFile::begin(const QString& path, QImage::Format format,
                                                          int width, int height, int dotsPerMeterX,
                                                          int dotsPerMeterY,
                                                          const ImageWriteOptions& options,
                                                          bool mayMoveOn, QString* whyNot)
{
    const Format fileFormat = formatOf(path);
    if (width <= 0 || height <= 0
        || (format != QImage::Format_Mono && format != QImage::Format_Grayscale8
            && format != QImage::Format_RGB888)
        || !streams(path, options))
        return nullptr;
    if (!mayMoveOn && QFileInfo::exists(path)) {
        if (whyNot)
            *whyNot = alreadyExists(path);
        return nullptr;
    }
    QString error, writePath;
    const QString temporary = createUnnamedTemporaryBeside(path, &writePath, &error);
    if (temporary.isEmpty()) {
        if (whyNot)
            *whyNot = error;
        return nullptr;
    }
    std::unique_ptr<StreamedPageFile> file(new StreamedPageFile);
    file->m_path = path;
    file->m_temporary = temporary;
    file->m_format = format;
    file->m_width = width;
    file->m_height = height;
    const PageKind kind = kindOf(format);
    bool started = false;
    if (fileFormat == Format::Jpeg) {
        auto coder = std::make_unique<JpegCoder>(writePath, temporary);
        started = coder->start(kind, width, height, dotsPerMeterX, dotsPerMeterY,
                               options.jpegQuality, &error);
        file->m_coder = std::move(coder);
    } else if (fileFormat == Format::Png) {
        auto coder = std::make_unique<PngCoder>(writePath, temporary);
        started = coder->start(kind, width, height, dotsPerMeterX, dotsPerMeterY, &error);
        file->m_coder = std::move(coder);
    } else {
        auto coder = std::make_unique<TiffCoder>();
        started = coder->start(writePath, temporary, kind, width, height, dotsPerMeterX,
                               dotsPerMeterY, options, &error);
        file->m_coder = std::move(coder);
    }
    if (!started) {
        if (whyNot)
            *whyNot = error;
        return nullptr;   // the whole page is written after all, and says what is wrong
    }
    return file;
}

bool StreamedPageFile::streams(const QString& path, const ImageWriteOptions& options)
{
    const Format fileFormat = formatOf(path);
    return fileFormat == Format::Jpeg || fileFormat == Format::Png
        || (fileFormat == Format::Tiff && isSupportedTiffCompression(options.tiffCompression));
}

StreamedPageFile::~StreamedPageFile()
{
    m_coder.reset();   // closes the file before it goes
    discardTemporary(m_temporary);
}

bool StreamedPageFile::addRows(const QImage& rows, QString* error)
{
    if (m_failed) {
        if (error)
            *error = m_error;
        return false;
    }
    if (rows.format() != m_format || rows.width() != m_width
        || rows.height() > m_height - m_rowsDone) {
        m_failed = true;
        m_error = QStringLiteral("The rows given do not fit the page of %1").arg(m_path);
    } else {
        PageRows layout(rows, m_coder->layout());
        m_failed = !m_coder->write(layout, rows.height(), &m_error);
        m_rowsDone += rows.height();
    }
    if (m_failed && error)
        *error = m_error;
    return !m_failed;
}

bool StreamedPageFile::finish(const std::function<QString()>& nextCandidate, QString* writtenPath,
                              QString* error)
{
    if (!m_failed && m_rowsDone != m_height) {
        m_failed = true;
        m_error = QStringLiteral("Not all rows of the page came for %1").arg(m_path);
    }
    if (!m_failed)
        m_failed = !m_coder->finish(&m_error);
    m_coder.reset();
    if (m_failed) {
        if (error)
            *error = m_error;
        return false;
    }
    const QString temporary = nameTemporary(m_temporary, error);
    if (temporary.isEmpty())
        return false;   // the destructor discards it
    m_temporary.clear();
    return placeTemporary(temporary, m_path, nextCandidate, writtenPath, error);
}

namespace {

// The bitmaps this program writes itself (24-bit, uncompressed) are read straight from the
// mapped file into 8-bit RGB, the scanner's own layout: Qt's reader goes through 32-bit pixels
// one at a time and takes several times as long. Anything else returns a null image and is
// left to Qt.
QImage loadPlainBmp(const QString& path)
{
    QFile file(path);
    PlainBitmap b;
    const uchar* data = mapColourBitmap(file, &b);
    if (!data)
        return {};
    QImage image(b.width, b.height, QImage::Format_RGB888);
    if (image.isNull())
        return {};
    for (int y = 0; y < b.height; ++y) {
        const uchar* src = data + b.dataOffset + b.stride * (b.bottomUp ? b.height - 1 - y : y);
        uchar* dst = image.scanLine(y);
        for (int x = 0; x < b.width; ++x, src += 3, dst += 3) {
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    image.setDotsPerMeterX(b.dotsPerMeterX);
    image.setDotsPerMeterY(b.dotsPerMeterY);
    return image;
}

} // namespace

QImage loadImageFile(const QString& path, QString* error)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("bmp"), Qt::CaseInsensitive) == 0) {
        const QImage image = loadPlainBmp(path);
        if (!image.isNull())
            return image;
    }
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull() && error)
        *error = QStringLiteral("Cannot read %1: %2").arg(path, reader.errorString());
    return image;
}

QSize imageFileSize(const QString& path, QString* error)
{
    QFile file(path);
    PlainBitmap b;
    if (file.open(QIODevice::ReadOnly) && PlainBitmap::read(file, &b))
        return QSize(b.width, b.height);
    file.close();
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() && error)
        *error = QStringLiteral("Cannot read %1: %2").arg(path, reader.errorString());
    return size.isValid() ? size : QSize();
}

QImage loadImageFileFitted(const QString& path, const QSize& bound, QString* error)
{
    QFile file(path);
    PlainBitmap b;
    if (file.open(QIODevice::ReadOnly) && PlainBitmap::read(file, &b)) {
        QImage image = readPlainBitmapFitted(file, b, bound);
        if (image.isNull() && error)
            *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return image;
    }
    file.close();
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(fittedSize(size, bound));
    QImage image = reader.read();
    if (image.isNull() && error)
        *error = QStringLiteral("Cannot read %1: %2").arg(path, reader.errorString());
    return image;
}

// ------------------------------------------------------------------------- multipage files

MultipageWriter::~MultipageWriter() = default;

namespace {

// The temporary file of a document under way; removed unless the document was moved into place.
class PartialFile
{
public:
    explicit PartialFile(QString path) : m_path(std::move(path)) {}
    ~PartialFile() { discardTemporary(m_path); }
    const QString& path() const { return m_path; }
    bool moveTo(const QString& target, bool replace, QString* error)
    {
        if (replace) {
            if (!moveReplacing(m_path, target, error))
                return false;
        } else {
            switch (moveWithoutReplacing(m_path, target, error)) {
            case MoveResult::Moved:
                break;
            case MoveResult::TargetExists:
                if (error)
                    *error = QStringLiteral("%1 exists already and is not replaced").arg(target);
                return false;
            case MoveResult::Failed:
                return false;
            }
        }
        m_path.clear();
        return true;
    }

private:
    QString m_path;
};

bool refuse(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

// What both document kinds share: the partial file, the order of calls, and that a failed
// page ends the document (a document with a hole in it is not written).
class DocumentWriter : public MultipageWriter
{
public:
    DocumentWriter(QString target, QString temporary, bool replaceExisting)
        : m_target(std::move(target)), m_partial(std::move(temporary)),
          m_replaceExisting(replaceExisting)
    {
    }

    bool appendPage(const QImage& page, QString* error) final { return append(page, nullptr, error); }
    bool appendPage(const QImage& page, const TextLayer& text, QString* error) final
    {
        return append(page, &text, error);
    }

    bool finish(QString* error) final
    {
        if (m_failed || m_finished)
            return refuse(error, QStringLiteral("The file %1 is no longer being written").arg(m_target));
        if (m_pages == 0)
            return refuse(error, QStringLiteral("No pages to write to %1").arg(m_target));
        m_failed = true;
        if (!complete(error) || !m_partial.moveTo(m_target, m_replaceExisting, error))
            return false;
        m_failed = false;
        m_finished = true;
        return true;
    }

protected:
    // `text` null: none recognised yet.
    virtual bool encodePage(const QImage& page, const TextLayer* text, QString* error) = 0;
    virtual bool complete(QString* error) = 0;   // the file is whole and closed

    const QString& target() const { return m_target; }
    const QString& partialPath() const { return m_partial.path(); }

private:
    bool append(const QImage& page, const TextLayer* text, QString* error)
    {
        if (m_failed || m_finished)
            return refuse(error, QStringLiteral("The file %1 is no longer being written").arg(m_target));
        if (page.isNull())
            return refuse(error, QStringLiteral("No image to add to %1").arg(m_target));
        m_failed = !encodePage(page, text, error);
        m_pages += m_failed ? 0 : 1;
        return !m_failed;
    }

    QString m_target;
    PartialFile m_partial;   // a base member: removed after the subclass has closed its file
    bool m_replaceExisting;
    int m_pages = 0;
    bool m_failed = false;
    bool m_finished = false;
};

class PdfMultipageWriter final : public DocumentWriter
{
public:
    PdfMultipageWriter(QString target, QString temporary, const ImageWriteOptions& options)
        : DocumentWriter(std::move(target), std::move(temporary), options.replaceExisting), m_pdf(m_file),
          m_quality(std::clamp(options.jpegQuality, 1, 100)), m_language(options.recognitionLanguage)
    {
    }

    bool start(QString* error)
    {
        if (!m_file.create(partialPath()))
            return refuse(error, QStringLiteral("Cannot write %1: %2").arg(target(), m_file.errorString()));
        return m_pdf.start(error);
    }

private:
    bool encodePage(const QImage& page, const TextLayer* text, QString* error) override
    {
        TextLayer recognised;
        if (!text && !m_language.isEmpty()) {
            if (!m_recogniser)
                m_recogniser = std::make_unique<TextRecogniser>(m_language);
            if (!m_recogniser->recognise(page, &recognised, nullptr, error))
                return false;
            text = &recognised;
        }
        return m_pdf.addPage(page, m_quality, text, error);
    }

    bool complete(QString* error) override
    {
        if (!m_pdf.finish(error))
            return false;
        if (!m_file.finish())
            return refuse(error, QStringLiteral("Cannot write %1: %2").arg(target(), m_file.errorString()));
        return true;
    }

    SystemFile m_file;
    PdfDocument m_pdf;
    int m_quality;
    QString m_language;
    std::unique_ptr<TextRecogniser> m_recogniser;
};

class TiffMultipageWriter final : public DocumentWriter
{
public:
    TiffMultipageWriter(QString target, QString temporary, const ImageWriteOptions& options)
        : DocumentWriter(std::move(target), std::move(temporary), options.replaceExisting), m_options(options)
    {
    }

    bool start(QString* error) { return m_tiff.open(partialPath(), error); }

private:
    bool encodePage(const QImage& page, const TextLayer*, QString* error) override
    {
        return m_tiff.writePage(page, m_options.tiffCompression, m_options.jpegQuality, true, error);
    }

    bool complete(QString* error) override { return m_tiff.close(error); }

    TiffFile m_tiff;
    ImageWriteOptions m_options;
};

} // namespace

std::unique_ptr<MultipageWriter> MultipageWriter::begin(const QString& path,
                                                        const ImageWriteOptions& options,
                                                        QString* error)
{
    const Format format = formatOf(path);
    if (format != Format::Pdf && format != Format::Tiff) {
        refuse(error, format == Format::Unknown
                          ? unsupportedFormat(path)
                          : QStringLiteral("A multipage file must be PDF or TIFF, not \"%1\"")
                                .arg(QFileInfo(path).suffix()));
        return nullptr;
    }
    if (format == Format::Tiff && !isSupportedTiffCompression(options.tiffCompression)) {
        refuse(error, QStringLiteral("Unsupported TIFF compression %1").arg(options.tiffCompression));
        return nullptr;
    }
    const QString temporary = createTemporaryBeside(path, error);
    if (temporary.isEmpty())
        return nullptr;
    if (format == Format::Pdf) {
        auto writer = std::make_unique<PdfMultipageWriter>(path, temporary, options);
        if (!writer->start(error))
            return nullptr;
        return writer;
    }
    auto writer = std::make_unique<TiffMultipageWriter>(path, temporary, options);
    if (!writer->start(error))
        return nullptr;
    return writer;
}
