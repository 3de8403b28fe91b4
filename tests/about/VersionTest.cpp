// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/FileVersion.h"
#include "about/VersionNumbers.h"
#include "IsolatedTest.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

QString longVersionCut()
{
    QString text;
    for (int i = 0; i < 254; ++i)
        text.append(QChar(u'0' + i % 10));
    return text;
}

TEST(ReadFileVersion, ReadsTheRecordOfEachFile)
{
    struct Case { const char* file; QString expected; };
    const Case cases[] = {
        {QUILLORA_EXECUTABLE, QStringLiteral("1.17.0.0")},
        {FIXTURE_GERMAN, QStringLiteral("2.5.0.7")},  // table 040704E4
        {FIXTURE_LOWERCASE, QString()},               // "040904e4" is not "040904E4"
        {FIXTURE_LONG, longVersionCut()},
        {FIXTURE_NONE, QString()},
        {"/nonexistent/quillora", QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadFileVersion(QString::fromUtf8(c.file)), c.expected) << c.file;
    EXPECT_EQ(ReadFileVersion(QCoreApplication::applicationFilePath()), u"1.17.0.0");
}

TEST(ReadFileVersion, ProgramRecordHoldsItsStrings)
{
    const QByteArray record = readVersionRecordSection(QStringLiteral(QUILLORA_EXECUTABLE));
    const std::pair<const char*, const char*> strings[] = {
        {"FileVersion", "1.17.0.0"},        {"ProductVersion", "1.17.0.0"},
        {"FileDescription", "Scanning wizard"}, {"ProductName", "Quillora"},
        {"InternalName", "quillora"},       {"OriginalFilename", "quillora"},
    };
    for (const auto& [key, value] : strings)
        EXPECT_EQ(versionRecordString(record, QString::fromLatin1(key)), QLatin1String(value)) << key;
    EXPECT_FALSE(versionRecordString(record, QStringLiteral("CompanyName")).isEmpty());
    EXPECT_FALSE(versionRecordString(record, QStringLiteral("LegalCopyright")).isEmpty());
}

// Damaged files and records must read as "no version", never outside their bytes.
class DamagedVersionFile : public IsolatedTest {};

TEST_F(DamagedVersionFile, ReadsEmptyOrTheVersionWithoutStrayingOutOfBounds)
{
    QFile program(QStringLiteral(QUILLORA_EXECUTABLE));
    ASSERT_TRUE(program.open(QIODevice::ReadOnly));
    const QByteArray elf = program.readAll();
    const QString path = scratchDir() + QStringLiteral("/damaged");
    for (qsizetype size : {qsizetype(0), qsizetype(4), qsizetype(63), elf.size() / 2}) {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(elf.left(size));
        out.close();
        EXPECT_EQ(ReadFileVersion(path), QString()) << size;
    }

    const QByteArray record = readVersionRecordSection(QStringLiteral(QUILLORA_EXECUTABLE));
    ASSERT_FALSE(record.isEmpty());
    for (qsizetype size = 0; size < record.size(); ++size)
        versionRecordString(record.left(size), QStringLiteral("FileVersion"));
    QRandomGenerator random(7);
    for (int round = 0; round < 2000; ++round) {
        QByteArray damaged = record;
        for (int i = 0; i < 4; ++i)
            damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
        const QString text = versionRecordString(damaged, QStringLiteral("FileVersion"));
        EXPECT_LE(text.size(), 254);
    }
}

TEST(ParseVersionNumbers, TakesTheFirstFourRunsOfDigits)
{
    struct Case { const char* text; std::optional<std::array<qint32, 4>> numbers; };
    const Case cases[] = {
        {"1.17.0.0", std::array<qint32, 4>{1, 17, 0, 0}},
        {"1.18", std::array<qint32, 4>{1, 18, 0, 0}},
        {"Release 1.20 build 7", std::array<qint32, 4>{1, 20, 7, 0}},
        {"1.17.0.0.5", std::array<qint32, 4>{1, 17, 0, 0}},
        {"1.2.3.4.99999999999", std::array<qint32, 4>{1, 2, 3, 4}}, // fifth run never read
        {"", std::array<qint32, 4>{0, 0, 0, 0}},
        {"00000000000007.2147483647", std::array<qint32, 4>{7, 2147483647, 0, 0}},
        {"\u0661.\u0662", std::array<qint32, 4>{0, 0, 0, 0}}, // only 0-9 are digits here
        {"2147483648", std::nullopt},
        {"1.12345678901", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto v = ParseVersionNumbers(QString::fromUtf8(c.text));
        ASSERT_EQ(v.has_value(), c.numbers.has_value()) << c.text;
        if (v) {
            EXPECT_EQ((std::array<qint32, 4>{v->a, v->b, v->c, v->d}), *c.numbers) << c.text;
        }
    }
}

TEST(VersionKey, SpillsIntoTheNextPlaceAndWrapsAt32Bits)
{
    EXPECT_EQ(versionKey({1, 17, 0, 0}), 1170000);
    EXPECT_EQ(versionKey({1, 100, 0, 0}), versionKey({2, 0, 0, 0}));
    EXPECT_GT(versionKey({1, 100, 0, 0}), versionKey({1, 99, 0, 0}));
    // 2148 × 1 000 000 passes 2^31 and wraps to a negative key.
    EXPECT_EQ(versionKey({2148, 0, 0, 0}), qint32(2148000000LL - 4294967296LL));
    EXPECT_EQ(versionKey({2147483647, 2147483647, 2147483647, 2147483647}),
              qint32(quint32(2147483647u * 1010101u)));
}

} // namespace
