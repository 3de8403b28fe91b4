// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

#include <functional>

// Turning a page file by quarter turns, in the format its content has (whatever its name
// says, as a renamed file keeps its content), coded as it was coded: a JPEG file is turned
// without decoding where its blocks allow it, lossless formats stay lossless, a TIFF keeps its
// compression, a PDF page gets its page rotation. The resolution turns with the page.

// Quarter turns clockwise: 1 right, 2 upside down, 3 left.
QImage turnedImage(const QImage& image, int quarterTurns);

// One file being turned: prepare() writes the turned file under a temporary name beside it
// and leaves the file itself alone; commit() moves the turned file over it. A file that was
// prepared but not committed is left as it was, and the temporary file is removed.
class PageTurn
{
public:
    PageTurn() = default;
    ~PageTurn();
    PageTurn(const PageTurn&) = delete;
    PageTurn& operator=(const PageTurn&) = delete;

    // `original`, when given, hands out the page's own pixels already turned (its lossless
    // copy): where the file has to be coded anew with a lossy coding they are used instead of
    // the file's decoded ones, so turning a page again and again costs no quality. It is
    // asked only then; null or a size that does not fit the turned page is ignored.
    using Original = std::function<const QImage*()>;
    bool prepare(const QString& path, int quarterTurns, const Original& original, QString* error);
    bool commit(QString* error);

    // The turned pixels, where the file had to be decoded for turning (null otherwise).
    const QImage& image() const { return m_image; }

private:
    QString m_path;
    QString m_temporary;
    QImage m_image;
};

// The quality a JPEG stream was coded with, from its luminance quantisation table as the
// standard tables scale it (1 to 100); 0 when the stream holds no table.
int jpegQualityOf(const QByteArray& jpegStream);
