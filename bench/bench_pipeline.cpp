// SPDX-License-Identifier: GPL-3.0-or-later
// One interactive scan job through the main window, as the wizard runs it: acquisition,
// the page file, the temporary bitmap copy, the thumbnail and the pane entry, for
// bench/pipeline.sh (compare: scanimage --format=png, and scanimage + convert).
// SANE_CONFIG_DIR decides the device and its defaults (page size, picture); the stored
// settings (XDG_CONFIG_HOME) give the TIFF compression.
//
//   bench_pipeline <folder> <dpi> <format index 0..5> [adf]
//
// Prints the number of pages the pane holds.
#include "ui/Tfrm_Main.h"
#include "ui_Tfrm_Main.h"

#include <QApplication>
#include <QListWidget>

#include <cstdio>
#include <ctime>

namespace {

// BENCH_PHASES=1: wall-clock stamps (to stderr) of each phase, to set against the process.
void stamp(const char* what)
{
    static const bool on = qEnvironmentVariableIsSet("BENCH_PHASES");
    if (!on)
        return;
    timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    std::fprintf(stderr, "%-28s %.4f\n", what, double(t.tv_sec) + t.tv_nsec / 1e9);
}

} // namespace

int main(int argc, char** argv)
{
    stamp("main entered");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillora"));
    QApplication::setApplicationName(QStringLiteral("Quillora"));
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: bench_pipeline <folder> <dpi> <format index> [adf]\n");
        return 2;
    }
    stamp("application made");
    Tfrm_Main window;
    stamp("window made");
    Ui::Tfrm_Main& ui = *window.ui();
    window.FillScannerList();
    stamp("scanners listed");
    if (ui.lv_Devices->count() == 0)
        return 1;
    ui.lv_Devices->setCurrentRow(0);
    ui.chb_UI->setChecked(true);
    ui.chb_ADF->setChecked(args.size() > 4 && args[4] == QLatin1String("adf"));
    ui.cmb_Mode->setCurrentIndex(2);
    ui.cmb_Resolution->setCurrentText(args[2]);
    ui.cb_Format->setCurrentIndex(args[3].toInt());
    ui.edt_Path->setText(args[1]);
    ui.RadioButton1->setChecked(true);
    window.RunScanJob();
    stamp("job done");
    std::printf("%d\n", ui.lv_Images->count());
    return ui.lv_Images->count() > 0 ? 0 : 1;
}
