// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/FileNaming.h"
#include "IsolatedTest.h"

#include <QDir>
#include <QFile>

#include <gmock/gmock.h>

namespace {

class FileNamingTest : public IsolatedTest
{
protected:
    void touch(const QString& name)
    {
        QFile f(scratchDir() + u'/' + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    NamingInputs inputs(const QString& prefix, const QString& extension)
    {
        const QString folder = scratchDir();
        return {[folder] { return folder; }, [prefix] { return prefix; },
                [extension] { return extension; }};
    }
};

struct SuffixCase
{
    const char* name;
    QStringList files;
    QStringList folders;
    QString prefix;
    QString suffix;
    QString extension;
    QString expected;
    QStringList danglingLinks = {};
};

TEST_F(FileNamingTest, NextFreeSuffixTable)
{
    const QList<SuffixCase> cases = {
        {"free name kept", {}, {}, "Quillora_", "1", "bmp", "1"},
        {"1 and 1_1 taken",
         {"Quillora_1.bmp", "Quillora_1_1.bmp"},
         {},
         "Quillora_",
         "1",
         "bmp",
         "1_2"},
        {"another extension does not count", {"Quillora_1.png"}, {}, "Quillora_", "1", "bmp", "1"},
        {"extension compared exactly", {"Quillora_1.BMP"}, {}, "Quillora_", "1", "bmp", "1"},
        {"a folder does not count", {}, {"Quillora_1.bmp"}, "Quillora_", "1", "bmp", "1"},
        {"leading zeros kept", {}, {}, "Quillora_", "007", "bmp", "007"},
        {"leading zeros kept when taken",
         {"Quillora_007.bmp"},
         {},
         "Quillora_",
         "007",
         "bmp",
         "007_1"},
        {"thousands separator carried",
         {"Quillora_1,000.jpg"},
         {},
         "Quillora_",
         "1,000",
         "jpg",
         "1,000_1"},
        {"prefix not trimmed", {"Scan1.bmp"}, {}, "Scan ", "1", "bmp", "1"},
        {"prefix blank counts", {"Scan 1.bmp"}, {}, "Scan ", "1", "bmp", "1_1"},
        // Nothing may be moved onto a link, whether or not it points anywhere.
        {"a dangling link blocks the name", {}, {}, "Quillora_", "1", "bmp", "1_1", {"Quillora_1.bmp"}},
    };
    for (const SuffixCase& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(scratchDir()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(scratchDir()));
        for (const QString& f : c.files)
            touch(f);
        for (const QString& d : c.folders)
            ASSERT_TRUE(QDir(scratchDir()).mkdir(d));
        for (const QString& l : c.danglingLinks)
            ASSERT_TRUE(QFile::link(scratchDir() + "/gone", scratchDir() + u'/' + l));
        EXPECT_EQ(NextFreeSuffix(c.suffix, inputs(c.prefix, c.extension)), c.expected);
    }
}

TEST_F(FileNamingTest, FolderTrimmedAndInputsReadForEveryCandidate)
{
    touch("Quillora_1.bmp");
    touch("Quillora_1_1.png");
    int extensionReads = 0;
    const QString folder = QStringLiteral("  \t") + scratchDir() + QStringLiteral(" \n");
    const NamingInputs changing{
        [folder] { return folder; }, [] { return QStringLiteral("Quillora_"); },
        [&] { return ++extensionReads == 1 ? QStringLiteral("bmp") : QStringLiteral("png"); }};
    // The format changed to PNG after the first try: 1_1 is then taken as a PNG.
    EXPECT_EQ(NextFreeSuffix(QStringLiteral("1"), changing), QStringLiteral("1_2"));
    EXPECT_EQ(extensionReads, 3);
}

TEST_F(FileNamingTest, OutputPathAddsSeparatorEvenAfterOne)
{
    EXPECT_EQ(outputPath("/", "Quillora_", "1", "bmp"), QStringLiteral("//Quillora_1.bmp"));
    EXPECT_EQ(outputCaption("Quillora_", "1_2", "tiff"), QStringLiteral("Quillora_1_2.tiff"));
}

TEST_F(FileNamingTest, FormatExtensionOfEveryFormat)
{
    const QStringList items = {"BMP (Windows Bitmap)",
                               "GIF (Graphic Interchange Format)",
                               "JPG (JPEG)",
                               "PNG (Portable Network Graphics)",
                               "PDF (Portable Document Format)",
                               "TIFF (Tag Image File Format)"};
    QStringList extensions;
    for (const QString& item : items)
        extensions << FormatExtension(item);
    EXPECT_EQ(extensions, QStringList({"bmp", "gif", "jpg", "png", "pdf", "tiff"}));
    EXPECT_EQ(FormatExtension(QString()), QString());
}

TEST_F(FileNamingTest, DateTimeSuffixUnderFixedLocales)
{
    const QDateTime evening(QDate(2008, 12, 8), QTime(21, 15, 3, 250));
    const QLocale german(QLocale::German, QLocale::Germany);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(DateTimeSuffix(evening, german), QStringLiteral("08.12.08 21-15-03"));
    EXPECT_EQ(DateTimeSuffix(evening, us), QStringLiteral("12-8-08 9-15-03 PM"));
    // Midnight, whatever the milliseconds: the date alone.
    EXPECT_EQ(DateTimeSuffix(QDateTime(QDate(2008, 12, 8), QTime(0, 0, 0, 999)), german),
              QStringLiteral("08.12.08"));
}

TEST_F(FileNamingTest, TwoPagesInTheSameSecondGetNumbered)
{
    const QDateTime fixed(QDate(2024, 3, 1), QTime(10, 20, 30));
    setNamingClock([fixed] { return fixed; });
    const NamingInputs in = inputs("Scan_", "png");
    const QString first = NextFreeSuffix(DateTimeSuffix(namingNow(), QLocale::system()), in);
    touch(outputCaption("Scan_", first, "png"));
    const QString second = NextFreeSuffix(DateTimeSuffix(namingNow(), QLocale::system()), in);
    setNamingClock(nullptr);
    EXPECT_EQ(second, first + QStringLiteral("_1"));
    EXPECT_FALSE(first.contains(u':') || first.contains(u'/'));
}

TEST_F(FileNamingTest, CommandLinePathRaisesCounterPastTakenFiles)
{
    int counter = 1;
    EXPECT_EQ(NextFreeCommandLinePath(scratchDir(), "Page", "PNG", counter),
              scratchDir() + "/Page 1.PNG");
    EXPECT_EQ(counter, 1);
    touch("Page 1.PNG");
    touch("Page 2.PNG");
    ASSERT_TRUE(QDir(scratchDir()).mkdir("Page 3.PNG")); // a folder does not take the name
    EXPECT_EQ(NextFreeCommandLinePath(scratchDir(), "Page", "PNG", counter),
              scratchDir() + "/Page 3.PNG");
    EXPECT_EQ(counter, 3);
}

} // namespace
