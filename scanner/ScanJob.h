// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "output/FileNaming.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>

class QObject;
class ScannerLibrary;

// The two scan jobs of the main window, free of widgets: the window hands in what its
// controls say (read when the job needs it) and takes the pages back.

// What the settings page says. The naming inputs and the start number are read again for
// every page; the resolution text is converted only once the source is open.
struct ScanJobSettings
{
    QString sourceName;
    bool hideUi = true;
    bool useFeeder = false;
    int pixelType = 0;
    std::function<QString()> resolutionText;
    bool sequenceMode = true;
    std::function<QString()> startText;
    NamingInputs naming;
    QObject* parent = nullptr; // the window the source's dialog belongs to
};

// One page as the images pane gets it.
struct ScannedPage
{
    QString caption;    // prefix, suffix, ".", extension
    QString outputPath; // where the page file is (or was to be) written
    QString copyPath;   // the temporary bitmap copy
    QImage thumbnail;   // 100 x 75
    bool written = false;
};

// Where the pages go.
struct ScanJobPane
{
    // True while an entry of the pane shows the copy at this path.
    std::function<bool(const QString& copyPath)> copyInUse;
    std::function<void(const ScannedPage& page)> addPage;
    // Sequence mode: the start number moves on by one.
    std::function<void()> raiseCounter;
};

struct ScanJobResult
{
    int pages = 0;        // pages the scanner delivered
    QStringList failures; // pages whose file or copy could not be written, with the reason
};

// The interactive job. Reports "failureText" (the window's "Unable to scan.") once at the end
// when the library reports an error or a page could not be written. A resolution text that
// is not a number raises QuilloraError; the source is closed on that way out as on every other.
ScanJobResult runScanJob(ScannerLibrary& library, const ScanJobSettings& settings,
                         const ScanJobPane& pane, const QString& failureText);

// What a command-line scan is asked for.
struct CommandLineScan
{
    int resolution = 0;
    int mode = 0;
    bool adf = false;
    QString ext;
    QString path;
    QString fname;
    bool sourceSelected = false; // false: the source manager's default source
    QString sourceName;          // the selected (remembered) scanner
    // When set, opens the source instead (a device named on the command line); 0 failed.
    std::function<int()> open;
    bool batch = false;          // every sheet the feeder holds, not only the first
    // The exact file; with batch and a PDF or TIFF name, one file holding every sheet.
    // Never replaces an existing file. Empty: the command-line naming rule.
    QString output;
    std::function<void(const QString& path)> written; // each file as it is complete
    std::function<bool()> interrupted;                // asked between sheets
    QObject* parent = nullptr;
};

struct CommandLineScanResult
{
    enum Outcome {
        Written,       // every page asked for is in its file
        ScannerFailed, // no source, or the source failed (nothing or not all was scanned)
        FileFailed,    // a page could not be written
        Interrupted,   // stopped from outside; what was written stays
    };
    Outcome outcome = ScannerFailed;
    bool written = false; // at least one page is in its file
    QString path;         // the last file written
    int pages = 0;        // pages written
};

// The command-line scan: one page (or with batch every sheet of the feeder) to the first
// free command-line path (counter is raised past taken names) or to the output file.
CommandLineScanResult runCommandLineScan(ScannerLibrary& library, const CommandLineScan& scan,
                                         int& counter, const QString& failureText);

// The folder for temporary copies: TEMP when set, else the platform's temporary folder.
QString temporaryFolder();
// temp + suffix + ".bmp" in that folder; when an entry still uses that copy, the first
// temp + suffix + "_n.bmp" that no entry uses and no file occupies.
QString temporaryCopyPath(const QString& suffix, const std::function<bool(const QString&)>& inUse);

// The resolution list's text as dots per inch; QuilloraError when it is not a number.
double resolutionFromText(const QString& text);
