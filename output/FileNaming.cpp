// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/FileNaming.h"

#include <QDir>
#include <QFileInfo>

namespace {

bool isBlankOrControl(QChar c)
{
    return c.unicode() <= 0x20;
}

QString trimControls(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankOrControl(text.at(begin)))
        ++begin;
    while (end > begin && isBlankOrControl(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// A long time format names the time zone with "t" letters; the suffix carries none, so
// they are dropped together with the blanks that set them apart. Quoted text stays.
QString withoutTimeZone(const QString& format)
{
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (quoted || c != u't') {
            out += c;
            continue;
        }
        while (i + 1 < format.size() && format.at(i + 1) == u't')
            ++i;
        while (!out.isEmpty() && out.back().isSpace())
            out.chop(1);
        while (i + 1 < format.size() && format.at(i + 1).isSpace() && out.isEmpty())
            ++i;
    }
    return out.trimmed();
}

NamingClock& clockSlot()
{
    static NamingClock clock;
    return clock;
}

} // namespace

QString FormatExtension(const QString& formatText)
{
    return QLocale::system().toLower(trimControls(formatText.left(4)));
}

QString trimmedFolder(const QString& folderText)
{
    return trimControls(folderText);
}

QString outputPath(const QString& folder, const QString& prefix, const QString& suffix,
                   const QString& extension)
{
    return folder + QDir::separator() + outputCaption(prefix, suffix, extension);
}

QString outputCaption(const QString& prefix, const QString& suffix, const QString& extension)
{
    return prefix + suffix + u'.' + extension;
}

bool fileTaken(const QString& path)
{
    const QFileInfo info(path);
    // A dangling link still blocks the name: nothing may be moved onto it.
    return (info.exists() && !info.isDir()) || info.isSymLink();
}

QString DateTimeSuffix(const QDateTime& now, const QLocale& locale)
{
    QString text = locale.toString(now.date(), QLocale::ShortFormat);
    const QTime time = now.time();
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
        const QTime wholeSeconds(time.hour(), time.minute(), time.second());
        text += u' ' + locale.toString(wholeSeconds,
                                       withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
    }
    text.replace(u':', u'-');
    text.replace(u'/', u'-');
    return text;
}

void setNamingClock(NamingClock clock)
{
    clockSlot() = std::move(clock);
}

QDateTime namingNow()
{
    const NamingClock& clock = clockSlot();
    return clock ? clock() : QDateTime::currentDateTime();
}

QString NextFreeSuffix(const QString& suffix, const NamingInputs& inputs)
{
    auto candidate = [&](const QString& s) {
        return outputPath(trimmedFolder(inputs.folderText()), inputs.prefix(), s,
                          inputs.extension());
    };
    if (!fileTaken(candidate(suffix)))
        return suffix;
    for (quint64 n = 1;; ++n) {
        const QString numbered = suffix + u'_' + QString::number(n);
        if (!fileTaken(candidate(numbered)))
            return numbered;
    }
}

QString commandLinePath(const QString& path, const QString& fname, int counter, const QString& ext)
{
    return path + QDir::separator() + fname + u' ' + QString::number(counter) + u'.' + ext;
}

QString NextFreeCommandLinePath(const QString& path, const QString& fname, const QString& ext,
                                int& counter)
{
    QString candidate = commandLinePath(path, fname, counter, ext);
    while (fileTaken(candidate))
        candidate = commandLinePath(path, fname, ++counter, ext);
    return candidate;
}
