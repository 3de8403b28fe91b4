// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>

#include <gtest/gtest.h>

#include <functional>

typedef struct tiff TIFF;

// Pages and file probes shared by the encoder and multipage tests.

// A colour page: gradients plus a solid black block in the top-left quarter and a pure red
// block at the top right, so a swapped channel, a flipped row order or a lost block shows.
QImage colourPage(int width, int height, int dpi);
QImage grayPage(int width, int height, int dpi);
QImage bilevelPage(int width, int height, int dpi);
// Random pixels: compresses badly, to fill a small disk.
QImage noisyPage(int width, int height, int dpi);

// What a real reader finds in a written file.
struct FileProbe
{
    bool ok = false;
    QString failure;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;      // as stored: 1, 8 or 24
    double dpiX = 0, dpiY = 0; // 0 where the format has no resolution
    int pages = 0;
    int tiffCompression = 0;
    double pageWidthPt = 0, pageHeightPt = 0;   // PDF, first page
};
FileProbe probeFile(const QString& path);
// The first page's pixels as a reader sees them: libtiff for TIFF, Qt for the rest.
QImage decodeFile(const QString& path);

// Whether the first JPEG stream in `bytes` (a JPEG file, or a PDF holding one) quantizes its
// luminance as libjpeg does at `quality`.
bool jpegHasQuality(const QByteArray& bytes, int quality);

// Calls `page` with libtiff's handle on every page (directory) of a TIFF file in turn;
// false when the file cannot be opened.
bool forEachTiffPage(const QString& path, const std::function<void(TIFF*)>& page);
// The Compression tag of every page of a TIFF file, as libtiff reads it.
QList<int> tiffCompressions(const QString& path);

// Runs a command-line reader (pdfinfo, pdfimages, tiffinfo); its standard output.
QString runTool(const QString& program, const QStringList& arguments, int* exitCode = nullptr);

// The size of every page of a PDF file in points, as pdfinfo reads them.
QList<QSizeF> pdfPageSizes(const QString& path);

// Creates (or replaces) a small file holding `bytes`.
void writeBytes(const QString& path, const QByteArray& bytes);

// Every entry of a folder, hidden ones included (temporary files must not stay behind).
QStringList folderEntries(const QString& folder);

// Ends a test that needs what the machine cannot give (a FailingFolder that is not active):
// skipped on a developer's machine, failed under CI (the variable CI set), so that a gate can
// never pass such a test unseen.
#define SKIP_OR_FAIL_UNDER_CI(reason)                                                        \
    do {                                                                                     \
        if (!qEnvironmentVariableIsEmpty("CI"))                                              \
            FAIL() << "cannot run here, and CI is set: " << (reason).toStdString();         \
        GTEST_SKIP() << (reason).toStdString();                                              \
    } while (false)

// A folder that refuses writes for the rest of the test process. Unprivileged, the mode
// bits do it; root ignores those, so root gets a private mount namespace with a read-only
// bind mount. `full` instead mounts a tiny file system there (a full disk). false when the
// machine allows neither (see SKIP_OR_FAIL_UNDER_CI).
class FailingFolder
{
public:
    enum Kind { ReadOnly, Full };
    FailingFolder(const QString& folder, Kind kind);
    ~FailingFolder();
    bool active() const { return m_active; }
    QString reason() const { return m_reason; }

private:
    QString m_folder;
    bool m_active = false;
    bool m_mounted = false;
    QString m_reason;
};
