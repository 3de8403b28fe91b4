// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "scanner/DeviceList.h"
#include "scanner/ScannerHelper.h"
#include "scanner/ScannerLibrary.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

class MultipageWriter;
class RemoteSourceOptions;
class SourceDialogView;
struct ScanProgress;

// The scanner library over SANE. SANE itself runs in helper processes (quillora-scanner),
// never in ours: one lists the local devices, one the network ones beside it, and each
// opened device gets a fresh helper of its own, so nothing a driver leaves behind outlives
// its session. A helper that misses a deadline or dies is killed; the operation fails with
// DriverNotResponding or DriverStopped and the next one starts afresh. Pages already taken
// live in memory of our own (the helper's memfd, mapped here) and stay valid.
//
// Calls come from one thread (the one that made the library; helpers are started there);
// while a page is read with a window to keep painted, a worker the caller waits for talks
// to the helper.
class SaneScannerLibrary : public ScannerLibrary
{
public:
    SaneScannerLibrary();
    ~SaneScannerLibrary() override;

    int BeginSourceList() override;
    int NextSourceName(char* buffer) override;
    int OpenSourceByName(const char* productName) override;
    int OpenDefaultSource() override;

    void SetHideUI(int hide) override { m_hideUI = hide != 0; }
    void SetKeepSourceOpen(int keepOpen) override { m_keepOpen = keepOpen != 0; }
    // Options a TWAIN library needed; nothing here depends on them.
    void SetLibraryOptionA(int) override {}
    void SetLibraryOptionB(int) override {}
    void SetSourceOptionA(int) override {}
    void SetSourceOptionB(int) override {}
    void SetSourceOptionC(int) override {}
    void SetSourceOptionD(int) override {}
    void SetJpegQuality(int quality) override;
    void SetTiffCompression(int reserved, int compressionTag) override;
    void SetTextRecognition(const QString& language) override { m_recognitionLanguage = language; }
    void SetUseFeeder(int useFeeder) override;
    void SetPixelType(int pixelType) override;
    void SetResolution(double dotsPerInch) override;

    Handle AcquireImage(QObject* parent) override;
    int ImageWidth(Handle image) override;
    int ImageHeight(Handle image) override;
    void ReleaseImage(Handle image) override;
    int GetTwainState() override { return m_state; }
    void EndAcquisition() override;

    int WriteImageFile(Handle image, const QString& path) override;
    int WriteImageFileNoClobber(Handle image, const QString& path,
                                const std::function<QString()>& nextCandidate,
                                QString* writtenPath) override;
    Handle AcquireImageToFile(QObject* parent, const QString& path,
                              const std::function<QString()>& nextCandidate,
                              QString* writtenPath) override;
    int AcquireFile(QObject* parent, const QString& path,
                    const std::function<QString()>& nextCandidate, QString* writtenPath) override;
    Handle LoadImageFile(const QString& path) override;
    int BeginMultipageFile(const QString& path) override;
    int BeginNewMultipageFile(const QString& path) override;
    int AppendPage(Handle image) override;
    int EndMultipageFile() override;

    int LastErrorCode() override { return m_errorCode; }
    QString LastErrorText() override { return m_errorText; }
    void ReportLastError(const QString& text) override;

    QImage image(Handle image) const override;
    SourceOptions* sourceOptions() override;

    bool sourceListComplete() override;
    void finishSourceList() override;
    void whenSourceListComplete(QObject* receiver, std::function<void()> done) override;

    // ---- Beyond the library interface, for the command line ----

    // The product name of the open source (empty when none is open).
    QByteArray openSourceName() const { return m_openName; }
    // Every device known now, with SANE's name and the product name: the local ones once
    // listed, the network ones once the full listing ended (finishSourceList waits for it).
    QList<DeviceList::Device> devices() const { return m_devices.devices(); }
    // Opens a device by SANE's own name ("test:0"), listed or not.
    int OpenSourceBySaneName(const char* saneName);
    // Asks a page being read to stop. Async-signal-safe: a SIGINT handler may call it.
    // The request holds until the next device is opened.
    void requestCancel();
    // A helper started ahead (say at the top of main, while the rest starts up) serves the
    // next listing or device session.
    void adoptHelper(std::unique_ptr<ScannerHelper> helper) { m_spare = std::move(helper); }
    // The network's scanners are listed only when finishSourceList asks for them, not
    // beside every listing: a command-line scan from a local scanner then neither waits for
    // the network nor shares the machine with a second helper while its page comes.
    void listNetworkOnDemand() { m_networkOnDemand = true; }
    // The size of the window of rows AcquireFile reads a page through (tests make it small).
    void setPageWindowBytes(int bytes) { m_pageWindowBytes = bytes; }

private:
    struct Session;
    struct Transfer;
    struct PageFile;

    bool listLocal();
    const DeviceList::Device* known(const QByteArray& productName) const;
    int openDevice(const QByteArray& saneName, const QByteArray& productName);
    std::unique_ptr<ScannerHelper> takeHelper();
    void closeDevice();
    void closeDialog();
    // The session's helper failed: the device is gone with it.
    bool sessionFailed();

    void setError(int code, const QString& text);
    void setDeviceError(int status, const QString& text);
    void setHelperError(const ScannerHelper& helper);
    void clearError();

    void applyPixelType();
    void applyResolution();
    void applyFeeder();

    enum class PageOutcome { Kept, HelperFailed, Ended };
    // Reads a page and keeps it (*handle), or ends it (*ended holds how) and stops the device.
    PageOutcome transferPage(QObject* parent, SourceDialogView* dialog, Handle* handle,
                             ScannerHelper::PageResult* ended);
    void setPageError(const ScannerHelper::PageResult& ended);
    Handle acquireHidden(QObject* parent);
    Handle acquireWithDialog(QObject* parent);
    // Reads one page on a worker while a window shows progress, or right here when there
    // is none.
    void runTransfer(Transfer& transfer, QObject* parent, SourceDialogView* dialog);
    void readPage(Transfer& transfer);
    // Ends a page that failed, was cancelled or is done; false when the helper failed.
    bool stopPage();
    Handle keepPage(QImage page);
    // What keepPage makes of rows that arrive in `format`: the mode asked for, and the
    // resolution the device really used (0: unknown).
    QImage::Format keptFormat(QImage::Format format) const;
    QImage keptRows(QImage rows) const;
    int pageDotsPerMeter() const;
    // The page file of AcquireImageToFile, coded on the reading thread as rows arrive.
    Handle acquireToFile(QObject* parent, const QString& path,
                         const std::function<QString()>& nextCandidate, QString* writtenPath,
                         bool fileOnly);
    void startPageFile(const ScannerHelper::PageLayout& layout);
    void feedPageFile(const uchar* rows, int complete);
    bool finishPageFile(Handle handle, QString* writtenPath);
    // After a page: asks the feeder for the next one, or ends the scan.
    void afterPage();
    Handle store(QImage image);
    int beginMultipage(const QString& path, bool replaceExisting);

    DeviceList m_devices;
    int m_listPos = 0; // where NextSourceName is in the known devices
    // A helper started (for a listing) and not yet given a device: the next session's.
    std::unique_ptr<ScannerHelper> m_spare;
    bool m_networkOnDemand = false;
    bool m_networkPending = false; // listed on demand, not asked for yet
    std::unique_ptr<Session> m_session;
    QByteArray m_openName;
    std::unique_ptr<SourceDialogView> m_dialog;
    int m_state = StateManagerOpen;
    bool m_started = false; // a page start is pending for the next page
    int m_pagesThisRun = 0;

    // A cancel asked from a signal handler: a flag, and a descriptor that wakes the wait.
    std::atomic<bool> m_cancelRequested{false};
    int m_wakeFd = -1;

    bool m_hideUI = true;
    bool m_keepOpen = false;
    bool m_wantFeeder = false;
    bool m_feeder = false; // the feeder was really chosen on the device
    int m_pixelType = 2;
    double m_resolution = 0;

    int m_jpegQuality = 75;
    // Until a job hands it another: LZW, lossless and read everywhere, and for most scans
    // much smaller than no compression.
    int m_tiffCompression = 5;
    QString m_recognitionLanguage;

    std::map<Handle, QImage> m_images;
    Handle m_nextHandle = 1;
    std::unique_ptr<PageFile> m_pageFile; // while AcquireImageToFile reads a page
    int m_pageWindowBytes = 2 << 20;      // AcquireFile's window of rows
    std::unique_ptr<MultipageWriter> m_multipage;
    bool m_multipageFailed = false;

    int m_errorCode = NoError;
    QString m_errorText;
};
