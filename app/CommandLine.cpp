// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLine.h"

#include <QDir>
#include <QFileInfo>

#include <limits>
#include <optional>

namespace {

bool isSeparator(QChar c) { return c.unicode() >= 1 && c.unicode() <= 32; }

// Only A to Z: other letters keep their case, as the option names are plain ASCII.
QString asciiLower(const QString& text)
{
    QString lower = text;
    for (QChar& c : lower)
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    return lower;
}

std::optional<int> hexDigit(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return std::nullopt;
}

// Leading blanks, an optional sign, then decimal digits or hexadecimal ones behind
// "$", "x" or "0x". Anything else, nothing at all, or a number beyond 32 bits fails.
std::optional<int> toInteger(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    int base = 10;
    if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return std::nullopt;
    const qint64 limit = negative ? -qint64(std::numeric_limits<int>::min())
                                  : qint64(std::numeric_limits<int>::max());
    qint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const std::optional<int> digit = hexDigit(text[i]);
        if (!digit || *digit >= base)
            return std::nullopt;
        magnitude = magnitude * base + *digit;
        if (magnitude > limit)
            return std::nullopt;
    }
    return int(negative ? -magnitude : magnitude);
}

// A double quote opens a stretch up to the next one (or the end); the quotes are dropped.
QString dropQuotes(const QString& parameter)
{
    QString out = parameter;
    out.remove(u'"');
    return out;
}

} // namespace

QString CommandLineOptions::defaultPath() { return QDir::homePath(); }

QStringList splitCommandLine(const QString& commandLine)
{
    QStringList parameters;
    const qsizetype n = commandLine.size();
    qsizetype i = 0;
    for (;;) {
        // Separators, and an empty pair of quotes where a parameter would start.
        for (;;) {
            while (i < n && isSeparator(commandLine[i]))
                ++i;
            if (i + 1 < n && commandLine[i] == u'"' && commandLine[i + 1] == u'"')
                i += 2;
            else
                break;
        }
        if (i >= n)
            break;
        QString parameter;
        while (i < n && !isSeparator(commandLine[i])) {
            if (commandLine[i] == u'"') {
                ++i;
                while (i < n && commandLine[i] != u'"')
                    parameter += commandLine[i++];
                if (i < n)
                    ++i;
            } else {
                parameter += commandLine[i++];
            }
        }
        parameters.append(parameter);
    }
    return parameters;
}

namespace {

enum class Option { None, Resolution, Mode, Adf, Ext, Path, Fname };

struct OptionName
{
    Option option;
    QStringView name;
};

// The order in which names are tested by the substring rule.
constexpr OptionName kOptionNames[] = {
    {Option::Resolution, u"resolution"}, {Option::Mode, u"mode"}, {Option::Adf, u"adf"},
    {Option::Ext, u"ext"},               {Option::Path, u"path"}, {Option::Fname, u"fname"},
};

// The name right behind the one-character prefix decides, so "/path=/srv/context" is a
// folder; a parameter that begins with none of the names falls back to the first name it
// contains anywhere ("/readfile" is the feeder).
Option optionOf(const QString& lower)
{
    const QStringView afterPrefix = QStringView(lower).mid(1);
    for (const OptionName& o : kOptionNames)
        if (afterPrefix.startsWith(o.name))
            return o.option;
    for (const OptionName& o : kOptionNames)
        if (lower.contains(o.name))
            return o.option;
    return Option::None;
}

QStringView nameOf(Option option)
{
    for (const OptionName& o : kOptionNames)
        if (o.option == option)
            return o.name;
    return {};
}

// Reads one parameter of the six options into options.
void applyParameter(const QString& parameter, CommandLineOptions& options)
{
    // The value sits behind a one-character prefix, the name and a one-character
    // separator; neither character is looked at, so "/x=1" and "-X:1" read alike.
    constexpr qsizetype maxValueLength = 100;
    const QString lower = asciiLower(parameter);
    const Option option = optionOf(lower);
    const auto valueOf = [option](const QString& text) {
        return text.mid(1 + nameOf(option).size() + 1, maxValueLength);
    };
    switch (option) {
    case Option::Resolution:
        if (const auto value = toInteger(valueOf(lower)))
            options.resolution = *value;
        break;
    case Option::Mode:
        if (const auto value = toInteger(valueOf(lower)))
            options.mode = *value;
        break;
    case Option::Adf:
        options.adf = true;
        break;
    case Option::Ext:
        options.ext = valueOf(parameter);
        break;
    case Option::Path:
        // Folder and name keep their case: file systems here tell the cases apart.
        options.path = valueOf(parameter);
        break;
    case Option::Fname:
        options.fname = valueOf(parameter);
        break;
    case Option::None:
        break;
    }
}

bool isLongOption(const QString& parameter) { return parameter.startsWith(u"--"); }

// "--name=value": the value, or nullopt when the parameter is not that option.
std::optional<QString> longValue(const QString& parameter, QStringView name)
{
    if (!parameter.startsWith(name) || parameter.size() == name.size()
        || parameter[name.size()] != u'=')
        return std::nullopt;
    return parameter.mid(name.size() + 1);
}

// Reads a "--" parameter as one of our options. False when it is none of them, and then
// either a usage error (it names nothing we know) or left to the six options (it holds one
// of their names: "--resolution=300" keeps its old reading, which ignores it).
bool applyLongOption(const QString& parameter, ScriptOptions& script)
{
    struct Flag
    {
        QStringView name;
        bool ScriptOptions::*field;
    };
    static constexpr Flag flags[] = {
        {u"--help", &ScriptOptions::help},       {u"--version", &ScriptOptions::version},
        {u"--list-devices", &ScriptOptions::listDevices}, {u"--batch", &ScriptOptions::batch},
        {u"--progress", &ScriptOptions::progress},
    };
    for (const Flag& f : flags) {
        if (parameter == f.name) {
            script.*(f.field) = true;
            return true;
        }
    }
    struct Valued
    {
        QStringView name;
        QString ScriptOptions::*field;
        const char* what;
    };
    static constexpr Valued valued[] = {
        {u"--device", &ScriptOptions::device, "a device name"},
        {u"--output", &ScriptOptions::output, "a file name"},
    };
    for (const Valued& v : valued) {
        if (parameter == v.name) {
            script.usageErrors << QStringLiteral("%1 needs %2: %1=<%3>")
                                      .arg(v.name, QLatin1String(v.what),
                                           v.name.mid(2).toString().toUpper());
            return true;
        }
        if (const auto value = longValue(parameter, v.name)) {
            if (value->isEmpty())
                script.usageErrors << QStringLiteral("%1 needs %2").arg(v.name, QLatin1String(v.what));
            else
                script.*(v.field) = *value;
            return true;
        }
    }
    if (optionOf(asciiLower(parameter)) != Option::None)
        return false;
    script.usageErrors << QStringLiteral("unknown option %1").arg(parameter);
    return true;
}

bool isMultipageName(const QString& file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    return suffix == u"pdf" || suffix == u"tif" || suffix == u"tiff";
}

bool isImageName(const QString& file)
{
    static const QStringList known{"bmp", "gif", "jpg", "jpeg", "png", "pdf", "tif", "tiff"};
    return known.contains(QFileInfo(file).suffix().toLower());
}

// What cannot be carried out as written, now that every parameter is read.
void checkTogether(const CommandLineOptions& options, ScriptOptions& script)
{
    if (script.help || script.version || script.listDevices)
        return; // they answer at once; the scan options do not matter then
    const bool scan = options.resolution != 0;
    if (options.resolution < 0)
        script.usageErrors << QStringLiteral("the resolution must be a positive number of dots per inch");
    if (!scan && (script.batch || script.progress || !script.device.isEmpty() || !script.output.isEmpty()))
        script.usageErrors << QStringLiteral("--device, --batch, --output and --progress need /resolution=<dpi>");
    if (script.batch && !options.adf)
        script.usageErrors << QStringLiteral("--batch takes every sheet of the feeder: add /adf");
    if (!script.output.isEmpty() && !isImageName(script.output))
        script.usageErrors << QStringLiteral("--output needs a file ending in .bmp, .gif, .jpg, .png, .pdf or .tif");
    else if (script.batch && !script.output.isEmpty() && !isMultipageName(script.output))
        script.usageErrors << QStringLiteral("--batch with --output needs a .pdf or .tif file, which can hold every sheet");
}

} // namespace

CommandLineOptions parseCommandLine(const QStringList& parameters)
{
    return parseFullCommandLine(parameters).options;
}

ParsedCommandLine parseFullCommandLine(const QStringList& parameters)
{
    ParsedCommandLine parsed;
    for (const QString& parameter : parameters) {
        if (isLongOption(parameter) && applyLongOption(parameter, parsed.script))
            continue;
        applyParameter(parameter, parsed.options);
    }
    checkTogether(parsed.options, parsed.script);
    return parsed;
}

bool ParsedCommandLine::needsNoWindow() const
{
    return options.resolution != 0 || script.help || script.version || script.listDevices
        || !script.usageErrors.isEmpty();
}

ParsedCommandLine fullCommandLineFromArguments(const QStringList& argv)
{
    QStringList parameters;
    for (qsizetype i = 1; i < argv.size(); ++i)
        parameters.append(dropQuotes(argv[i]));
    return parseFullCommandLine(parameters);
}

CommandLineOptions commandLineFromArguments(const QStringList& argv)
{
    return fullCommandLineFromArguments(argv).options;
}

QString usageText(const QString& programName)
{
    return QStringLiteral(
               "Usage: %1                      the scanning wizard\n"
               "       %1 /resolution=<dpi> [/mode=0|1|2] [/adf] [/ext=<extension>]\n"
               "          [/path=<folder>] [/fname=<prefix>] [--device=<name>] [--batch]\n"
               "          [--output=<file>] [--progress]\n"
               "       %1 --list-devices | --help | --version\n"
               "\n"
               "A non-zero resolution scans from the command line and ends; no display is needed.\n"
               "The page goes to <folder>/<prefix> <n>.<extension>, n counting up from 1 to the\n"
               "first name not taken; an existing file is never replaced.\n"
               "\n"
               "  /resolution=<dpi>  resolution in dots per inch (the device's nearest)\n"
               "  /mode=<n>          0 black and white (default), 1 gray, 2 colour\n"
               "  /adf               take the page from the document feeder\n"
               "  /ext=<extension>   bmp (default), gif, jpg, png, pdf or tiff\n"
               "  /path=<folder>     folder of the page (default: the home folder)\n"
               "  /fname=<prefix>    start of the file name (default: quillora)\n"
               "  The character before the name and the one after it may be any (-mode:2);\n"
               "  letter case of the name does not matter.\n"
               "\n"
               "  --device=<name>    scan from this device: a SANE name (test:1) or a product name\n"
               "                     (default: the remembered scanner, else $SANE_DEFAULT_DEVICE,\n"
               "                     else the first one)\n"
               "  --batch            with /adf: every sheet the feeder holds, a file each\n"
               "  --output=<file>    exactly this file, its format from its extension; with\n"
               "                     --batch a .pdf or .tif file holds every sheet\n"
               "  --progress         report each page's progress on standard error\n"
               "  --list-devices     list each device's SANE name and product name, and end\n"
               "  --help             show this text, and end\n"
               "  --version          show the program's version, and end\n"
               "\n"
               "Exit codes: 0 page(s) written; 2 usage error; 3 no scanner or scanner failure;\n"
               "4 a file could not be written; 130 interrupted (SIGINT, SIGTERM); 1 the wizard\n"
               "has no display.\n")
        .arg(programName);
}
