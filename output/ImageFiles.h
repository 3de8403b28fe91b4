// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <memory>

struct TextLayer;

struct ImageWriteOptions
{
    int jpegQuality = 75;     // 1..100, JPEG files, JPEG-in-TIFF and the pages of a PDF
    int tiffCompression = 1;  // TIFF Compression tag value: 1, 2, 3, 4, 5 or 7
    // PDF pages get the words recognised in this language as invisible text (a Tesseract
    // language name such as "eng"); empty: none.
    QString recognitionLanguage;
    // Multipage files: finishing may replace a file of that name (the save dialog has asked
    // the user); false: a name taken by then fails the file instead.
    bool replaceExisting = true;
};

// Writes one page; the encoder is chosen by the extension, letter case ignored: bmp gif jpg
// jpeg png pdf tif tiff. The resolution comes from image.dotsPerMeterX/Y and is recorded
// wherever the format has room for it (a PDF page gets the page's paper size).
// The file is written under a temporary name in the target folder and moved into place only
// when complete, never replacing an existing file. On failure: false, *error says why, and
// nothing is left on disk.
bool writeImageFile(const QImage& image, const QString& path, const ImageWriteOptions& options,
                    QString* error);

// Same, for scan jobs: when `path` is taken by the time the finished file is moved into place,
// nextCandidate() supplies the next name to try (an empty name gives up). The name finally
// used is returned in *writtenPath.
bool writeImageFileNoClobber(const QImage& image, const QString& path,
                             const ImageWriteOptions& options,
                             const std::function<QString()>& nextCandidate, QString* writtenPath,
                             QString* error);

// A page file coded while the page's rows arrive, top to bottom, for a scan that knows the
// page's size before its rows come. JPEG, PNG and TIFF files are coded a strip at a time into
// the very file writeImageFileNoClobber makes of the finished page, under a temporary name in
// the target folder, and placed as it places them. BMP (stored bottom-up), GIF (its colours
// are chosen from the whole page) and PDF are not: begin() gives null for them.
class StreamedPageFile
{
public:
    // A file for a page of this size whose rows come in `format` (Format_Mono with its colour
    // table, Format_Grayscale8 or Format_RGB888). Null when the file is to be written whole
    // instead: its format, or it could not be started (the whole-page writer then says why).
    // Without mayMoveOn an existing file of that name is not started either. *error, when
    // given, says why a file of a format that streams could not be started.
    static std::unique_ptr<StreamedPageFile> begin(const QString& path, QImage::Format format,
                                                   int width, int height, int dotsPerMeterX,
                                                   int dotsPerMeterY,
                                                   const ImageWriteOptions& options,
                                                   bool mayMoveOn, QString* error = nullptr);
    // Whether a file at path, with these options, is coded as its rows come (JPEG, PNG and
    // TIFF with a compression of ours).
    static bool streams(const QString& path, const ImageWriteOptions& options);
    // An unfinished file is removed.
    ~StreamedPageFile();
    StreamedPageFile(const StreamedPageFile&) = delete;
    StreamedPageFile& operator=(const StreamedPageFile&) = delete;

    int rowsDone() const { return m_rowsDone; }
    int height() const { return m_height; }
    QImage::Format format() const { return m_format; }
    // The page's next rows: rows.height() of them, in its format and width. false once a write
    // failed (*error says why); the rows after are not coded.
    bool addRows(const QImage& rows, QString* error);
    // Once every row is in: completes the file and moves it into place as
    // writeImageFileNoClobber does.
    bool finish(const std::function<QString()>& nextCandidate, QString* writtenPath,
                QString* error);

    struct Coder;

private:
    StreamedPageFile() = default;

    std::unique_ptr<Coder> m_coder;
    QString m_path;
    QString m_temporary;   // the name it gets once complete, the one error texts show
    QImage::Format m_format = QImage::Format_Invalid;
    int m_width = 0;
    int m_height = 0;
    int m_rowsDone = 0;
    bool m_failed = false;
    QString m_error;
};

// Codes `image` in the format an extension names (as writeImageFile chooses it) straight into
// the file at `path`, for callers that finish and place the file themselves.
bool encodeImageAs(const QImage& image, const QString& extension, const QString& path,
                   const ImageWriteOptions& options, QString* error);

// A Windows bitmap or anything else Qt reads; a null image and *error on failure.
QImage loadImageFile(const QString& path, QString* error);

// The size of the picture in an image file, from its headers; an empty size and *error when
// the file cannot be read.
QSize imageFileSize(const QString& path, QString* error);

// An image file's picture reduced to fit `bound` without distortion (never enlarged), for
// showing or printing a page at the device's resolution. The program's own bitmaps are read a
// row at a time, so a page far larger than the result is never held whole.
QImage loadImageFileFitted(const QString& path, const QSize& bound, QString* error);

// One PDF (a page per image, each at its own size) or one multipage TIFF (the compression in
// force), chosen by the extension of `path`. Pages are encoded as they are appended, so memory
// holds one page, not the document. The file grows under a temporary name beside `path` and is
// moved onto `path` by finish(); replacing an existing file is allowed there because the save
// dialog has asked the user already.
class MultipageWriter
{
public:
    static std::unique_ptr<MultipageWriter> begin(const QString& path,
                                                  const ImageWriteOptions& options, QString* error);

    // Destroying a writer that did not finish removes its partial file.
    virtual ~MultipageWriter();

    // A PDF writer with a recognition language recognises the page's words first.
    virtual bool appendPage(const QImage& page, QString* error) = 0;
    // The same with words recognised already (a TIFF has no room for them).
    virtual bool appendPage(const QImage& page, const TextLayer& text, QString* error) = 0;
    // Completes the file and moves it into place. A writer without pages fails.
    virtual bool finish(QString* error) = 0;

    MultipageWriter(const MultipageWriter&) = delete;
    MultipageWriter& operator=(const MultipageWriter&) = delete;

protected:
    MultipageWriter() = default;
};
