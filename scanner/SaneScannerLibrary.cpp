// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/SaneScannerLibrary.h"

#include "app/Dialogs.h"
#include "output/ImageFiles.h"
#include "scanner/AcquisitionUi.h"
#include "scanner/RemoteSourceOptions.h"
#include "scanner/ScannerHelper.h"
#include "scanner/SourceOptions.h"
#include "scanner/SourceSetup.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

using namespace ScannerProtocol;

namespace {

QString tr(const char* text) { return QCoreApplication::translate("ScannerLibrary", text); }

} // namespace

// An open device: the helper that holds it, and its options as the source dialog and the
// settings see them.
struct SaneScannerLibrary::Session
{
    std::unique_ptr<ScannerHelper> helper;
    std::unique_ptr<RemoteSourceOptions> options;
};

// One page read: what the reading thread hands back.
struct SaneScannerLibrary::Transfer
{
    ScanProgress progress;
    ScannerHelper::PageResult result;
    bool helperFailed = false;
};

// A page file asked for before its page is read: coded as the rows arrive where its format
// allows, else written whole once the page is in.
struct SaneScannerLibrary::PageFile
{
    QString path;
    std::function<QString()> nextCandidate;
    ImageWriteOptions options;
    int dotsPerMeter = 0;   // known before the page is read
    // The page is not kept: it may be read through a window of rows (see ScannerHelper).
    bool fileOnly = false;
    std::unique_ptr<StreamedPageFile> stream;
    ScannerHelper::PageLayout layout;
    int rows = 0;    // the page's rows once it ended
    QString error;   // the write that failed while the page came
};

SaneScannerLibrary::SaneScannerLibrary()
    : m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

SaneScannerLibrary::~SaneScannerLibrary()
{
    // The library in force lives until the program's very end, after the application
    // object: a dialog still open then must not be touched any more.
    if (!QCoreApplication::instance())
        (void)m_dialog.release();
    closeDevice();
    if (m_spare)
        m_spare->retire();
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

// ---- Errors ----

void SaneScannerLibrary::setError(int code, const QString& text)
{
    m_errorCode = code;
    m_errorText = text;
}

// The one place where device statuses become our codes; the text is the device's own.
void SaneScannerLibrary::setDeviceError(int status, const QString& text)
{
    int code = DeviceOtherError;
    switch (status) {
    case Unsupported: code = DeviceUnsupported; break;
    case Cancelled: code = DeviceCancelled; break;
    case ScannerProtocol::DeviceBusy: code = ScannerLibrary::DeviceBusy; break;
    case Invalid: code = DeviceInvalid; break;
    case Jammed: code = DeviceJammed; break;
    case NoDocuments: code = DeviceNoDocuments; break;
    case CoverOpen: code = DeviceCoverOpen; break;
    case IoError: code = DeviceIoError; break;
    case NoMemory: code = DeviceNoMemory; break;
    case AccessDenied: code = DeviceAccessDenied; break;
    default: break;
    }
    setError(code, text);
}

void SaneScannerLibrary::setHelperError(const ScannerHelper& helper)
{
    switch (helper.failure()) {
    case ScannerHelper::Failure::Missing: setError(DriverMissing, helper.failureText()); break;
    case ScannerHelper::Failure::NotResponding:
        setError(DriverNotResponding, helper.failureText());
        break;
    case ScannerHelper::Failure::Stopped: setError(DriverStopped, helper.failureText()); break;
    case ScannerHelper::Failure::None: break;
    }
}

void SaneScannerLibrary::clearError()
{
    m_errorCode = NoError;
    m_errorText.clear();
}

void SaneScannerLibrary::ReportLastError(const QString& text)
{
    QString message = text;
    if (!m_errorText.isEmpty())
        message += QLatin1Char('\n') + m_errorText;
    Dialogs::current().message(Dialogs::Warning, QCoreApplication::applicationName(), message);
}

// ---- Sources ----

std::unique_ptr<ScannerHelper> SaneScannerLibrary::takeHelper()
{
    std::unique_ptr<ScannerHelper> helper = std::move(m_spare);
    if (!helper || helper->failed())
        helper = ScannerHelper::start();
    return helper;
}

bool SaneScannerLibrary::listLocal()
{
    // The helper that lists stays for the next device session: no start is wasted.
    m_spare = takeHelper();
    DeviceList::Failure failure;
    if (m_devices.listLocal(*m_spare, &failure))
        return true;
    if (failure.helper)
        setHelperError(*m_spare);
    else
        setDeviceError(failure.status, failure.text);
    if (m_spare->failed())
        m_spare.reset();
    return false;
}

const DeviceList::Device* SaneScannerLibrary::known(const QByteArray& productName) const
{
    for (const DeviceList::Device& d : m_devices.devices())
        if (d.productName == productName)
            return &d;
    return nullptr;
}

int SaneScannerLibrary::BeginSourceList()
{
    clearError();
    m_listPos = 0;
    m_networkPending = false;
    if (!listLocal())
        return 0;
    // Network scanners answer in their own time, beside everything else.
    if (m_networkOnDemand)
        m_networkPending = true;
    else
        m_devices.startFull();
    return 1;
}

int SaneScannerLibrary::NextSourceName(char* buffer)
{
    if (!buffer)
        return 0;
    m_devices.pollFull();
    const QList<DeviceList::Device>& devices = m_devices.devices();
    if (m_listPos >= devices.size())
        return 0;
    const QByteArray& name = devices.at(m_listPos++).productName;
    const size_t length = std::min<size_t>(size_t(name.size()), SourceNameSize - 1);
    std::memcpy(buffer, name.constData(), length);
    buffer[length] = '\0';
    return 1;
}

bool SaneScannerLibrary::sourceListComplete()
{
    return !m_networkPending && !m_devices.fullRunning();
}

void SaneScannerLibrary::finishSourceList()
{
    if (std::exchange(m_networkPending, false))
        m_devices.startFull();
    m_devices.finishFull();
}

void SaneScannerLibrary::whenSourceListComplete(QObject* receiver, std::function<void()> done)
{
    m_devices.whenFullEnds(receiver, std::move(done));
}

int SaneScannerLibrary::OpenSourceByName(const char* productName)
{
    clearError();
    closeDevice();
    if (!m_devices.localListed() && !listLocal())
        return 0;
    const QByteArray wanted(productName ? productName : "");
    // What is known is used: a network listing is only waited for when the name is not
    // among the local devices, and it is never asked afresh once it has answered.
    m_devices.pollFull();
    if (!known(wanted) && !m_devices.fullListed()) {
        m_devices.startFull();
        m_devices.finishFull();
    }
    const DeviceList::Device* device = known(wanted);
    if (!device) {
        setError(SourceNotFound,
                 tr("The scanner \"%1\" was not found").arg(QString::fromUtf8(wanted)));
        return 0;
    }
    const QByteArray saneName = device->saneName;
    if (openDevice(saneName, wanted))
        return 1;
    // A scanner plugged in again has a new name: look once more among the local devices.
    if (m_errorCode != DeviceInvalid || !listLocal() || !(device = known(wanted))
        || device->saneName == saneName)
        return 0;
    clearError();
    return openDevice(QByteArray(device->saneName), wanted);
}

int SaneScannerLibrary::OpenDefaultSource()
{
    clearError();
    closeDevice();
    const QByteArray chosen = qgetenv("SANE_DEFAULT_DEVICE");
    if (!chosen.isEmpty())
        return OpenSourceBySaneName(chosen.constData());
    if (!m_devices.localListed() && !listLocal())
        return 0;
    if (m_devices.devices().isEmpty() && !m_devices.fullListed())
        m_devices.startFull();
    if (m_devices.devices().isEmpty())
        m_devices.finishFull();
    if (m_devices.devices().isEmpty()) {
        setError(SourceNotFound, tr("No scanner devices found"));
        return 0;
    }
    const DeviceList::Device first = m_devices.devices().first();
    return openDevice(first.saneName, first.productName);
}

int SaneScannerLibrary::OpenSourceBySaneName(const char* saneName)
{
    clearError();
    closeDevice();
    const QByteArray name(saneName ? saneName : "");
    if (!m_devices.localListed())
        listLocal(); // for the product name; a device that is not listed opens all the same
    clearError();
    for (const DeviceList::Device& d : m_devices.devices())
        if (d.saneName == name)
            return openDevice(d.saneName, d.productName);
    return openDevice(name, fitSourceName(name));
}

int SaneScannerLibrary::openDevice(const QByteArray& saneName, const QByteArray& product)
{
    const bool spare = m_spare && !m_spare->failed();
    std::unique_ptr<ScannerHelper> helper = takeHelper();
    int status = Good;
    QString text;
    auto open = [&] {
        return helper->callStatus(Message::Open, Writer().str(saneName.toStdString()), &status,
                                  &text, ScannerHelper::Deadlines::current().open);
    };
    bool answered = open();
    // A helper that waited since a listing may have been ended meanwhile (by the system,
    // short of memory): a fresh one gets its chance before the open counts as failed.
    if (!answered && spare && helper->failure() == ScannerHelper::Failure::Stopped) {
        helper = ScannerHelper::start();
        answered = open();
    }
    if (!answered) {
        setHelperError(*helper);
        return 0;
    }
    if (status != Good) {
        setDeviceError(status, text);
        helper->retire();
        return 0;
    }
    m_session = std::make_unique<Session>();
    m_session->options = std::make_unique<RemoteSourceOptions>(*helper);
    m_session->helper = std::move(helper);
    m_openName = product;
    m_state = StateSourceOpen;
    m_started = false;
    m_pagesThisRun = 0;
    m_feeder = false;
    m_cancelRequested.store(false);
    return 1;
}

SourceOptions* SaneScannerLibrary::sourceOptions()
{
    return m_session ? m_session->options.get() : nullptr;
}

void SaneScannerLibrary::closeDialog()
{
    if (m_dialog) {
        m_dialog->close();
        m_dialog.reset();
    }
}

void SaneScannerLibrary::closeDevice()
{
    closeDialog();
    if (!m_session)
        return;
    // The device is released before the next session may open it; SANE's own end then
    // runs in the helper while we go on.
    m_session->helper->callStatus(Message::Close, Writer(), nullptr, nullptr,
                                  ScannerHelper::Deadlines::current().request);
    m_session->helper->retire();
    m_session.reset();
    m_openName.clear();
    m_started = false;
    m_state = StateManagerOpen;
}

bool SaneScannerLibrary::sessionFailed()
{
    if (!m_session || !m_session->helper->failed())
        return false;
    setHelperError(*m_session->helper);
    closeDialog(); // it works on the session's options
    m_session.reset();
    m_openName.clear();
    m_started = false;
    m_state = StateManagerOpen;
    return true;
}

void SaneScannerLibrary::EndAcquisition() { closeDevice(); }

void SaneScannerLibrary::requestCancel()
{
    m_cancelRequested.store(true);
    const std::uint64_t one = 1;
    const ssize_t written = write(m_wakeFd, &one, sizeof one);
    (void)written; // a wake-up already pending is as good
}

// ---- Options ----

void SaneScannerLibrary::SetPixelType(int pixelType)
{
    m_pixelType = std::clamp(pixelType, 0, 2);
    applyPixelType();
}

void SaneScannerLibrary::applyPixelType()
{
    if (!m_session)
        return;
    QString error;
    ::applyPixelType(*m_session->options, m_pixelType, &error);
    if (!sessionFailed() && !error.isEmpty())
        setError(InvalidOption, error);
}

void SaneScannerLibrary::SetResolution(double dotsPerInch)
{
    m_resolution = dotsPerInch;
    applyResolution();
}

void SaneScannerLibrary::applyResolution()
{
    if (!m_session)
        return;
    QString error;
    ::applyResolution(*m_session->options, m_resolution, &error);
    if (!sessionFailed() && !error.isEmpty())
        setError(InvalidOption, error);
}

void SaneScannerLibrary::SetUseFeeder(int useFeeder)
{
    m_wantFeeder = useFeeder != 0;
    applyFeeder();
}

void SaneScannerLibrary::applyFeeder()
{
    m_feeder = false;
    if (!m_session)
        return;
    QString error;
    m_feeder = ::applyFeeder(*m_session->options, m_wantFeeder, &error);
    if (!sessionFailed() && !error.isEmpty())
        setError(InvalidOption, error);
}

void SaneScannerLibrary::SetJpegQuality(int quality)
{
    m_jpegQuality = std::clamp(quality, 1, 100);
}

void SaneScannerLibrary::SetTiffCompression(int, int compressionTag)
{
    m_tiffCompression = compressionTag;
}

// ---- Acquisition ----

void SaneScannerLibrary::readPage(Transfer& t)
{
    ScannerHelper::PageEvents events;
    events.began = [this](const ScannerHelper::PageLayout& layout) {
        if (m_pageFile)
            startPageFile(layout);
    };
    events.rowsArrived = [&t, this](const uchar* rows, int complete, int permille) {
        t.progress.permille.store(permille);
        if (m_pageFile)
            feedPageFile(rows, complete);
    };
    const auto cancelled = [&t, this] {
        return t.progress.cancelRequested.load() || m_cancelRequested.load();
    };
    const bool window = m_pageFile && m_pageFile->fileOnly && m_pageFile->dotsPerMeter > 0
                     && StreamedPageFile::streams(m_pageFile->path, m_pageFile->options);
    t.helperFailed = !m_session->helper->readPage(&t.result, events, cancelled, m_wakeFd,
                                                  window ? m_pageWindowBytes : 0);
}

void SaneScannerLibrary::runTransfer(Transfer& t, QObject* parent, SourceDialogView* dialog)
{
    const int stateBefore = m_state;
    m_state = StateTransferring;
    std::unique_ptr<ProgressView> progressView;
    if (dialog)
        dialog->beginProgress(t.progress);
    else if (AcquisitionUi* ui = AcquisitionUi::current())
        progressView = ui->showProgress(t.progress, parent);

    if ((dialog || progressView) && QCoreApplication::instance()) {
        // The window stays painted and can cancel while the worker waits for the page.
        QEventLoop loop;
        std::thread worker([this, &t, &loop] {
            readPage(t);
            QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        loop.exec();
        worker.join();
    } else {
        readPage(t);
    }
    if (dialog)
        dialog->endProgress();
    progressView.reset();
    m_state = stateBefore;
}

bool SaneScannerLibrary::stopPage()
{
    if (!m_session->helper->callStatus(Message::Cancel, Writer(), nullptr, nullptr,
                                       ScannerHelper::Deadlines::current().request)) {
        sessionFailed();
        return false;
    }
    return true;
}

QImage::Format SaneScannerLibrary::keptFormat(QImage::Format format) const
{
    // With the dialog shown the user's choice of mode there is the one that counts.
    if (m_hideUI && m_pixelType == 0 && format != QImage::Format_Mono)
        return QImage::Format_Mono;
    if (m_hideUI && m_pixelType == 1 && format == QImage::Format_RGB888)
        return QImage::Format_Grayscale8;
    return format;
}

QImage SaneScannerLibrary::keptRows(QImage rows) const
{
    const QImage::Format format = keptFormat(rows.format());
    if (format == rows.format())
        return rows;
    if (format == QImage::Format_Mono)
        return rows.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither | Qt::MonoOnly);
    return rows.convertToFormat(format);
}

int SaneScannerLibrary::pageDotsPerMeter() const
{
    // The device may have rounded the resolution: record what it really used.
    double dpi = m_resolution;
    if (m_session) {
        const QVariant used =
            m_session->options->value(QString::fromLatin1(ScanOption::resolution));
        if (used.isValid() && used.toDouble() > 0)
            dpi = used.toDouble();
    }
    return dpi > 0 ? int(std::lround(dpi / 0.0254)) : 0;
}

SaneScannerLibrary::Handle SaneScannerLibrary::keepPage(QImage page)
{
    page = keptRows(std::move(page));
    if (const int dpm = pageDotsPerMeter(); dpm > 0) {
        page.setDotsPerMeterX(dpm);
        page.setDotsPerMeterY(dpm);
    }
    return store(std::move(page));
}

void SaneScannerLibrary::afterPage()
{
    ++m_pagesThisRun;
    m_started = false;
    if (sessionFailed())
        return;
    if (m_feeder) {
        // Ask the feeder for the next sheet now, so the job knows whether one follows.
        int status = Good;
        QString text;
        if (!m_session->helper->callStatus(Message::Start, Writer(), &status, &text,
                                           ScannerHelper::Deadlines::current().pageStart)) {
            sessionFailed();
            return;
        }
        if (status == Good) {
            m_started = true;
            m_state = StateTransferReady;
            return;
        }
        const bool stopped = stopPage(); // a driver that fails here keeps the start's reason
        if (status != NoDocuments && status != Cancelled)
            setDeviceError(status, text);
        if (!stopped)
            return;
    } else if (!stopPage()) {
        return;
    }
    if (!m_hideUI && m_keepOpen && m_dialog) {
        m_state = StateSourceEnabled;
    } else {
        closeDialog();
        m_state = StateSourceOpen;
    }
}

SaneScannerLibrary::Handle SaneScannerLibrary::AcquireImage(QObject* parent)
{
    if (!m_session) {
        setError(NoSourceOpen, tr("No scanner is open"));
        return 0;
    }
    return m_hideUI ? acquireHidden(parent) : acquireWithDialog(parent);
}

SaneScannerLibrary::PageOutcome SaneScannerLibrary::transferPage(QObject* parent,
                                                                 SourceDialogView* dialog,
                                                                 Handle* handle,
                                                                 ScannerHelper::PageResult* ended)
{
    Transfer t;
    m_started = false;
    if (m_pageFile)
        m_pageFile->dotsPerMeter = pageDotsPerMeter(); // the dialog may have changed it
    runTransfer(t, parent, dialog);
    if (t.helperFailed) {
        sessionFailed();
        return PageOutcome::HelperFailed;
    }
    if (t.result.status == Good) {
        if (m_pageFile)
            m_pageFile->rows = t.result.rows;
        // A page read through a window is in its file, not here: an empty image stands in.
        *handle = t.result.page.isNull() ? store(QImage()) : keepPage(std::move(t.result.page));
        afterPage();
        return PageOutcome::Kept;
    }
    if (!stopPage()) {
        // A driver that hangs while it stops after a jam or an open cover: what the user
        // has to clear is the page's own reason, not the driver's end that followed it.
        setPageError(t.result);
        return PageOutcome::HelperFailed;
    }
    *ended = std::move(t.result);
    return PageOutcome::Ended;
}

void SaneScannerLibrary::setPageError(const ScannerHelper::PageResult& ended)
{
    if (ended.status == BadPageData)
        setError(BadPageData, ended.text);
    // Cancelling, and an empty feeder after at least one page, are normal ends.
    else if (ended.status != Cancelled && !(ended.status == NoDocuments && m_pagesThisRun > 0))
        setDeviceError(ended.status, ended.text);
}

SaneScannerLibrary::Handle SaneScannerLibrary::acquireHidden(QObject* parent)
{
    Handle handle = 0;
    ScannerHelper::PageResult ended;
    if (transferPage(parent, nullptr, &handle, &ended) != PageOutcome::Ended)
        return handle;
    m_state = StateSourceOpen;
    setPageError(ended);
    return 0;
}

SaneScannerLibrary::Handle SaneScannerLibrary::acquireWithDialog(QObject* parent)
{
    if (!m_dialog) {
        AcquisitionUi* ui = AcquisitionUi::current();
        if (ui)
            m_dialog =
                ui->createSourceDialog(*m_session->options, QString::fromUtf8(m_openName), parent);
        if (!m_dialog) {
            setError(DialogUnavailable, tr("The scanner's dialog cannot be shown here"));
            return 0;
        }
    }
    for (;;) {
        if (!m_started) {
            m_state = StateSourceEnabled;
            const bool scan = m_dialog->waitForScan();
            if (sessionFailed()) // the helper failed while the user set options
                return 0;
            if (!scan) {
                closeDialog();
                m_state = StateSourceOpen;
                return 0;
            }
            // The options may have changed in the dialog: the feeder choice with them.
            const QVariant source =
                m_session->options->value(QString::fromLatin1(ScanOption::source));
            if (source.isValid())
                m_feeder = namesFeeder(source.toString());
        }
        Handle handle = 0;
        ScannerHelper::PageResult ended;
        if (transferPage(parent, m_dialog.get(), &handle, &ended) != PageOutcome::Ended)
            return handle;
        if (ended.status == Cancelled) {
            // The user stopped this page; the dialog stays for another try.
            m_dialog->showStatus(tr("Scanning cancelled"));
            continue;
        }
        setPageError(ended);
        closeDialog();
        m_state = StateSourceOpen;
        return 0;
    }
}

// ---- Images ----

SaneScannerLibrary::Handle SaneScannerLibrary::store(QImage image)
{
    while (m_nextHandle == 0 || m_images.count(m_nextHandle))
        ++m_nextHandle;
    const Handle handle = m_nextHandle++;
    m_images.emplace(handle, std::move(image));
    return handle;
}

QImage SaneScannerLibrary::image(Handle handle) const
{
    const auto it = m_images.find(handle);
    return it == m_images.end() ? QImage() : it->second;
}

int SaneScannerLibrary::ImageWidth(Handle handle)
{
    const auto it = m_images.find(handle);
    if (it == m_images.end()) {
        setError(InvalidHandle, tr("No image is held under that handle"));
        return 0;
    }
    return it->second.width();
}

int SaneScannerLibrary::ImageHeight(Handle handle)
{
    const auto it = m_images.find(handle);
    if (it == m_images.end()) {
        setError(InvalidHandle, tr("No image is held under that handle"));
        return 0;
    }
    return it->second.height();
}

void SaneScannerLibrary::ReleaseImage(Handle handle) { m_images.erase(handle); }

// ---- Files ----

namespace {
ImageWriteOptions writeOptions(int jpegQuality, int tiffCompression,
                               const QString& recognitionLanguage = {})
{
    ImageWriteOptions options;
    options.jpegQuality = jpegQuality;
    options.tiffCompression = tiffCompression;
    options.recognitionLanguage = recognitionLanguage;
    return options;
}
} // namespace

int SaneScannerLibrary::WriteImageFile(Handle handle, const QString& path)
{
    return WriteImageFileNoClobber(handle, path, {}, nullptr);
}

int SaneScannerLibrary::WriteImageFileNoClobber(Handle handle, const QString& path,
                                                const std::function<QString()>& nextCandidate,
                                                QString* writtenPath)
{
    const auto it = m_images.find(handle);
    if (it == m_images.end()) {
        setError(InvalidHandle, tr("No image is held under that handle"));
        return 0;
    }
    QString error;
    // Page files only: the temporary copies are bitmaps, and the export recognises for itself.
    const ImageWriteOptions options = writeOptions(m_jpegQuality, m_tiffCompression, m_recognitionLanguage);
    const bool ok = nextCandidate
        ? writeImageFileNoClobber(it->second, path, options, nextCandidate, writtenPath, &error)
        : writeImageFile(it->second, path, options, &error);
    if (!ok) {
        setError(FileWriteFailed, error);
        return 0;
    }
    if (!nextCandidate && writtenPath)
        *writtenPath = path;
    return 1;
}

SaneScannerLibrary::Handle SaneScannerLibrary::AcquireImageToFile(
    QObject* parent, const QString& path, const std::function<QString()>& nextCandidate,
    QString* writtenPath)
{
    return acquireToFile(parent, path, nextCandidate, writtenPath, false);
}

int SaneScannerLibrary::AcquireFile(QObject* parent, const QString& path,
                                    const std::function<QString()>& nextCandidate,
                                    QString* writtenPath)
{
    const Handle image = acquireToFile(parent, path, nextCandidate, writtenPath, true);
    if (image == 0)
        return 0;
    ReleaseImage(image);
    return 1;
}

SaneScannerLibrary::Handle SaneScannerLibrary::acquireToFile(
    QObject* parent, const QString& path, const std::function<QString()>& nextCandidate,
    QString* writtenPath, bool fileOnly)
{
    writtenPath->clear();
    m_pageFile = std::make_unique<PageFile>();
    m_pageFile->path = path;
    m_pageFile->fileOnly = fileOnly;
    m_pageFile->nextCandidate = nextCandidate;
    m_pageFile->options = writeOptions(m_jpegQuality, m_tiffCompression, m_recognitionLanguage);
    const Handle handle = AcquireImage(parent);
    if (handle != 0 && !finishPageFile(handle, writtenPath))
        writtenPath->clear();
    m_pageFile.reset(); // a file begun for a page that did not come goes with it
    return handle;
}

namespace {
QImage::Format imageFormat(PageFormat format)
{
    return format == PageFormat::Mono    ? QImage::Format_Mono
         : format == PageFormat::Gray8 ? QImage::Format_Grayscale8
                                       : QImage::Format_RGB888;
}
} // namespace

void SaneScannerLibrary::startPageFile(const ScannerHelper::PageLayout& layout)
{
    PageFile& f = *m_pageFile;
    f.stream.reset(); // a page tried again starts its file afresh
    f.error.clear();
    f.layout = layout;
    // A page of unknown length, or of unknown resolution, is written whole once it is in.
    if (layout.expectedRows <= 0 || f.dotsPerMeter <= 0)
        return;
    QString error;
    f.stream = StreamedPageFile::begin(f.path, keptFormat(imageFormat(layout.format)),
                                       layout.width, layout.expectedRows, f.dotsPerMeter,
                                       f.dotsPerMeter, f.options, bool(f.nextCandidate), &error);
    // Through a window the page is never whole here: without its file it is lost, and the
    // error says why.
    if (!f.stream && layout.windowRows != 0)
        f.error = error.isEmpty() ? tr("The page could not be written to %1").arg(f.path) : error;
}

void SaneScannerLibrary::feedPageFile(const uchar* rows, int complete)
{
    PageFile& f = *m_pageFile;
    if (!f.stream || !f.error.isEmpty())
        return;
    const int upTo = std::min(complete, f.stream->height());
    const int window = f.layout.windowRows;
    // The rows that came since, seen in place in the shared memory: through a window, in
    // runs up to its end, where the rows start again at its top.
    for (int done = f.stream->rowsDone(); done < upTo && f.error.isEmpty();
         done = f.stream->rowsDone()) {
        const int slot = window ? done % window : done;
        const int count = window ? std::min(upTo - done, window - slot) : upTo - done;
        QImage arrived(rows + qint64(slot) * f.layout.stride, f.layout.width, count,
                       f.layout.stride, imageFormat(f.layout.format));
        ScannerHelper::giveScannerColours(arrived);
        f.stream->addRows(keptRows(std::move(arrived)), &f.error);
    }
}

bool SaneScannerLibrary::finishPageFile(Handle handle, QString* writtenPath)
{
    PageFile& f = *m_pageFile;
    const QImage& page = m_images.at(handle);
    QString error = f.error;
    bool ok = false;
    if (f.layout.windowRows != 0) {
        // Read through a window: every row the page has went to the file as it came. Rows a
        // scanner announced and did not send are left white, as the page it scanned is.
        if (error.isEmpty() && !f.stream)
            error = tr("The page could not be written to %1").arg(f.path);
        if (error.isEmpty() && f.stream->rowsDone() < f.stream->height()) {
            QImage white(f.layout.width, f.stream->height() - f.stream->rowsDone(), f.stream->format());
            ScannerHelper::giveScannerColours(white);
            white.fill(Qt::white);
            f.stream->addRows(white, &error);
        }
        ok = error.isEmpty() && f.stream->finish(f.nextCandidate, writtenPath, &error);
    } else if (!error.isEmpty()) {
        // The write failed while the page came; the page is kept all the same.
    } else if (f.stream && page.height() == f.stream->height() && page.format() == f.stream->format()
               && page.width() == f.layout.width) {
        // The rows that came after the last progress, then the file is complete.
        const int done = f.stream->rowsDone();
        QImage rest(page.constScanLine(done), page.width(), page.height() - done,
                    page.bytesPerLine(), page.format());
        rest.setColorTable(page.colorTable());
        ok = (done == page.height() || f.stream->addRows(rest, &error))
             && f.stream->finish(f.nextCandidate, writtenPath, &error);
    } else {
        // Not coded as it came (its format, or a length other than announced): whole now.
        f.stream.reset();
        return WriteImageFileNoClobber(handle, f.path, f.nextCandidate, writtenPath) != 0;
    }
    f.stream.reset();
    if (!ok)
        setError(FileWriteFailed, error);
    return ok;
}

SaneScannerLibrary::Handle SaneScannerLibrary::LoadImageFile(const QString& path)
{
    QString error;
    QImage loaded = loadImageFile(path, &error);
    if (loaded.isNull()) {
        setError(FileReadFailed, error);
        return 0;
    }
    return store(std::move(loaded));
}

int SaneScannerLibrary::BeginMultipageFile(const QString& path)
{
    return beginMultipage(path, true);
}

int SaneScannerLibrary::BeginNewMultipageFile(const QString& path)
{
    return beginMultipage(path, false);
}

int SaneScannerLibrary::beginMultipage(const QString& path, bool replaceExisting)
{
    clearError();
    m_multipage.reset(); // an unfinished earlier file is dropped, not half-kept
    m_multipageFailed = false;
    QString error;
    ImageWriteOptions options = writeOptions(m_jpegQuality, m_tiffCompression);
    options.replaceExisting = replaceExisting;
    m_multipage = MultipageWriter::begin(path, options, &error);
    if (!m_multipage) {
        setError(MultipageFailed, error);
        return 0;
    }
    return 1;
}

int SaneScannerLibrary::AppendPage(Handle handle)
{
    if (!m_multipage) {
        setError(MultipageFailed, tr("No multipage file is being written"));
        return 0;
    }
    const auto it = m_images.find(handle);
    if (it == m_images.end()) {
        // A missing page spoils the document: it will not be completed.
        m_multipageFailed = true;
        setError(InvalidHandle, tr("No image is held under that handle"));
        return 0;
    }
    QString error;
    if (!m_multipage->appendPage(it->second, &error)) {
        m_multipageFailed = true;
        setError(MultipageFailed, error);
        return 0;
    }
    return 1;
}

int SaneScannerLibrary::EndMultipageFile()
{
    std::unique_ptr<MultipageWriter> writer = std::move(m_multipage);
    if (!writer) {
        setError(MultipageFailed, tr("No multipage file is being written"));
        return 0;
    }
    if (m_multipageFailed)
        return 0; // the writer's destructor removes the partial file; the error stays set
    QString error;
    if (!writer->finish(&error)) {
        setError(MultipageFailed, error);
        return 0;
    }
    return 1;
}
