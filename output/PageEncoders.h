// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QString>

#include "PageRows.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class PageRows;
class QIODevice;
struct TextLayer;
typedef struct tiff TIFF;
class MemoryTiff;

// The encoders behind the image files and the multipage writers. Each one writes to a file
// it is handed (the temporary file of the caller), and reports failure with a text.

bool encodeBmp(const QImage& image, QIODevice& out, QString* error);
bool encodeGif(const QImage& image, const QString& path, QString* error);
bool encodePng(const QImage& image, QIODevice& out, QString* error);
// Baseline JPEG (standard Huffman tables, 4:2:0 colour), gray pages with one component.
bool encodeJpeg(const QImage& image, QIODevice& out, int quality, QString* error);

// The same JPEG coded a few rows at a time, as they become available. Rows are
// Format_Grayscale8 (gray) or Format_RGB888. After a failure every call fails.
class JpegWriter
{
public:
    explicit JpegWriter(QIODevice& out);
    ~JpegWriter();
    JpegWriter(const JpegWriter&) = delete;
    JpegWriter& operator=(const JpegWriter&) = delete;

    bool begin(int width, int height, bool gray, double dpiX, double dpiY, int quality,
               QString* error);
    // Rows first .. first + count - 1 of `rows`, the next ones of the page.
    bool writeRows(PageRows& rows, int first, int count, QString* error);
    // After the last row.
    bool finish(QString* error);

    struct State;

private:
    std::unique_ptr<State> m_state;
};

// A TIFF file receiving one page or many.
class TiffFile
{
public:
    TiffFile();
    ~TiffFile();
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    // `shownAs`: the name error texts give the file, when not `path`.
    bool open(const QString& path, QString* error, const QString& shownAs = {});
    // `multipage` marks the directory as one page of a document.
    bool writePage(const QImage& page, int compression, int jpegQuality, bool multipage,
                   QString* error);
    // The same page coded as its rows become available: beginPage, then the rows in order
    // (any number at a time; each strip is coded once its rows are in), then endPage. `kind`
    // is the page's; rowLayout() says what the rows must be in.
    bool beginPage(int width, int height, PageKind kind, double dpiX, double dpiY,
                   int compression, int jpegQuality, bool multipage, QString* error);
    QImage::Format rowLayout() const { return m_page.layout; }
    bool writeRows(PageRows& rows, int first, int count, QString* error);
    bool endPage(QString* error);
    bool close(QString* error);

    // Called by libtiff's error handler, and by the file's own procedures with the system's
    // error number when a write, seek or close of the file fails.
    void noteError(const QString& text) { m_lastError = text; }
    void noteSystemError(int errnum) { m_systemError = errnum; }
    int descriptor() const { return m_fd; }

private:
    QString failure(const QString& what) const;
    // The tags that decide how the strips of the page under way are coded, for the file and
    // for any helper encoder.
    void setCodingTags(TIFF* t) const;
    // Fills a strip buffer with the rows of strip `index`; each coding thread has its own.
    using StripFiller = std::function<qint64(std::uint32_t index, std::vector<uchar>& strip)>;
    // Codes strips first .. last - 1 on the page's coding threads and writes them in order.
    bool codeStripsInParallel(std::uint32_t first, std::uint32_t last,
                              const std::function<StripFiller()>& fillerForThread, QString* error);
    bool codePendingStrips(bool all, QString* error);
    bool writeStrip(std::uint32_t index, qint64 bytes, QString* error);

    // The page under way.
    struct Page
    {
        std::uint32_t width = 0, height = 0;
        PageKind kind = PageKind::Colour;
        QImage::Format layout = QImage::Format_RGB888;
        int compression = 1;
        int jpegQuality = 75;
        std::uint32_t rowsPerStrip = 1;
        std::uint32_t strips = 0;
        qint64 rowBytes = 0;
        std::uint32_t rowsIn = 0;        // rows given so far
        std::vector<uchar> strip;    // the rows of the strip being filled
        // LZW coded on several threads: a window of strips at a time. The rows given and not
        // yet coded wait in `pending`, from strip pendingFirst on.
        unsigned threads = 1;
        std::uint32_t window = 0;
        std::vector<uchar> pending;
        std::uint32_t pendingFirst = 0;
        std::vector<std::vector<uchar>> coded;   // a buffer per thread, kept between windows
        // A coder per thread, kept for the page: a fresh one would touch fresh memory (its
        // tables) for every window.
        std::vector<std::unique_ptr<MemoryTiff>> coders;
    } m_page;

    TIFF* m_tiff = nullptr;
    int m_fd = -1;
    QString m_path;
    QString m_lastError;
    int m_systemError = 0;
    int m_pages = 0;
};

bool isSupportedTiffCompression(int compression);

// A PDF file written object by object: each page's image goes to the file as it is encoded,
// and only the small cross-reference table stays in memory.
class PdfDocument
{
public:
    explicit PdfDocument(QIODevice& out) : m_out(out) {}

    bool start(QString* error);
    bool addPage(const QImage& page, int jpegQuality, QString* error);
    // With the recognised words laid over the image as invisible text (none: as above).
    bool addPage(const QImage& page, int jpegQuality, const TextLayer* text, QString* error);
    bool finish(QString* error);

private:
    int beginObject();
    bool write(const QByteArray& bytes);
    bool writeFailed(QString* error) const;
    bool writeStream(const QByteArray& dictionary, const QByteArray& data);
    bool writeInvisibleFont();

    QIODevice& m_out;
    QList<qint64> m_offsets;   // by object number; [0] unused
    QList<int> m_pageObjects;
    int m_invisibleFont = 0;   // written with the first page that has text
    static constexpr int kCatalog = 1;
    static constexpr int kPages = 2;
};
