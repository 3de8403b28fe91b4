// SPDX-License-Identifier: GPL-3.0-or-later
// A long feeder run in one process: ten large colour pages, each written as PNG and JPEG.
// The encoders start threads for large pages, which is exactly what a scanner driver that
// leaves the dynamic loader locked makes hang for ever; the test's time limit turns such a
// hang into a failure.
#include "SaneFixture.h"

#include "scanner/SaneScannerLibrary.h"
#include "scanner/SourceOptions.h"

#include <QImageReader>

namespace {

class LongFeederRunTest : public SaneFixture
{
};

TEST_F(LongFeederRunTest, TenLargeColourPagesAreWrittenAsPngAndJpeg)
{
    SaneScannerLibrary lib;
    ASSERT_EQ(lib.OpenSourceByName("Noname frontend-tester"), 1) << qPrintable(lib.LastErrorText());
    SourceOptions* options = lib.sourceOptions();
    ASSERT_TRUE(options);
    for (const auto& [name, value] :
         {std::pair<const char*, QVariant>{"test-picture", QStringLiteral("Color pattern")},
          {"br-x", 200.0},
          {"br-y", 200.0}}) {
        QString error;
        ASSERT_TRUE(options->setValue(QString::fromLatin1(name), value, &error)) << name;
    }
    lib.SetHideUI(1);
    lib.SetKeepSourceOpen(0);
    lib.SetUseFeeder(1);
    lib.SetPixelType(2);
    lib.SetResolution(300);

    int pages = 0;
    while (const ScannerLibrary::Handle page = lib.AcquireImage(nullptr)) {
        ++pages;
        EXPECT_EQ(lib.ImageWidth(page), 2362);
        EXPECT_EQ(lib.ImageHeight(page), 2362);
        for (const char* ext : {"png", "jpg"}) {
            const QString path = scratchDir() + QStringLiteral("/page%1.%2").arg(pages).arg(ext);
            ASSERT_EQ(lib.WriteImageFile(page, path), 1) << qPrintable(lib.LastErrorText());
            EXPECT_EQ(QImageReader(path).size(), QSize(2362, 2362)) << qPrintable(path);
        }
        lib.ReleaseImage(page);
        if (lib.GetTwainState() < ScannerLibrary::StateTransferReady || pages >= 10)
            break;
    }
    EXPECT_EQ(pages, 10);
    EXPECT_EQ(lib.LastErrorCode(), 0) << qPrintable(lib.LastErrorText());
    lib.EndAcquisition();
}

} // namespace
