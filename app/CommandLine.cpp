#include "app/CommandLine.h"

#include <QDir>

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

CommandLineOptions parseCommandLine(const QStringList& parameters)
{
    // The value sits behind a one-character prefix, the name and a one-character
    // separator; neither character is looked at, so "/x=1" and "-X:1" read alike.
    constexpr qsizetype maxValueLength = 100;
    const auto valueOf = [](const QString& text, const QString& name) {
        return text.mid(1 + name.size() + 1, maxValueLength);
    };

    CommandLineOptions options;
    for (const QString& parameter : parameters) {
        const QString lower = asciiLower(parameter);
        // The first name contained anywhere decides, in this order: "/path=.../Mode" is
        // a mode parameter.
        if (lower.contains(u"resolution")) {
            if (const auto value = toInteger(valueOf(lower, QStringLiteral("resolution"))))
                options.resolution = *value;
        } else if (lower.contains(u"mode")) {
            if (const auto value = toInteger(valueOf(lower, QStringLiteral("mode"))))
                options.mode = *value;
        } else if (lower.contains(u"adf")) {
            options.adf = true;
        } else if (lower.contains(u"ext")) {
            options.ext = valueOf(parameter, QStringLiteral("ext"));
        } else if (lower.contains(u"path")) {
            // Folder and name keep their case: file systems here tell the cases apart.
            options.path = valueOf(parameter, QStringLiteral("path"));
        } else if (lower.contains(u"fname")) {
            options.fname = valueOf(parameter, QStringLiteral("fname"));
        }
    }
    return options;
}

CommandLineOptions commandLineFromArguments(const QStringList& argv)
{
    QStringList parameters;
    for (qsizetype i = 1; i < argv.size(); ++i)
        parameters.append(dropQuotes(argv[i]));
    return parseCommandLine(parameters);
}
