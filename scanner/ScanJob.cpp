// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/ScanJob.h"

#include "app/Dialogs.h"
#include "app/Error.h"
#include "app/SettingsStore.h"
#include "output/FilePlacement.h"
#include "output/MultipageExport.h"
#include "scanner/ScannerLibrary.h"
#include "scanner/Thumbnail.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

namespace {

// Closes the source on every way out of a job, a failure included, and frees a page that
// a failure caught between acquisition and release.
class AcquisitionGuard
{
public:
    explicit AcquisitionGuard(ScannerLibrary& library) : m_library(library) {}
    ~AcquisitionGuard()
    {
        if (held)
            m_library.ReleaseImage(held);
        m_library.EndAcquisition();
    }
    AcquisitionGuard(const AcquisitionGuard&) = delete;
    AcquisitionGuard& operator=(const AcquisitionGuard&) = delete;

    ScannerLibrary::Handle held = 0;

private:
    ScannerLibrary& m_library;
};

void setSourceOptions(ScannerLibrary& library, bool useFeeder, int pixelType)
{
    library.SetUseFeeder(useFeeder ? 1 : 0);
    library.SetSourceOptionA(1);
    library.SetSourceOptionB(-1);
    library.SetSourceOptionC(1);
    library.SetSourceOptionD(1);
    library.SetPixelType(pixelType);
}

bool isMultipagePath(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"pdf" || suffix == u"tif" || suffix == u"tiff";
}

bool entryExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Writes the page under path; when that name is taken by the time the file is moved into
// place (a file that appeared since the name was chosen, or a folder of that name),
// nextCandidate moves on. Never writes over anything.
bool writePage(ScannerLibrary& library, ScannerLibrary::Handle image, const QString& path,
               const std::function<QString()>& nextCandidate, QString* writtenPath, QString* error)
{
    if (library.WriteImageFileNoClobber(image, path, nextCandidate, writtenPath) != 0)
        return true;
    *error = library.LastErrorText();
    return false;
}

QString copyCandidate(const QString& suffix, int n)
{
    QString name = QStringLiteral("temp") + suffix;
    if (n > 0)
        name += u'_' + QString::number(n);
    return temporaryFolder() + QDir::separator() + name + QStringLiteral(".bmp");
}

// The job's one message: the library's failure, and every page that could not be written.
void reportFailures(ScannerLibrary& library, const QStringList& failures, const QString& text)
{
    if (failures.isEmpty()) {
        if (library.LastErrorCode() != 0)
            library.ReportLastError(text);
        return;
    }
    QStringList details = failures;
    const int code = library.LastErrorCode();
    if (code != 0 && code != ScannerLibrary::FileWriteFailed && code != ScannerLibrary::MultipageFailed)
        details.prepend(library.LastErrorText());
    // Worded like the library's own report: the text, then a line for each reason.
    Dialogs::current().message(Dialogs::Warning, QCoreApplication::applicationName(),
                               text + u'\n' + details.join(u'\n'));
}

} // namespace

QString temporaryFolder()
{
    const QString temp = qEnvironmentVariable("TEMP");
    return temp.isEmpty() ? QDir::tempPath() : temp;
}

QString temporaryCopyPath(const QString& suffix, const std::function<bool(const QString&)>& inUse)
{
    const QString path = copyCandidate(suffix, 0);
    if (!inUse(path))
        return path;
    // A copy an entry still shows is never replaced: that entry would then preview and
    // export as this page.
    for (int n = 1;; ++n) {
        const QString numbered = copyCandidate(suffix, n);
        if (!inUse(numbered) && !entryExists(numbered))
            return numbered;
    }
}

double resolutionFromText(const QString& text)
{
    bool ok = false;
    double value = QLocale::system().toDouble(text.trimmed(), &ok);
    if (!ok)
        value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok)
        throw QuilloraError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return value;
}

ScanJobResult runScanJob(ScannerLibrary& library, const ScanJobSettings& settings,
                         const ScanJobPane& pane, const QString& failureText)
{
    ScanJobResult result;
    const int hide = settings.hideUi ? 1 : 0;
    // With the dialog shown pages come until the user closes it; hidden, while the
    // source says another transfer is pending.
    const int continueState =
        hide ? ScannerLibrary::StateTransferReady : ScannerLibrary::StateSourceEnabled;
    library.SetLibraryOptionA(0);
    library.SetHideUI(hide);
    library.SetKeepSourceOpen(1 - hide);
    library.SetLibraryOptionB(0);
    {
        const SettingsStore store;
        library.SetJpegQuality(store.valueExists(QStringLiteral("JPEGCompression"))
                                   ? store.readInteger(QStringLiteral("JPEGCompression"))
                                   : 75);
        if (store.valueExists(QStringLiteral("TIFFCompression"))) {
            const int index = store.readInteger(QStringLiteral("TIFFCompression"));
            library.SetTiffCompression(0, index == 5 ? 7 : index + 1);
        }
    }
    library.SetTextRecognition(storedRecognitionLanguage());

    if (library.OpenSourceByName(settings.sourceName.toUtf8().constData()) != 0) {
        AcquisitionGuard guard(library);
        setSourceOptions(library, settings.useFeeder, settings.pixelType);
        library.SetResolution(resolutionFromText(settings.resolutionText()));

        const NamingInputs& naming = settings.naming;
        do {
            const QString wanted = settings.sequenceMode
                                       ? settings.startText()
                                       : DateTimeSuffix(namingNow(), QLocale::system());
            QString suffix = NextFreeSuffix(wanted, naming);
            const QString path = outputPath(trimmedFolder(naming.folderText()), naming.prefix(),
                                            suffix, naming.extension());
            // A sheet is never pulled through for a folder that cannot take its file.
            QString unwritable;
            if (!canCreateFileBeside(path, &unwritable)) {
                result.failures << unwritable;
                break;
            }

            ScannedPage page;
            QString error;
            int n = 0;
            const auto nextOutput = [&] {
                QString candidate;
                do {
                    suffix = wanted + u'_' + QString::number(++n);
                    candidate = outputPath(trimmedFolder(naming.folderText()), naming.prefix(),
                                           suffix, naming.extension());
                } while (entryExists(candidate));
                return candidate;
            };
            // The page file is coded while the page comes; the copy is made from the page held.
            const ScannerLibrary::Handle image =
                library.AcquireImageToFile(settings.parent, path, nextOutput, &page.outputPath);
            if (image == 0)
                break;
            guard.held = image;
            ++result.pages;

            page.written = !page.outputPath.isEmpty();
            if (!page.written) {
                page.outputPath = path;
                result.failures << QStringLiteral("%1: %2").arg(path, library.LastErrorText());
            }
            page.caption = outputCaption(naming.prefix(), suffix, naming.extension());

            const int height = library.ImageHeight(image);
            const int width = library.ImageWidth(image);
            const QString copy = temporaryCopyPath(suffix, pane.copyInUse);
            // A copy left by an earlier run that no entry shows is replaced, as the page
            // name says; one shown by an entry never is.
            if (QFileInfo(copy).isFile())
                QFile::remove(copy);
            int m = 0;
            const auto nextCopy = [&] {
                QString candidate;
                do
                    candidate = copyCandidate(suffix, ++m);
                while (entryExists(candidate) || pane.copyInUse(candidate));
                return candidate;
            };
            if (!writePage(library, image, copy, nextCopy, &page.copyPath, &error)) {
                page.copyPath = copy;
                result.failures << QStringLiteral("%1: %2").arg(copy, error);
            }
            // The copy holds the same pixels; drawing from the page in memory saves
            // reading a large bitmap back.
            page.thumbnail = makeThumbnail(library.image(image), width, height);
            library.ReleaseImage(image);
            guard.held = 0;

            pane.addPage(page);
            if (settings.sequenceMode)
                pane.raiseCounter();
            // The pages after it would fail alike (folder gone, disk full, no permission);
            // this one stays in the pane through its copy.
            if (!page.written)
                break;
        } while (library.GetTwainState() >= continueState);
    }

    reportFailures(library, result.failures, failureText);
    return result;
}

CommandLineScanResult runCommandLineScan(ScannerLibrary& library, const CommandLineScan& scan,
                                         int& counter, const QString& failureText)
{
    library.SetLibraryOptionA(0);
    library.SetHideUI(1);
    library.SetKeepSourceOpen(0);
    library.SetLibraryOptionB(0);
    library.SetJpegQuality(75);
    library.SetTextRecognition(QString());

    CommandLineScanResult result;
    QStringList failures;
    bool fileFailed = false;
    const auto interrupted = [&] { return scan.interrupted && scan.interrupted(); };
    const auto fail = [&](const QString& path, const QString& reason) {
        failures << QStringLiteral("%1: %2").arg(path, reason);
        fileFailed = true;
    };
    // A named file that is there already is not scanned for: it would not be replaced.
    if (!scan.output.isEmpty() && entryExists(scan.output)) {
        fail(scan.output, QStringLiteral("the file exists already and is not replaced"));
        reportFailures(library, failures, failureText);
        result.outcome = CommandLineScanResult::FileFailed;
        return result;
    }
    const bool opened =
        scan.open ? scan.open() != 0
                  : (scan.sourceSelected
                         ? library.OpenSourceByName(scan.sourceName.toUtf8().constData()) != 0
                         : library.OpenDefaultSource() != 0);
    if (opened) {
        AcquisitionGuard guard(library);
        setSourceOptions(library, scan.adf, scan.mode);
        library.SetResolution(double(scan.resolution));
        // Every sheet into one document, or each page into a file of its own.
        const bool oneDocument = scan.batch && !scan.output.isEmpty()
                                 && isMultipagePath(scan.output);
        bool documentOpen = false;
        int documentPages = 0;
        while (!interrupted()) {
            const QString path = !scan.output.isEmpty()
                                     ? scan.output
                                     : NextFreeCommandLinePath(scan.path, scan.fname, scan.ext, counter);
            QString unwritable;
            if (!canCreateFileBeside(path, &unwritable)) {
                failures << unwritable;
                fileFailed = true;
                break;
            }
            if (oneDocument && !documentOpen) {
                if (library.BeginNewMultipageFile(path) == 0) {
                    fail(path, library.LastErrorText());
                    break;
                }
                documentOpen = true;
            }
            // A name taken meanwhile moves on to the next number; a named file does not.
            const auto next = [&]() -> QString {
                if (!scan.output.isEmpty())
                    return {};
                QString candidate;
                do
                    candidate = commandLinePath(scan.path, scan.fname, ++counter, scan.ext);
                while (entryExists(candidate));
                return candidate;
            };
            if (oneDocument) {
                const ScannerLibrary::Handle image = library.AcquireImage(scan.parent);
                if (image == 0)
                    break;
                guard.held = image;
                if (library.AppendPage(image) == 0) {
                    fail(path, library.LastErrorText());
                    break;
                }
                ++documentPages;
                library.ReleaseImage(image);
                guard.held = 0;
            } else {
                // A page of its own file is coded while it comes, and not kept.
                QString writtenPath;
                if (library.AcquireFile(scan.parent, path, next, &writtenPath) == 0)
                    break;
                if (writtenPath.isEmpty()) {
                    fail(path, library.LastErrorText());
                    break;
                }
                result.path = writtenPath;
                ++result.pages;
                if (scan.written)
                    scan.written(writtenPath);
            }
            if (!scan.batch || library.GetTwainState() < ScannerLibrary::StateTransferReady)
                break;
        }
        if (documentOpen) {
            // What was taken before an interruption is kept; a document that lost a page or
            // got none is not written at all.
            if (documentPages > 0 && !fileFailed) {
                if (library.EndMultipageFile() != 0) {
                    result.path = scan.output;
                    result.pages = documentPages;
                    if (scan.written)
                        scan.written(scan.output);
                } else {
                    fail(scan.output, library.LastErrorText());
                }
            } else {
                library.EndMultipageFile();
            }
        }
    }
    result.written = result.pages > 0;
    const int libraryError = library.LastErrorCode();
    if (interrupted())
        result.outcome = CommandLineScanResult::Interrupted;
    else if (fileFailed)
        result.outcome = CommandLineScanResult::FileFailed;
    else if (result.written && libraryError == 0)
        result.outcome = CommandLineScanResult::Written;
    else
        result.outcome = CommandLineScanResult::ScannerFailed;
    reportFailures(library, failures, failureText);
    return result;
}
