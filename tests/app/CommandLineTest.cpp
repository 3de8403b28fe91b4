// SPDX-License-Identifier: GPL-3.0-or-later
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
    ParseCase{"the name behind the prefix decides", {"/path=/srv/Scans/Mode"}, [](auto& o) { o.path = "/srv/Scans/Mode"; }},
    ParseCase{"a folder holding adf is a folder", {"/path=/home/me/roadfiles"}, [](auto& o) { o.path = "/home/me/roadfiles"; }},
    ParseCase{"a folder holding ext is a folder", {"/path=/home/me/context"}, [](auto& o) { o.path = "/home/me/context"; }},
    ParseCase{"a prefix holding mode is a prefix", {"-fname=Model"}, [](auto& o) { o.fname = "Model"; }},
    ParseCase{"no name at the start: the first contained decides", {"/xpath=/srv/Mode"}, nullptr},
    ParseCase{"ext keeps its case", {"/ext=JPG"}, [](auto& o) { o.ext = "JPG"; }},
    ParseCase{"path and fname keep their case", {"/path=/home/Ann/My Scans", "/FNAME=Page"},
              [](auto& o) { o.path = "/home/Ann/My Scans"; o.fname = "Page"; }},
    ParseCase{"any parameter containing adf", {"/readfile"}, [](auto& o) { o.adf = true; }},
    ParseCase{"a name tested earlier wins over adf", {"/resolution=1adf"}, nullptr},
    ParseCase{"unknown parameters ignored", {"/help", "scan", ""}, nullptr},
    ParseCase{"options of our own are not read as the six", {"--output=/srv/adf/path.pdf", "--device=test:1", "--help"}, nullptr},
    ParseCase{"a -- word holding a name keeps the old reading", {"/resolution=150", "--resolution=300", "--readfile"},
              [](auto& o) { o.resolution = 150; o.adf = true; }},
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

// Options of our own: what each command line asks for and which are usage errors.
TEST(ScriptOptions, Table)
{
    const struct
    {
        QStringList parameters;
        const char* expected; // flags set, device, output, then the number of usage errors
    } cases[] = {
        {{}, "---- || 0"},
        {{"--help"}, "h--- || 0"},
        {{"--version", "--bogus"}, "-v-- || 1"},
        {{"--list-devices"}, "--l- || 0"},
        {{"/resolution=300", "/adf", "--batch", "--output=/tmp/all.pdf", "--progress"}, "---bp |/tmp/all.pdf| 0"},
        {{"/resolution=300", "--device=test:1"}, "---- test:1|| 0"},
        {{"/resolution=300", "--device="}, "---- || 1"},
        {{"/resolution=300", "--output"}, "---- || 1"},
        {{"/resolution=300", "--batch"}, "---b || 1"},
        {{"/resolution=300", "/adf", "--batch", "--output=/tmp/p.png"}, "---b |/tmp/p.png| 1"},
        {{"/resolution=300", "--output=/tmp/page.txt"}, "---- |/tmp/page.txt| 1"},
        {{"/resolution=300", "--output=/tmp/page.JPG"}, "---- |/tmp/page.JPG| 0"},
        {{"--output=/tmp/page.png"}, "---- |/tmp/page.png| 1"},
        {{"/resolution=-300"}, "---- || 1"},
        {{"/resolution=abc"}, "---- || 0"},
        {{"--Help"}, "---- || 1"},
        {{"--"}, "---- || 1"},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine p = parseFullCommandLine(c.parameters);
        const ScriptOptions& s = p.script;
        QString got = QString(s.help ? "h" : "-") + (s.version ? "v" : "-") + (s.listDevices ? "l" : "-")
                      + (s.batch ? "b" : "-") + (s.progress ? "p" : "") + " " + s.device + "|" + s.output
                      + "| " + QString::number(s.usageErrors.size());
        EXPECT_EQ(got, QString::fromUtf8(c.expected)) << c.parameters.join(' ').toStdString() << ": "
                                                      << s.usageErrors.join("; ").toStdString();
    }
}

TEST(ScriptOptions, OnlyTheWizardNeedsAWindow)
{
    EXPECT_FALSE(parseFullCommandLine({}).needsNoWindow());
    EXPECT_FALSE(parseFullCommandLine({"/adf", "/ext=jpg"}).needsNoWindow());
    for (const QStringList& line : {QStringList{"/resolution=150"}, QStringList{"--help"},
                                    QStringList{"--version"}, QStringList{"--list-devices"},
                                    QStringList{"--nonsense"}})
        EXPECT_TRUE(parseFullCommandLine(line).needsNoWindow()) << line.join(' ').toStdString();
}
