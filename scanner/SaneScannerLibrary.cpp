#include "scanner/SaneScannerLibrary.h"

#include "app/Dialogs.h"
#include "output/ImageFiles.h"
#include "scanner/AcquisitionUi.h"
#include "scanner/PageAssembler.h"
#include "scanner/SourceOptions.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace {

SANE_Handle handleOf(void* device) { return static_cast<SANE_Handle>(device); }

QString tr(const char* text) { return QCoreApplication::translate("ScannerLibrary", text); }

// "vendor model", cut to fit the caller's name buffer.
QByteArray productName(const SANE_Device* device)
{
    return fitSourceName(QByteArray(device->vendor ? device->vendor : "") + ' '
                         + QByteArray(device->model ? device->model : ""));
}

QString unitText(SANE_Unit unit)
{
    switch (unit) {
    case SANE_UNIT_PIXEL: return QStringLiteral("px");
    case SANE_UNIT_BIT: return QStringLiteral("bit");
    case SANE_UNIT_MM: return QStringLiteral("mm");
    case SANE_UNIT_DPI: return QStringLiteral("dpi");
    case SANE_UNIT_PERCENT: return QStringLiteral("%");
    case SANE_UNIT_MICROSECOND: return QStringLiteral("µs");
    default: return {};
    }
}

} // namespace

QByteArray fitSourceName(QByteArray name)
{
    const int limit = ScannerLibrary::SourceNameSize - 1;
    if (name.size() > limit) {
        int cut = limit;
        // Step back over UTF-8 continuation bytes to the start of the cut character.
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        name.truncate(cut);
    }
    return name;
}

// The options of an open SANE device in the terms of SourceOptions.
class SaneSourceOptions : public SourceOptions
{
public:
    explicit SaneSourceOptions(SANE_Handle handle) : m_handle(handle) {}

    QList<SourceOption> options() override
    {
        QList<SourceOption> result;
        SANE_Int count = 0;
        if (sane_control_option(m_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr)
            != SANE_STATUS_GOOD)
            return result;
        for (int i = 1; i < count; ++i) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(m_handle, i);
            if (!d)
                continue;
            SourceOption o;
            o.index = i;
            o.name = QString::fromUtf8(d->name ? d->name : "");
            o.title = QString::fromUtf8(d->title ? d->title : "");
            o.description = QString::fromUtf8(d->desc ? d->desc : "");
            o.unit = unitText(d->unit);
            o.active = SANE_OPTION_IS_ACTIVE(d->cap);
            o.settable = SANE_OPTION_IS_SETTABLE(d->cap);
            switch (d->type) {
            case SANE_TYPE_BOOL: o.type = SourceOption::Bool; break;
            case SANE_TYPE_INT: o.type = SourceOption::Int; break;
            case SANE_TYPE_FIXED: o.type = SourceOption::Fixed; break;
            case SANE_TYPE_STRING: o.type = SourceOption::String; break;
            case SANE_TYPE_BUTTON: o.type = SourceOption::Button; break;
            default: o.type = SourceOption::Group; break;
            }
            if (o.type == SourceOption::Int || o.type == SourceOption::Fixed)
                o.size = std::max<int>(1, d->size / int(sizeof(SANE_Word)));
            const bool fixed = d->type == SANE_TYPE_FIXED;
            auto number = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : double(w); };
            if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
                o.constraint = SourceOption::Range;
                o.minimum = number(d->constraint.range->min);
                o.maximum = number(d->constraint.range->max);
                o.quantum = number(d->constraint.range->quant);
            } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
                o.constraint = SourceOption::WordList;
                for (int k = 1; k <= d->constraint.word_list[0]; ++k)
                    o.words.append(number(d->constraint.word_list[k]));
            } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST
                       && d->constraint.string_list) {
                o.constraint = SourceOption::StringList;
                for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s)
                    o.strings.append(QString::fromUtf8(*s));
            }
            result.append(o);
        }
        return result;
    }

    QVariant value(int index) override
    {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(m_handle, index);
        if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || d->type == SANE_TYPE_BUTTON
            || d->type == SANE_TYPE_GROUP || d->size <= 0)
            return {};
        std::vector<char> buffer(size_t(std::max<int>(d->size, sizeof(SANE_Word))) + 1, 0);
        if (sane_control_option(m_handle, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr)
            != SANE_STATUS_GOOD)
            return {};
        SANE_Word w;
        std::memcpy(&w, buffer.data(), sizeof w);
        switch (d->type) {
        case SANE_TYPE_BOOL: return QVariant(w != SANE_FALSE);
        case SANE_TYPE_INT: return QVariant(int(w));
        case SANE_TYPE_FIXED: return QVariant(SANE_UNFIX(w));
        case SANE_TYPE_STRING: return QVariant(QString::fromUtf8(buffer.data()));
        default: return {};
        }
    }

    bool setValue(int index, const QVariant& value, bool* reload, QString* error) override
    {
        if (reload)
            *reload = false;
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(m_handle, index);
        if (!d) {
            if (error)
                *error = tr("The scanner has no such option");
            return false;
        }
        SANE_Int info = 0;
        SANE_Status status;
        if (d->type == SANE_TYPE_BUTTON) {
            status = sane_control_option(m_handle, index, SANE_ACTION_SET_VALUE, nullptr, &info);
        } else if (d->type == SANE_TYPE_STRING) {
            std::vector<char> buffer(size_t(std::max<int>(d->size, 1)), 0);
            const QByteArray text = value.toString().toUtf8();
            std::memcpy(buffer.data(), text.constData(),
                        size_t(std::min<qsizetype>(text.size(), qsizetype(buffer.size()) - 1)));
            status = sane_control_option(m_handle, index, SANE_ACTION_SET_VALUE, buffer.data(),
                                         &info);
        } else {
            SANE_Word w = 0;
            if (d->type == SANE_TYPE_BOOL)
                w = value.toBool() ? SANE_TRUE : SANE_FALSE;
            else if (d->type == SANE_TYPE_FIXED)
                w = SANE_FIX(value.toDouble());
            else
                w = SANE_Word(std::lround(value.toDouble()));
            // An array option gets the value in every element.
            std::vector<SANE_Word> words(size_t(std::max<int>(1, d->size / int(sizeof(SANE_Word)))), w);
            status = sane_control_option(m_handle, index, SANE_ACTION_SET_VALUE, words.data(),
                                         &info);
        }
        if (status != SANE_STATUS_GOOD) {
            if (error)
                *error = QString::fromUtf8(sane_strstatus(status));
            return false;
        }
        if (reload)
            *reload = (info & (SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS | SANE_INFO_INEXACT)) != 0;
        return true;
    }

private:
    SANE_Handle m_handle;
};

int SourceOptions::find(const QString& name)
{
    for (const SourceOption& o : options())
        if (o.name == name)
            return o.index;
    return -1;
}

QVariant SourceOptions::value(const QString& name)
{
    const int index = find(name);
    return index < 0 ? QVariant() : value(index);
}

bool SourceOptions::setValue(const QString& name, const QVariant& value, QString* error)
{
    const int index = find(name);
    if (index < 0) {
        if (error)
            *error = tr("The scanner has no option \"%1\"").arg(name);
        return false;
    }
    return setValue(index, value, nullptr, error);
}

// One page read: what the reading thread hands back.
struct SaneScannerLibrary::Transfer
{
    bool alreadyStarted = false;
    ScanProgress progress;
    SANE_Status status = SANE_STATUS_GOOD;
    QString decodeError; // the data could not be made into a page
    QImage page;
};

SaneScannerLibrary::SaneScannerLibrary() = default;

SaneScannerLibrary::~SaneScannerLibrary()
{
    // The library in force lives until the program's very end, after the application
    // object: a dialog still open then must not be touched any more.
    if (!QCoreApplication::instance())
        (void)m_dialog.release();
    closeDevice();
    if (m_initialized)
        sane_exit();
}

bool SaneScannerLibrary::ensureInit()
{
    if (m_initialized)
        return true;
    SANE_Int version = 0;
    const SANE_Status status = sane_init(&version, nullptr);
    if (status != SANE_STATUS_GOOD) {
        setDeviceError(status);
        return false;
    }
    m_initialized = true;
    m_state = StateManagerOpen;
    return true;
}

void SaneScannerLibrary::setError(int code, const QString& text)
{
    m_errorCode = code;
    m_errorText = text;
}

// The one place where device statuses become our codes and texts.
void SaneScannerLibrary::setDeviceError(int saneStatus)
{
    int code = DeviceOtherError;
    switch (saneStatus) {
    case SANE_STATUS_UNSUPPORTED: code = DeviceUnsupported; break;
    case SANE_STATUS_CANCELLED: code = DeviceCancelled; break;
    case SANE_STATUS_DEVICE_BUSY: code = DeviceBusy; break;
    case SANE_STATUS_INVAL: code = DeviceInvalid; break;
    case SANE_STATUS_JAMMED: code = DeviceJammed; break;
    case SANE_STATUS_NO_DOCS: code = DeviceNoDocuments; break;
    case SANE_STATUS_COVER_OPEN: code = DeviceCoverOpen; break;
    case SANE_STATUS_IO_ERROR: code = DeviceIoError; break;
    case SANE_STATUS_NO_MEM: code = DeviceNoMemory; break;
    case SANE_STATUS_ACCESS_DENIED: code = DeviceAccessDenied; break;
    default: break;
    }
    setError(code, QString::fromUtf8(sane_strstatus(SANE_Status(saneStatus))));
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

bool SaneScannerLibrary::listDevices(QList<ListedDevice>* devices)
{
    devices->clear();
    if (!ensureInit())
        return false;
    const SANE_Device** list = nullptr;
    // Network scanners count as installed sources too.
    const SANE_Status status = sane_get_devices(&list, SANE_FALSE);
    if (status != SANE_STATUS_GOOD) {
        setDeviceError(status);
        return false;
    }
    for (int i = 0; list && list[i]; ++i)
        devices->append({QByteArray(list[i]->name ? list[i]->name : ""), productName(list[i])});
    return true;
}

int SaneScannerLibrary::BeginSourceList()
{
    clearError();
    m_listPos = 0;
    return listDevices(&m_list) ? 1 : 0;
}

int SaneScannerLibrary::NextSourceName(char* buffer)
{
    if (!buffer || m_listPos >= m_list.size())
        return 0;
    const QByteArray& name = m_list.at(m_listPos++).productName;
    const size_t length = std::min<size_t>(size_t(name.size()), SourceNameSize - 1);
    std::memcpy(buffer, name.constData(), length);
    buffer[length] = '\0';
    return 1;
}

int SaneScannerLibrary::OpenSourceByName(const char* productName)
{
    clearError();
    closeDevice();
    QList<ListedDevice> devices;
    if (!listDevices(&devices))
        return 0;
    const QByteArray wanted(productName ? productName : "");
    for (const ListedDevice& device : devices)
        if (device.productName == wanted)
            return openDevice(device.saneName, device.productName);
    setError(SourceNotFound, tr("The scanner \"%1\" was not found").arg(QString::fromUtf8(wanted)));
    return 0;
}

int SaneScannerLibrary::OpenDefaultSource()
{
    clearError();
    closeDevice();
    QList<ListedDevice> devices;
    if (!listDevices(&devices))
        return 0;
    const QByteArray chosen = qgetenv("SANE_DEFAULT_DEVICE");
    if (!chosen.isEmpty()) {
        for (const ListedDevice& device : devices)
            if (device.saneName == chosen)
                return openDevice(device.saneName, device.productName);
        // Not listed (a device the backends do not enumerate): open it by its own name.
        return openDevice(chosen, chosen.left(SourceNameSize - 1));
    }
    if (devices.isEmpty()) {
        setError(SourceNotFound, tr("No scanner devices found"));
        return 0;
    }
    return openDevice(devices.first().saneName, devices.first().productName);
}

int SaneScannerLibrary::openDevice(const QByteArray& saneName, const QByteArray& product)
{
    SANE_Handle handle = nullptr;
    const SANE_Status status = sane_open(saneName.constData(), &handle);
    if (status != SANE_STATUS_GOOD) {
        setDeviceError(status);
        return 0;
    }
    m_device = handle;
    m_openName = product;
    m_options = std::make_unique<SaneSourceOptions>(handle);
    m_state = StateSourceOpen;
    m_started = false;
    m_pagesThisRun = 0;
    m_feeder = false;
    return 1;
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
    if (!m_device)
        return;
    sane_cancel(handleOf(m_device)); // ends a pending or half-read page as well
    sane_close(handleOf(m_device));
    m_device = nullptr;
    m_options.reset();
    m_openName.clear();
    m_started = false;
    m_state = m_initialized ? StateManagerOpen : StateManagerLoaded;
}

void SaneScannerLibrary::EndAcquisition() { closeDevice(); }

// ---- Options ----

namespace {

bool allows(const SourceOption& o, double v)
{
    if (o.constraint == SourceOption::WordList)
        return o.words.contains(v);
    if (o.constraint == SourceOption::Range)
        return v >= o.minimum && v <= o.maximum;
    return true;
}

const SourceOption* optionNamed(const QList<SourceOption>& options, const char* name)
{
    for (const SourceOption& o : options)
        if (o.name == QLatin1String(name) && o.active && o.settable)
            return &o;
    return nullptr;
}

// The first offered string equal (case ignored) to one of the wanted ones.
QString pick(const SourceOption& o, std::initializer_list<const char*> wanted)
{
    for (const char* w : wanted)
        for (const QString& s : o.strings)
            if (s.compare(QLatin1String(w), Qt::CaseInsensitive) == 0)
                return s;
    return {};
}

// The value nearest to v that the option allows.
double nearestAllowed(const SourceOption& o, double v)
{
    if (o.constraint == SourceOption::WordList && !o.words.isEmpty()) {
        double best = o.words.first();
        for (double w : o.words)
            if (std::abs(w - v) < std::abs(best - v))
                best = w;
        return best;
    }
    if (o.constraint == SourceOption::Range) {
        v = std::clamp(v, o.minimum, o.maximum);
        if (o.quantum > 0) {
            v = o.minimum + std::round((v - o.minimum) / o.quantum) * o.quantum;
            if (v > o.maximum)
                v -= o.quantum;
        }
    }
    return o.type == SourceOption::Int ? std::round(v) : v;
}

// The first value for which test() gives `wanted`.
QString firstOf(const QStringList& values, bool (*test)(const QString&), bool wanted)
{
    for (const QString& v : values)
        if (test(v) == wanted)
            return v;
    return {};
}

// A source value naming a document feeder ("ADF", "ADF Duplex", "Automatic Document Feeder").
bool namesFeeder(const QString& s)
{
    return s.contains(QLatin1String("ADF"), Qt::CaseInsensitive)
        || s.contains(QLatin1String("Feeder"), Qt::CaseInsensitive);
}

} // namespace

void SaneScannerLibrary::SetPixelType(int pixelType)
{
    m_pixelType = std::clamp(pixelType, 0, 2);
    applyPixelType();
}

void SaneScannerLibrary::applyPixelType()
{
    if (!m_options)
        return;
    const QList<SourceOption> options = m_options->options();
    const SourceOption* mode = optionNamed(options, SANE_NAME_SCAN_MODE);
    QString error;
    auto setMode = [&](const QString& value) {
        if (!value.isEmpty() && !m_options->setValue(mode->index, value, nullptr, &error))
            setError(InvalidOption, error);
    };
    // Depth is read after the mode is set: a mode may change what depths are offered.
    auto setDepth = [&](double depth) {
        const QList<SourceOption> now = m_options->options();
        const SourceOption* d = optionNamed(now, SANE_NAME_BIT_DEPTH);
        if (!d || !allows(*d, depth))
            return false;
        if (!m_options->setValue(d->index, depth, nullptr, &error)) {
            setError(InvalidOption, error);
            return false;
        }
        return true;
    };

    if (m_pixelType == 0) {
        const QString lineart = mode ? pick(*mode, {"Lineart", "Binary", "Black & White"}) : QString();
        if (!lineart.isEmpty()) {
            setMode(lineart);
            return;
        }
        const QString gray = mode ? pick(*mode, {"Gray", "Grayscale", "Grey"}) : QString();
        if (!gray.isEmpty())
            setMode(gray);
        // Without a one-bit mode the page is thresholded when it arrives.
        if (gray.isEmpty() || !setDepth(1))
            setDepth(8);
        return;
    }
    if (mode)
        setMode(m_pixelType == 1 ? pick(*mode, {"Gray", "Grayscale", "Grey"})
                                 : pick(*mode, {"Color", "Colour", "RGB"}));
    setDepth(8);
}

void SaneScannerLibrary::SetResolution(double dotsPerInch)
{
    m_resolution = dotsPerInch;
    applyResolution();
}

void SaneScannerLibrary::applyResolution()
{
    if (!m_options || m_resolution <= 0)
        return;
    const QList<SourceOption> options = m_options->options();
    QString error;
    bool any = false;
    for (const char* name : {SANE_NAME_SCAN_RESOLUTION, SANE_NAME_SCAN_X_RESOLUTION,
                             SANE_NAME_SCAN_Y_RESOLUTION}) {
        const SourceOption* o = optionNamed(options, name);
        if (!o || (any && o->name == QLatin1String(SANE_NAME_SCAN_X_RESOLUTION)))
            continue;
        any = true;
        if (!m_options->setValue(o->index, nearestAllowed(*o, m_resolution), nullptr, &error))
            setError(InvalidOption, error);
    }
}

void SaneScannerLibrary::SetUseFeeder(int useFeeder)
{
    m_wantFeeder = useFeeder != 0;
    applyFeeder();
}

void SaneScannerLibrary::applyFeeder()
{
    m_feeder = false;
    if (!m_options)
        return;
    const QList<SourceOption> options = m_options->options();
    const SourceOption* source = optionNamed(options, SANE_NAME_SCAN_SOURCE);
    if (!source || source->strings.isEmpty())
        return;
    QString value;
    if (m_wantFeeder) {
        value = pick(*source, {"ADF", "Automatic Document Feeder", "Feeder"});
        if (value.isEmpty())
            value = firstOf(source->strings, namesFeeder, true);
    }
    if (value.isEmpty()) {
        value = pick(*source, {"Flatbed"});
        if (value.isEmpty())
            value = firstOf(source->strings, namesFeeder, false);
        if (value.isEmpty())
            return; // a feeder-only device: leave it as it is
    }
    QString error;
    if (!m_options->setValue(source->index, value, nullptr, &error)) {
        setError(InvalidOption, error);
        return;
    }
    m_feeder = m_wantFeeder && namesFeeder(value);
}

void SaneScannerLibrary::SetJpegQuality(int quality) { m_jpegQuality = std::clamp(quality, 1, 100); }

void SaneScannerLibrary::SetTiffCompression(int, int compressionTag)
{
    m_tiffCompression = compressionTag;
}

// ---- Acquisition ----

void SaneScannerLibrary::readPage(Transfer& t)
{
    SANE_Handle h = handleOf(m_device);
    if (!t.alreadyStarted) {
        t.status = sane_start(h);
        if (t.status != SANE_STATUS_GOOD)
            return;
    }
    PageAssembler assembler;
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;) {
        SANE_Parameters p;
        t.status = sane_get_parameters(h, &p);
        if (t.status != SANE_STATUS_GOOD)
            return;
        PageAssembler::Frame frame;
        switch (p.format) {
        case SANE_FRAME_GRAY: frame.kind = PageAssembler::Frame::Gray; break;
        case SANE_FRAME_RGB: frame.kind = PageAssembler::Frame::Rgb; break;
        case SANE_FRAME_RED: frame.kind = PageAssembler::Frame::Red; break;
        case SANE_FRAME_GREEN: frame.kind = PageAssembler::Frame::Green; break;
        case SANE_FRAME_BLUE: frame.kind = PageAssembler::Frame::Blue; break;
        default:
            t.decodeError = tr("The scanner sent a kind of image this program cannot read");
            return;
        }
        frame.depth = p.depth;
        frame.bytesPerLine = p.bytes_per_line;
        frame.pixelsPerLine = p.pixels_per_line;
        frame.lines = p.lines;
        if (!assembler.beginFrame(frame, &t.decodeError))
            return;
        for (;;) {
            if (t.progress.cancelRequested.load()) {
                t.status = SANE_STATUS_CANCELLED;
                return;
            }
            SANE_Int length = 0;
            t.status = sane_read(h, buffer.data(), SANE_Int(buffer.size()), &length);
            if (t.status == SANE_STATUS_EOF)
                break;
            if (t.status != SANE_STATUS_GOOD)
                return;
            if (!assembler.addData(buffer.data(), length, &t.decodeError))
                return;
            t.progress.permille.store(assembler.permille());
        }
        t.status = SANE_STATUS_GOOD;
        if (!assembler.endFrame(&t.decodeError))
            return;
        if (p.last_frame)
            break;
        t.status = sane_start(h); // the next frame of a multi-pass page
        if (t.status != SANE_STATUS_GOOD)
            return;
    }
    t.page = assembler.takeImage();
    if (t.page.isNull())
        t.decodeError = tr("The scanner ended the page before all its colours came");
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
        // The window stays painted and can cancel while the worker owns the device.
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

SaneScannerLibrary::Handle SaneScannerLibrary::keepPage(QImage page)
{
    // With the dialog shown the user's choice of mode there is the one that counts.
    if (m_hideUI && m_pixelType == 0 && page.format() != QImage::Format_Mono)
        page = page.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither | Qt::MonoOnly);
    else if (m_hideUI && m_pixelType == 1 && page.format() == QImage::Format_RGB888)
        page = page.convertToFormat(QImage::Format_Grayscale8);
    // The device may have rounded the resolution: record what it really used.
    double dpi = m_resolution;
    if (m_options) {
        const QVariant used = m_options->value(QStringLiteral(SANE_NAME_SCAN_RESOLUTION));
        if (used.isValid() && used.toDouble() > 0)
            dpi = used.toDouble();
    }
    if (dpi > 0) {
        const int dpm = int(std::lround(dpi / 0.0254));
        page.setDotsPerMeterX(dpm);
        page.setDotsPerMeterY(dpm);
    }
    return store(std::move(page));
}

void SaneScannerLibrary::afterPage()
{
    ++m_pagesThisRun;
    SANE_Handle h = handleOf(m_device);
    m_started = false;
    if (m_feeder) {
        // Ask the feeder for the next sheet now, so the job knows whether one follows.
        const SANE_Status status = sane_start(h);
        if (status == SANE_STATUS_GOOD) {
            m_started = true;
            m_state = StateTransferReady;
            return;
        }
        sane_cancel(h);
        if (status != SANE_STATUS_NO_DOCS && status != SANE_STATUS_CANCELLED)
            setDeviceError(status);
    } else {
        sane_cancel(h);
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
    if (!m_device) {
        setError(NoSourceOpen, tr("No scanner is open"));
        return 0;
    }
    return m_hideUI ? acquireHidden(parent) : acquireWithDialog(parent);
}

SaneScannerLibrary::Handle SaneScannerLibrary::acquireHidden(QObject* parent)
{
    Transfer t;
    t.alreadyStarted = m_started;
    m_started = false;
    runTransfer(t, parent, nullptr);
    if (t.status == SANE_STATUS_GOOD && t.decodeError.isEmpty()) {
        const Handle handle = keepPage(std::move(t.page));
        afterPage();
        return handle;
    }
    sane_cancel(handleOf(m_device));
    m_state = StateSourceOpen;
    if (!t.decodeError.isEmpty())
        setError(BadPageData, t.decodeError);
    // Cancelling, and an empty feeder after at least one page, are normal ends.
    else if (t.status != SANE_STATUS_CANCELLED
             && !(t.status == SANE_STATUS_NO_DOCS && m_pagesThisRun > 0))
        setDeviceError(t.status);
    return 0;
}

SaneScannerLibrary::Handle SaneScannerLibrary::acquireWithDialog(QObject* parent)
{
    if (!m_dialog) {
        AcquisitionUi* ui = AcquisitionUi::current();
        if (ui)
            m_dialog = ui->createSourceDialog(*m_options, QString::fromUtf8(m_openName), parent);
        if (!m_dialog) {
            setError(DialogUnavailable, tr("The scanner's dialog cannot be shown here"));
            return 0;
        }
    }
    for (;;) {
        if (!m_started) {
            m_state = StateSourceEnabled;
            if (!m_dialog->waitForScan()) {
                closeDialog();
                m_state = StateSourceOpen;
                return 0;
            }
            // The options may have changed in the dialog: the feeder choice with them.
            const QVariant source = m_options->value(QStringLiteral(SANE_NAME_SCAN_SOURCE));
            if (source.isValid())
                m_feeder = namesFeeder(source.toString());
        }
        Transfer t;
        t.alreadyStarted = m_started;
        m_started = false;
        runTransfer(t, parent, m_dialog.get());
        if (t.status == SANE_STATUS_GOOD && t.decodeError.isEmpty()) {
            const Handle handle = keepPage(std::move(t.page));
            afterPage();
            return handle;
        }
        sane_cancel(handleOf(m_device));
        if (t.status == SANE_STATUS_CANCELLED && t.decodeError.isEmpty()) {
            // The user stopped this page; the dialog stays for another try.
            m_dialog->showStatus(tr("Scanning cancelled"));
            continue;
        }
        if (!t.decodeError.isEmpty())
            setError(BadPageData, t.decodeError);
        else if (!(t.status == SANE_STATUS_NO_DOCS && m_pagesThisRun > 0))
            setDeviceError(t.status);
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
    clearError();
    m_multipage.reset(); // an unfinished earlier file is dropped, not half-kept
    m_multipageFailed = false;
    QString error;
    m_multipage = MultipageWriter::begin(path, writeOptions(m_jpegQuality, m_tiffCompression), &error);
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
