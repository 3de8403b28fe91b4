// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/Tfrm_About.h"
#include "app/Dialogs.h"
#include "app/ErrorReport.h"
#include "app/QuilloraApplication.h"
#include "app/StartUp.h"
#include "output/Tfrm_fmtSettings.h"
#include "scanner/ScannerLibrary.h"
#include "scanner/WidgetAcquisitionUi.h"
#include "ui/Artwork.h"
#include "ui/Tfrm_Main.h"
#include "ui/WidgetDialogs.h"

#include <QTimer>

#include <memory>

namespace {

// QUILLORA_SCREENSHOT=<file.png>: save a picture of the main window as it first appears
// and end, for the README's picture.
void saveScreenshotAndQuit(QWidget* window, const QString& file)
{
    QTimer::singleShot(200, window, [window, file] {
        window->grab().save(file);
        QCoreApplication::quit();
    });
}

} // namespace

// The wizard's program, which quillora hands a run without a command-line scan over to.
// Started by itself it takes the same command lines as quillora.
int main(int argc, char** argv)
{
    if (const std::optional<int> code = runUnlessWizard(argc, argv))
        return *code;
    chooseWindowSystemForWizard();
    QuilloraApplication app(argc, argv);
    if (wizardLacksDisplay(app))
        return ExitFailure;
    // The main window is an ordinary top-level window, so it is the one the task bar shows;
    // the other windows are its children and get no task-bar button of their own.
    QApplication::setApplicationName(QStringLiteral("Quillora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillora"));
    QApplication::setOrganizationName(QStringLiteral("Quillora"));
    // Desktop shells match the window to the installed desktop entry and icon by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUILLORA_APP_ID));
    // The logo, like the icon of the desktop entry.
    QApplication::setWindowIcon(QIcon(Artwork::logo(64)));

    WidgetDialogs dialogs;
    // The scanner's own dialog and the progress window of a hidden-dialog read.
    WidgetAcquisitionUi acquisitionUi;
    Dialogs::setCurrent(&dialogs);
    AcquisitionUi::setCurrent(&acquisitionUi);

    std::unique_ptr<Tfrm_Main> mainWindow;
    try {
        mainWindow = std::make_unique<Tfrm_Main>();
        auto* about = new Tfrm_About(mainWindow.get());
        auto* formatSettings = new Tfrm_fmtSettings(mainWindow.get());
        mainWindow->setAboutWindow(about);
        mainWindow->setFormatSettingsWindow(formatSettings);
    } catch (...) {
        reportCurrentFailure();
        AcquisitionUi::setCurrent(nullptr);
        Dialogs::setCurrent(nullptr);
        return 0;
    }

    mainWindow->show();
    const QString screenshot = qEnvironmentVariable("QUILLORA_SCREENSHOT");
    if (!screenshot.isEmpty())
        saveScreenshotAndQuit(mainWindow.get(), screenshot);
    const int code = app.exec();
    mainWindow.reset();
    AcquisitionUi::setCurrent(nullptr);
    ScannerLibrary::shutdown();
    Dialogs::setCurrent(nullptr);
    return code;
}
