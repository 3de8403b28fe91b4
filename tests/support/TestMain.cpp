// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QByteArray>

#include "scanner/ScannerLibrary.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // Widget tests never need a display; a run from a terminal with one should not pop windows.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The scanner helper of this build, unless a test chooses another (a fake).
    if (qEnvironmentVariableIsEmpty("QUILLORA_SCANNER_HELPER"))
        qputenv("QUILLORA_SCANNER_HELPER", QUILLORA_BUILT_HELPER);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillora"));
    QApplication::setApplicationName(QStringLiteral("Quillora"));
    const int result = RUN_ALL_TESTS();
    ScannerLibrary::shutdown();
    return result;
}
