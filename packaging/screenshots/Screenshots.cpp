// SPDX-License-Identifier: GPL-3.0-or-later
// Walks the wizard through its three pages as a user would (the settings come from the
// store the calling script prepared) and saves a picture of each page.
#include "ui/Tfrm_Main.h"
#include "ui/WidgetDialogs.h"
#include "ui_Tfrm_Main.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTest>

#include <cstdio>

namespace {
bool save(QWidget* window, const QString& file)
{
    QApplication::processEvents();
    QTest::qWait(300);
    if (!window->grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillora"));
    QApplication::setOrganizationName(QStringLiteral("Quillora"));
    const QStringList args = QApplication::arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: quillora_screenshots <output folder> <name prefix> [pages]\n");
        return 2;
    }
    const QString folder = args[1];
    const QString prefix = args[2];
    const int pages = args.size() > 3 ? args[3].toInt() : 3;

    WidgetDialogs dialogs;
    Dialogs::setCurrent(&dialogs);
    Tfrm_Main window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const QStringList names = {"scanner", "settings", "images"};
    for (int i = 0; i < pages && i < names.size(); ++i) {
        if (i > 0)
            window.ui()->btn_Next->click();
        if (!save(&window, QDir(folder).filePath(prefix + "-" + names[i] + ".png")))
            return 1;
    }
    Dialogs::setCurrent(nullptr);
    return 0;
}
