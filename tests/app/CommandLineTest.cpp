#include "app/CommandLine.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

struct ParseCase
{
    const char* what;
    QStringList parameters;
    // Only the fields a case changes; the rest must keep their defaults.
    std::function<void(CommandLineOptions&)> expect;
};

QString repeated(QChar c, int n) { return QString(n, c); }

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.what; }

class ParseCommandLine : public ::testing::TestWithParam<ParseCase>
{
};

} // namespace

TEST_P(ParseCommandLine, Case)
{
    const ParseCase& c = GetParam();
    CommandLineOptions expected;
    if (c.expect)
        c.expect(expected);
    const CommandLineOptions got = parseCommandLine(c.parameters);
    EXPECT_EQ(got.resolution, expected.resolution);
    EXPECT_EQ(got.mode, expected.mode);
    EXPECT_EQ(got.adf, expected.adf);
    EXPECT_EQ(got.ext, expected.ext);
    EXPECT_EQ(got.path, expected.path);
    EXPECT_EQ(got.fname, expected.fname);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ParseCommandLine, ::testing::Values(
    ParseCase{"nothing gives the defaults", {}, nullptr},
    ParseCase{"slash and equals", {"/resolution=300"}, [](auto& o) { o.resolution = 300; }},
    ParseCase{"prefix, separator and case not looked at", {"-RESOLUTION:300"}, [](auto& o) { o.resolution = 300; }},
    ParseCase{"no prefix shifts the value", {"resolution=300"}, nullptr},
    ParseCase{"two-character prefix fails to convert", {"/resolution=150", "--resolution=300"}, [](auto& o) { o.resolution = 150; }},
    ParseCase{"text value ignored", {"/resolution=abc"}, nullptr},
    ParseCase{"empty and short values ignored", {"/mode=1", "/mode=", "/mode"}, [](auto& o) { o.mode = 1; }},
    ParseCase{"later overrides earlier", {"/mode=1", "/mode=2"}, [](auto& o) { o.mode = 2; }},
    ParseCase{"leading blanks and signs", {"/mode=  -7", "/resolution=+42"}, [](auto& o) { o.mode = -7; o.resolution = 42; }},
    ParseCase{"trailing garbage fails", {"/mode=2", "/mode=3 ", "/mode=3x"}, [](auto& o) { o.mode = 2; }},
    ParseCase{"hex prefixes", {"/resolution=$12C", "/mode=x1f"}, [](auto& o) { o.resolution = 300; o.mode = 31; }},
    ParseCase{"0x prefix and signed hex", {"/resolution=0x10", "/mode=-$A"}, [](auto& o) { o.resolution = 16; o.mode = -10; }},
    ParseCase{"bare hex prefix fails", {"/mode=4", "/mode=$", "/mode=0x", "/mode=$g"}, [](auto& o) { o.mode = 4; }},
    ParseCase{"32-bit limits", {"/resolution=2147483647", "/mode=-2147483648"},
              [](auto& o) { o.resolution = 2147483647; o.mode = -2147483647 - 1; }},
    ParseCase{"beyond 32 bits fails", {"/resolution=5", "/resolution=2147483648", "/resolution=$80000000", "/resolution=99999999999999999999"},
              [](auto& o) { o.resolution = 5; }},
    ParseCase{"mode is tested before path", {"/path=/srv/Scans/Mode"}, nullptr},
    ParseCase{"ext keeps its case", {"/ext=JPG"}, [](auto& o) { o.ext = "JPG"; }},
    ParseCase{"path and fname keep their case", {"/path=/home/Ann/My Scans", "/FNAME=Page"},
              [](auto& o) { o.path = "/home/Ann/My Scans"; o.fname = "Page"; }},
    ParseCase{"any parameter containing adf", {"/readfile"}, [](auto& o) { o.adf = true; }},
    ParseCase{"a name tested earlier wins over adf", {"/resolution=1adf"}, nullptr},
    ParseCase{"unknown parameters ignored", {"/help", "scan", ""}, nullptr},
    ParseCase{"value cut to 100 characters", {"/path=" + repeated('a', 120), "/resolution=" + repeated('0', 99) + "12"},
              [](auto& o) { o.path = repeated('a', 100); o.resolution = 1; }}
));
// clang-format on

TEST(CommandLineDefaults, HomeFolderAndArgumentsLoseTheirQuotes)
{
    EXPECT_EQ(CommandLineOptions().path, QDir::homePath());
    const CommandLineOptions o = commandLineFromArguments(
        {"/usr/bin/quillora", "/resolution=200", "/path=\"/tmp/My Scans\"", "\"/fname=Page 1\""});
    EXPECT_EQ(o.resolution, 200);
    EXPECT_EQ(o.path, "/tmp/My Scans");
    EXPECT_EQ(o.fname, "Page 1");
    // The program's own path is never an option, whatever it is called.
    EXPECT_EQ(commandLineFromArguments({"/opt/adf/quillora"}).adf, false);
}

TEST(SplitCommandLine, QuotesAndSeparators)
{
    const struct
    {
        QString line;
        QStringList parameters;
    } cases[] = {
        {"prog /a  /b", {"prog", "/a", "/b"}},
        {"prog\t\r\n/a\x01/b", {"prog", "/a", "/b"}},
        {"prog \"/path=/tmp/My Scans\"", {"prog", "/path=/tmp/My Scans"}},
        {"prog /path=\"/tmp/My Scans\" /x", {"prog", "/path=/tmp/My Scans", "/x"}},
        {"prog \"\" \"\"/a \"\"", {"prog", "/a"}},
        {"prog a\"\"b", {"prog", "ab"}},
        {"prog /fname=\"open ended", {"prog", "/fname=open ended"}},
        {"  ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitCommandLine(c.line), c.parameters) << c.line.toStdString();
}
