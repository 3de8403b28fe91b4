// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/CommandLineRun.h"

#include "app/Dialogs.h"
#include "app/ErrorReport.h"
#include "app/SettingsStore.h"
#include "i18n/StoredLangProperties.h"
#include "i18n/TCustomLangTable.h"
#include "i18n/TLangDispatcher.h"
#include "scanner/AcquisitionUi.h"
#include "scanner/SaneScannerLibrary.h"
#include "scanner/ScanJob.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>

namespace {

const QString kPath = QStringLiteral("Path");
const QString kResolution = QStringLiteral("Resolution");
const QString kLang = QStringLiteral("Lang");
const QString kFormat = QStringLiteral("Format");
const QString kDatenum = QStringLiteral("Datenum");
const QString kAdf = QStringLiteral("ADF");
const QString kColor = QStringLiteral("Color");
const QString kFilePrefix = QStringLiteral("FilePrefix");
const QString kSource = QStringLiteral("Source");
const QString kHideUI = QStringLiteral("HideUI");

// The lengths of the wizard's lists whose positions are stored: resolutions, formats, modes.
constexpr int kResolutionCount = 10;
constexpr int kFormatCount = 6;
constexpr int kModeCount = 3;

void printLine(std::FILE* stream, const QString& text)
{
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

// The main window's messages in the stored language, without the window: its table and the
// dispatcher the program's texts follow.
class MainWindowTexts
{
public:
    MainWindowTexts() : m_table(&m_owner)
    {
        loadStoredProperties(m_dispatcher);
        m_dispatcher.publish();
        loadStoredProperties(m_table, &m_dispatcher, storedTranslationData(QStringLiteral("Tfrm_Main")));
    }

    TLangDispatcher& dispatcher() { return m_dispatcher; }
    QString text(const char* key) const { return m_table.GetTextOrDefault(key); }

private:
    TLangDispatcher m_dispatcher;
    QObject m_owner;
    TLangTable m_table;
};

// What the wizard's controls hold once its show sequence has read the settings, and what
// closing it writes back: stored values come back unchanged, missing ones as the layout has
// them, positions outside their lists as none (-1).
struct WizardValues
{
    int resolution = 1; // 100 dpi
    int format = -1;
    int color = 1;      // gray
    bool adf = false;
    bool datenum = false;
    QString prefix = QStringLiteral("Quillora_");
};

int position(int stored, int count) { return stored >= 0 && stored < count ? stored : -1; }

// The show sequence's reads up to the scanner list, in its order; a value that cannot be read
// and a language not listed fail as they fail there.
WizardValues readWizardValues(const SettingsStore& store, TLangDispatcher& dispatcher)
{
    WizardValues v;
    (void)store.readString(kPath);
    if (store.valueExists(kResolution))
        v.resolution = position(store.readInteger(kResolution), kResolutionCount);
    if (store.valueExists(kLang))
        dispatcher.SetLanguage(store.readString(kLang));
    if (store.valueExists(kFormat))
        v.format = position(store.readInteger(kFormat), kFormatCount);
    if (store.valueExists(kDatenum) && store.readBool(kDatenum))
        v.datenum = true;
    if (store.valueExists(kAdf))
        v.adf = store.readBool(kAdf);
    if (store.valueExists(kColor))
        v.color = position(store.readInteger(kColor), kModeCount);
    if (store.valueExists(kFilePrefix))
        v.prefix = store.readString(kFilePrefix);
    return v;
}

void writeWizardValues(const WizardValues& v)
{
    SettingsStore store;
    store.writeInteger(kResolution, v.resolution);
    store.writeInteger(kFormat, v.format);
    store.writeBool(kAdf, v.adf);
    store.writeInteger(kColor, v.color);
    store.writeBool(kDatenum, v.datenum);
    store.writeString(kFilePrefix, v.prefix);
}

QStringList nextNames(ScannerLibrary& library)
{
    QStringList names;
    char name[ScannerLibrary::SourceNameSize] = {};
    while (library.NextSourceName(name) != 0)
        names << QString::fromUtf8(name);
    return names;
}

void tellNoScanners(const MainWindowTexts& texts)
{
    Dialogs::current().message(Dialogs::Information, texts.text("IDS_9"), texts.text("IDS_8"),
                               Dialogs::Ok);
}

// The scanner list as the wizard fills it: the product names, waiting for the network's only
// when the remembered scanner is not among the local ones or nothing is local. The remembered
// scanner when it is listed, else none.
std::optional<QString> listedRememberedScanner(SaneScannerLibrary& library,
                                                const MainWindowTexts& texts)
{
    const QString remembered = SettingsStore().readString(kSource);
    if (library.BeginSourceList() == 0) {
        tellNoScanners(texts);
        return std::nullopt;
    }
    QStringList names = nextNames(library);
    if (!library.sourceListComplete()
        && (names.isEmpty() || (!remembered.isEmpty() && !names.contains(remembered)))) {
        library.finishSourceList();
        names += nextNames(library);
        if (names.isEmpty())
            tellNoScanners(texts);
    }
    // Exact comparison: a name differing in case is another scanner.
    if (!remembered.isEmpty() && names.contains(remembered))
        return remembered;
    return std::nullopt;
}

// --device: a SANE name, or a product name that one device alone has. Listed devices are
// looked at first (the network's too, when the name is not here); a name no backend lists
// is handed to SANE as it is.
std::function<int()> deviceOpener(SaneScannerLibrary& library, const QString& wanted,
                                  QString* ambiguity)
{
    const QByteArray name = wanted.toUtf8();
    const auto find = [&]() -> std::optional<QByteArray> {
        QList<QByteArray> byProduct;
        for (const DeviceList::Device& d : library.devices()) {
            if (d.saneName == name)
                return d.saneName;
            if (d.productName == name)
                byProduct << d.saneName;
        }
        if (byProduct.size() > 1) {
            QStringList saneNames;
            for (const QByteArray& n : byProduct)
                saneNames << QString::fromUtf8(n);
            *ambiguity = QStringLiteral("%1 devices are called \"%2\": name one of them by its SANE name (%3)")
                             .arg(byProduct.size())
                             .arg(wanted, saneNames.join(QStringLiteral(", ")));
        }
        if (byProduct.size() == 1)
            return byProduct.first();
        return std::nullopt;
    };
    std::optional<QByteArray> saneName = find();
    if (!saneName && ambiguity->isEmpty() && !library.sourceListComplete()) {
        library.finishSourceList();
        saneName = find();
    }
    if (!ambiguity->isEmpty())
        return {};
    const QByteArray chosen = saneName.value_or(name);
    return [&library, chosen] { return library.OpenSourceBySaneName(chosen.constData()); };
}

// --progress: how far each page is, on standard error, in steps of a tenth.
class ConsoleProgress : public AcquisitionUi
{
public:
    std::unique_ptr<SourceDialogView> createSourceDialog(SourceOptions&, const QString&,
                                                         QObject*) override
    {
        return nullptr;
    }

    std::unique_ptr<ProgressView> showProgress(ScanProgress& progress, QObject*) override
    {
        return std::make_unique<View>(progress, ++m_pages);
    }

private:
    class View : public ProgressView
    {
    public:
        View(ScanProgress& progress, int page) : m_progress(progress), m_page(page)
        {
            QObject::connect(&m_timer, &QTimer::timeout, [this] { report(); });
            m_timer.start(100);
        }
        ~View() override
        {
            report();
            if (m_said < 1000 && m_progress.permille.load() >= 1000)
                say(1000);
        }

    private:
        void report()
        {
            const int permille = m_progress.permille.load();
            if (permille >= 0 && permille / 100 > m_said / 100 && permille < 1000)
                say(permille);
        }
        void say(int permille)
        {
            m_said = permille;
            printLine(stderr, QStringLiteral("quillora: page %1: %2%").arg(m_page).arg(permille / 10));
        }

        ScanProgress& m_progress;
        int m_page;
        int m_said = -100;
        QTimer m_timer;
    };

    int m_pages = 0;
};

std::atomic<SaneScannerLibrary*> g_library{nullptr};
volatile std::sig_atomic_t g_interrupted = 0;

// The first SIGINT or SIGTERM stops the page being read, as Cancel does; the handler is
// reset by then, so a second one ends the program at once.
void onInterrupt(int)
{
    g_interrupted = 1;
    if (SaneScannerLibrary* library = g_library.load())
        library->requestCancel();
}

class InterruptCancels
{
public:
    explicit InterruptCancels(SaneScannerLibrary& library)
    {
        g_library.store(&library);
        struct sigaction action = {};
        action.sa_handler = onInterrupt;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~InterruptCancels()
    {
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        g_library.store(nullptr);
    }
    InterruptCancels(const InterruptCancels&) = delete;
    InterruptCancels& operator=(const InterruptCancels&) = delete;

    static bool interrupted() { return g_interrupted != 0; }

private:
    struct sigaction m_oldInt = {};
    struct sigaction m_oldTerm = {};
};

int exitCodeOf(CommandLineScanResult::Outcome outcome)
{
    switch (outcome) {
    case CommandLineScanResult::Written: return ExitWritten;
    case CommandLineScanResult::FileFailed: return ExitFile;
    case CommandLineScanResult::Interrupted: return ExitInterrupted;
    case CommandLineScanResult::ScannerFailed: break;
    }
    return ExitScanner;
}

} // namespace

int listDevicesForCommandLine(SaneScannerLibrary& library)
{
    if (library.BeginSourceList() == 0) {
        printLine(stderr, QStringLiteral("quillora: the scanners cannot be listed: %1").arg(library.LastErrorText()));
        return ExitScanner;
    }
    library.finishSourceList();
    const QList<DeviceList::Device> devices = library.devices();
    for (const DeviceList::Device& d : devices)
        printLine(stdout, QString::fromUtf8(d.saneName) + u'\t' + QString::fromUtf8(d.productName));
    if (devices.isEmpty()) {
        printLine(stderr, QStringLiteral("quillora: no scanner devices found"));
        return ExitScanner;
    }
    return ExitWritten;
}

int RunCommandLineScan(const ParsedCommandLine& commandLine, SaneScannerLibrary& library)
{
    const CommandLineOptions& options = commandLine.options;
    const ScriptOptions& script = commandLine.script;
    InterruptCancels interrupts(library);
    MainWindowTexts texts;

    // The wizard's show sequence, as far as a command-line scan needs it. When it fails
    // nothing is scanned, and nothing is written back either: values the user stored are not
    // put back as the defaults they were never read into.
    WizardValues wizard;
    std::optional<QString> remembered;
    try {
        wizard = readWizardValues(SettingsStore(), texts.dispatcher());
        remembered = listedRememberedScanner(library, texts);
        SettingsStore store;
        // The layout's box is checked; clearing it for a missing value stores that value.
        if (!(store.valueExists(kHideUI) && store.readBool(kHideUI)))
            store.writeBool(kHideUI, false);
    } catch (...) {
        reportCurrentFailure();
        return ExitFailure;
    }
    if (InterruptCancels::interrupted())
        return ExitInterrupted;

    std::unique_ptr<ConsoleProgress> progress;
    if (script.progress) {
        progress = std::make_unique<ConsoleProgress>();
        AcquisitionUi::setCurrent(progress.get());
    }

    CommandLineScan scan;
    scan.resolution = options.resolution;
    scan.mode = options.mode;
    scan.adf = options.adf;
    scan.ext = options.ext;
    scan.path = options.path;
    scan.fname = options.fname;
    scan.sourceSelected = remembered.has_value();
    scan.sourceName = remembered.value_or(QString());
    scan.batch = script.batch;
    scan.output = script.output;
    scan.written = [](const QString& path) { printLine(stdout, path); };
    scan.interrupted = [] { return InterruptCancels::interrupted(); };
    int code = ExitScanner;
    QString ambiguity;
    if (!script.device.isEmpty())
        scan.open = deviceOpener(library, script.device, &ambiguity);
    if (!ambiguity.isEmpty()) {
        printLine(stderr, QStringLiteral("quillora: ") + ambiguity);
        code = ExitUsage;
    } else {
        int counter = 1; // CommandLineCounter: the show sequence starts it at one
        const CommandLineScanResult result =
            runCommandLineScan(library, scan, counter, texts.text("IDS_46"));
        code = exitCodeOf(result.outcome);
        if (result.outcome == CommandLineScanResult::Interrupted)
            printLine(stderr, QStringLiteral("quillora: interrupted; %1 page(s) written").arg(result.pages));
    }
    if (progress)
        AcquisitionUi::setCurrent(nullptr);

    // As the wizard's window closes after its scan. A store that refuses is reported; the
    // pages are written all the same, and the exit code says so.
    guarded([&] { writeWizardValues(wizard); });
    return code;
}
