// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>

class QObject;
class SourceOptions;

// The scanner library the scan jobs, the scanner list and the multipage export talk to:
// source listing and acquisition, pages held under handles, image files. The operations
// keep the names and the calling conventions the jobs rely on (flags are 0 or 1, handles
// are 32-bit and 0 means none). The real one drives SANE through helper processes
// (SaneScannerLibrary); tests
// install fakes through setInstance() where the test scanner cannot produce a fault.
class ScannerLibrary
{
public:
    using Handle = std::uint32_t;

    // Size of the buffer NextSourceName fills, terminating NUL included.
    static constexpr int SourceNameSize = 64;

    // TWAIN states as the jobs read them.
    enum State {
        StatePreSession = 1,
        StateManagerLoaded = 2,
        StateManagerOpen = 3,
        StateSourceOpen = 4,
        StateSourceEnabled = 5,
        StateTransferReady = 6,
        StateTransferring = 7,
    };

    // LastErrorCode values. The device ones carry the scanner's own status numbers so the
    // reason text and the code always name the same thing.
    enum ErrorCode {
        NoError = 0,
        DeviceUnsupported = 1,
        DeviceCancelled = 2,
        DeviceBusy = 3,
        DeviceInvalid = 4,
        DeviceJammed = 6,
        DeviceNoDocuments = 7,
        DeviceCoverOpen = 8,
        DeviceIoError = 9,
        DeviceNoMemory = 10,
        DeviceAccessDenied = 11,
        DeviceOtherError = 99,
        SourceNotFound = 100,
        NoSourceOpen = 101,
        InvalidHandle = 102,
        BadPageData = 103,
        FileWriteFailed = 104,
        FileReadFailed = 105,
        MultipageFailed = 106,
        DialogUnavailable = 107,
        InvalidOption = 108,
        // The scanner helper program: it could not be started, it missed a deadline, or
        // it ended in the middle (crashed, was killed, spoke nonsense).
        DriverMissing = 109,
        DriverNotResponding = 110,
        DriverStopped = 111,
    };

    virtual ~ScannerLibrary() = default;

    // Source listing: 0 when the sources cannot be listed at all (an empty list is not a
    // failure: NextSourceName then returns 0 at once).
    virtual int BeginSourceList() = 0;
    // Fills buffer (SourceNameSize bytes) with the next product name, NUL-terminated.
    virtual int NextSourceName(char* buffer) = 0;
    // Sources may be listed in two parts: what answers at once (the local scanners), and
    // what answers later (network scanners, which may take long or never answer). false
    // while the later part is still coming; NextSourceName goes on with it once it is in.
    virtual bool sourceListComplete() { return true; }
    // Waits for the rest of the listing (it has a deadline of its own).
    virtual void finishSourceList() {}
    // Calls done once the rest of the listing is in, through the event loop of receiver's
    // thread (the caller's); not at all when receiver is gone by then.
    virtual void whenSourceListComplete(QObject* receiver, std::function<void()> done);
    virtual int OpenSourceByName(const char* productName) = 0;
    virtual int OpenDefaultSource() = 0;

    virtual void SetHideUI(int hide) = 0;
    virtual void SetKeepSourceOpen(int keepOpen) = 0;
    virtual void SetLibraryOptionA(int value) = 0;
    virtual void SetLibraryOptionB(int value) = 0;
    virtual void SetJpegQuality(int quality) = 0;
    virtual void SetTiffCompression(int reserved, int compressionTag) = 0;
    // PDF page files get the words recognised in this language (a Tesseract name) as
    // invisible text; empty: none. A library that cannot recognise text ignores it.
    virtual void SetTextRecognition(const QString& language) { (void)language; }
    virtual void SetUseFeeder(int useFeeder) = 0;
    virtual void SetSourceOptionA(int value) = 0;
    virtual void SetSourceOptionB(int value) = 0;
    virtual void SetSourceOptionC(int value) = 0;
    virtual void SetSourceOptionD(int value) = 0;
    // 0 black and white, 1 gray, 2 colour.
    virtual void SetPixelType(int pixelType) = 0;
    virtual void SetResolution(double dotsPerInch) = 0;

    // One page per call; 0 when none came (closed, cancelled, out of paper or failed).
    // parent is the window the source's dialog and progress belong to (may be null).
    virtual Handle AcquireImage(QObject* parent) = 0;
    virtual int ImageWidth(Handle image) = 0;
    virtual int ImageHeight(Handle image) = 0;
    virtual void ReleaseImage(Handle image) = 0;
    virtual int GetTwainState() = 0;
    virtual void EndAcquisition() = 0;

    // Format by extension; written under a temporary name and moved into place without
    // replacing an existing file. 1 on success.
    virtual int WriteImageFile(Handle image, const QString& path) = 0;
    // Same, but when path is taken at the moment of the move the next candidate name is
    // asked for; the name finally written is returned in *writtenPath.
    virtual int WriteImageFileNoClobber(Handle image, const QString& path,
                                        const std::function<QString()>& nextCandidate,
                                        QString* writtenPath) = 0;
    // One page, written to its file (as WriteImageFileNoClobber writes it) while it is
    // acquired where the library can: the page is still held under the handle afterwards.
    // 0 when no page came, as AcquireImage. A page whose file failed is held all the same:
    // *writtenPath is then empty and the error is FileWriteFailed.
    virtual Handle AcquireImageToFile(QObject* parent, const QString& path,
                                      const std::function<QString()>& nextCandidate,
                                      QString* writtenPath);
    // The same for a caller that needs the file only: the page is not held afterwards, so
    // the library may read it through a few rows at a time instead of whole. 0 when no page
    // came; 1 when one did, *writtenPath empty when its file failed (FileWriteFailed).
    virtual int AcquireFile(QObject* parent, const QString& path,
                            const std::function<QString()>& nextCandidate, QString* writtenPath);
    virtual Handle LoadImageFile(const QString& path) = 0;

    virtual int BeginMultipageFile(const QString& path) = 0;
    // Same, but the finished file never replaces one that has the name by then (a command
    // line naming its output file); a library without the distinction replaces.
    virtual int BeginNewMultipageFile(const QString& path) { return BeginMultipageFile(path); }
    virtual int AppendPage(Handle image) = 0;
    virtual int EndMultipageFile() = 0;

    virtual int LastErrorCode() = 0;
    // The reason behind the last error (the device's status text or the file error).
    virtual QString LastErrorText() = 0;
    // Tells the user of the last failure: a warning with text and the reason.
    virtual void ReportLastError(const QString& text) = 0;

    // The page held under a handle (a null image for 0 or a released handle).
    virtual QImage image(Handle image) const = 0;
    // The open source's own options, for the source dialog and for tests; null when no
    // source is open.
    virtual SourceOptions* sourceOptions() = 0;

    // The library in force: the SANE one unless another was installed.
    static ScannerLibrary& instance();
    // Installs lib (not owned); nullptr goes back to the SANE library.
    static void setInstance(ScannerLibrary* lib);
    // Closes the SANE library while the program still runs: the open device is closed and
    // the scanner helpers are told to end.
    static void shutdown();
};
