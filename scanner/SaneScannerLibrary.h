#pragma once

#include "scanner/ScannerLibrary.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class MultipageWriter;

// A product name cut to fit the name buffer (terminating NUL included) without splitting
// a character.
QByteArray fitSourceName(QByteArray name);
class SourceDialogView;
struct ScanProgress;

// The scanner library over SANE. SANE is started on first use (so a test can point
// SANE_CONFIG_DIR elsewhere first) and ended when the library is destroyed. All device
// calls are made by one thread at a time: the caller's, or while a page is read with a
// window to keep painted, a worker the caller waits for.
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
    Handle LoadImageFile(const QString& path) override;
    int BeginMultipageFile(const QString& path) override;
    int AppendPage(Handle image) override;
    int EndMultipageFile() override;

    int LastErrorCode() override { return m_errorCode; }
    QString LastErrorText() override { return m_errorText; }
    void ReportLastError(const QString& text) override;

    QImage image(Handle image) const override;
    SourceOptions* sourceOptions() override { return m_options.get(); }

    // The product name of the open source (empty when none is open).
    QByteArray openSourceName() const { return m_openName; }

private:
    struct ListedDevice
    {
        QByteArray saneName;
        QByteArray productName; // "vendor model", cut to fit the name buffer
    };
    struct Transfer;

    bool ensureInit();
    bool listDevices(QList<ListedDevice>* devices);
    int openDevice(const QByteArray& saneName, const QByteArray& productName);
    void closeDevice();
    void closeDialog();

    void setError(int code, const QString& text);
    void setDeviceError(int saneStatus);
    void clearError();

    void applyPixelType();
    void applyResolution();
    void applyFeeder();

    Handle acquireHidden(QObject* parent);
    Handle acquireWithDialog(QObject* parent);
    // Reads one page (starting the device unless a start is pending) on a worker while a
    // window shows progress, or right here when there is none.
    void runTransfer(Transfer& transfer, QObject* parent, SourceDialogView* dialog);
    void readPage(Transfer& transfer);
    Handle keepPage(QImage page);
    // After a page: asks the feeder for the next one, or ends the scan.
    void afterPage();
    Handle store(QImage image);

    bool m_initialized = false;
    void* m_device = nullptr; // the open SANE handle
    QByteArray m_openName;
    std::unique_ptr<SourceOptions> m_options;
    std::unique_ptr<SourceDialogView> m_dialog;
    int m_state = StateManagerLoaded;
    bool m_started = false;   // a sane_start is pending for the next page
    int m_pagesThisRun = 0;

    QList<ListedDevice> m_list;
    int m_listPos = 0;

    bool m_hideUI = true;
    bool m_keepOpen = false;
    bool m_wantFeeder = false;
    bool m_feeder = false;    // the feeder was really chosen on the device
    int m_pixelType = 2;
    double m_resolution = 0;

    int m_jpegQuality = 75;
    int m_tiffCompression = 1;
    QString m_recognitionLanguage;

    std::map<Handle, QImage> m_images;
    Handle m_nextHandle = 1;
    std::unique_ptr<MultipageWriter> m_multipage;
    bool m_multipageFailed = false;

    int m_errorCode = NoError;
    QString m_errorText;
};
