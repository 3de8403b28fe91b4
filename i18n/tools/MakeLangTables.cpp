// SPDX-License-Identifier: GPL-3.0-or-later
// Build tool: turns a translation table's UTF-8 source (i18n/tables/*.table) into the
// stored table the program carries as resource data.
//
//   quillora_make_langtables <source.table> <output> [NAME=VALUE ...]
//
// Every @NAME@ in a row is replaced by VALUE first. '|' stands for the delimiter byte.
// The sections must appear once each, in their stored order; a text the code page cannot
// hold fails the build rather than reaching the table as '?'.
#include "i18n/Cp1251.h"
#include "i18n/LangTableFormat.h"

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "quillora_make_langtables: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return fail(QStringLiteral("usage: quillora_make_langtables <source> <output> [NAME=VALUE ...]"));
    const QString sourcePath = QString::fromLocal8Bit(argv[1]);
    const QString outputPath = QString::fromLocal8Bit(argv[2]);
    QList<QPair<QString, QString>> substitutions;
    for (int i = 3; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        const qsizetype eq = arg.indexOf(u'=');
        if (eq <= 0)
            return fail(QStringLiteral("bad substitution '%1'").arg(arg));
        substitutions.append({QLatin1Char('@') + arg.left(eq) + QLatin1Char('@'), arg.mid(eq + 1)});
    }

    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(sourcePath, source.errorString()));
    const QStringList lines = QString::fromUtf8(source.readAll()).split(u'\n');

    SectionLists sections;
    int current = -1;
    int lineNumber = 0;
    for (QString line : lines) {
        ++lineNumber;
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const auto where = QStringLiteral("%1:%2: ").arg(sourcePath).arg(lineNumber);
        if (!line.contains(u'|')) {
            const int expected = current + 1;
            if (expected >= kKeptSectionCount || line != QString::fromLatin1(sectionHeader(expected)))
                return fail(where + QStringLiteral("expected the header %1")
                                        .arg(expected < kKeptSectionCount
                                                 ? QString::fromLatin1(sectionHeader(expected))
                                                 : QStringLiteral("(none: stCharSets is the last)")));
            current = expected;
            continue;
        }
        if (current < 0)
            return fail(where + QStringLiteral("row before the first section header"));
        for (const auto& [name, value] : substitutions)
            line.replace(name, value);
        if (line.contains(u'@'))
            return fail(where + QStringLiteral("unreplaced placeholder"));
        bool ok = false;
        QByteArray row = encodeCp1251(line, &ok);
        if (!ok)
            return fail(where + QStringLiteral("a character outside code page 1251"));
        row.replace('|', '\x01');
        sections[static_cast<std::size_t>(current)].append(row);
    }
    if (current != kKeptSectionCount - 1)
        return fail(sourcePath + QStringLiteral(": sections missing after %1")
                                     .arg(current < 0 ? QStringLiteral("the start")
                                                      : QString::fromLatin1(sectionHeader(current))));

    QSaveFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly) || output.write(WriteOurStrProps(sections)) < 0
        || !output.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(outputPath, output.errorString()));
    return 0;
}
