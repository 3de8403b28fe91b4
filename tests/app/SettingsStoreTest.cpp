// SPDX-License-Identifier: GPL-3.0-or-later
#include "IsolatedTest.h"

#include "app/Error.h"
#include "app/SettingsStore.h"

#include <QDir>
#include <QFile>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <functional>

namespace {

// Tests run as root in CI; without this, permission bits would stop nothing. Drops the
// capabilities that override them, for this test's process only.
void obeyFilePermissions()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    ASSERT_EQ(syscall(SYS_capget, &header, data), 0);
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        data[cap / 32].effective &= ~(1u << (cap % 32));
    ASSERT_EQ(syscall(SYS_capset, &header, data), 0);
}

// The message of the failure fn raised, or "" when it raised none.
QString failureOf(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const QuilloraError& e) {
        return e.message();
    }
    return {};
}

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

class SettingsStoreTest : public IsolatedTest
{
protected:
    void plant(const QByteArray& text)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(settingsFile()).path()));
        QFile f(settingsFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
};

} // namespace

TEST_F(SettingsStoreTest, WritesReadBackUnderTheirOwnNames)
{
    {
        SettingsStore store;
        store.writeString("Path", "/home/Ann/My Scans, 2");
        store.writeInteger("Format", -1);
        store.writeBool("HideUI", true);
        store.writeString("Source", "Noname frontend-tester");
        store.deleteValue("Source");
    }
    SettingsStore store;
    EXPECT_EQ(store.readString("Path"), "/home/Ann/My Scans, 2");
    EXPECT_EQ(store.readInteger("Format"), -1);
    EXPECT_TRUE(store.readBool("HideUI"));
    EXPECT_FALSE(store.valueExists("Source"));
    EXPECT_EQ(store.readString("Source"), "");
    const QByteArray file = contents(settingsFile());
    EXPECT_TRUE(file.contains("Format=-1") && file.contains("HideUI=1")) << file.constData();
}

TEST_F(SettingsStoreTest, TypedReadsAndTheirErrors)
{
    plant("[General]\n"
          "Path=/srv/Scans\n"
          "Resolution=4\n"
          "Color=2.5\n"
          "Format=abc\n"
          "Datenum=\n"
          "ADF=7\n"
          "HideUI=true\n"
          "JPEGCompression=3000000000\n"
          "Source=a, b\n"
          "FilePrefix=\"x, y\"\n");
    SettingsStore store;
    const QString invalid = "Invalid data type for '%1'";
    const struct
    {
        const char* name;
        std::function<QString(SettingsStore&)> read;
        QString value;
        QString error;
    } cases[] = {
        {"Path", [](auto& s) { return s.readString("Path"); }, "/srv/Scans", ""},
        {"Resolution", [](auto& s) { return QString::number(s.readInteger("Resolution")); }, "4", ""},
        {"ADF", [](auto& s) { return QString::number(s.readBool("ADF")); }, "1", ""},
        {"FilePrefix", [](auto& s) { return s.readString("FilePrefix"); }, "x, y", ""},
        {"Lang", [](auto& s) { return s.readString("Lang"); }, "", ""},
        {"Color", [](auto& s) { return QString::number(s.readInteger("Color")); }, "", invalid},
        {"Format", [](auto& s) { return QString::number(s.readInteger("Format")); }, "", invalid},
        {"Datenum", [](auto& s) { return QString::number(s.readBool("Datenum")); }, "", invalid},
        {"HideUI", [](auto& s) { return QString::number(s.readBool("HideUI")); }, "", invalid},
        {"JPEGCompression", [](auto& s) { return QString::number(s.readInteger("JPEGCompression")); }, "", invalid},
        {"Source", [](auto& s) { return s.readString("Source"); }, "", invalid},
        {"TIFFCompression", [](auto& s) { return QString::number(s.readInteger("TIFFCompression")); }, "",
         "Failed to get data for '%1'"},
    };
    for (const auto& c : cases) {
        QString value;
        const QString error = failureOf([&] { value = c.read(store); });
        EXPECT_EQ(error, c.error.isEmpty() ? QString() : c.error.arg(c.name)) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
    }
}

TEST_F(SettingsStoreTest, UnreadableStoreFailsAndIsNeverRewritten)
{
    const QByteArray valid = "[General]\nPath=/srv/Scans\nResolution=4\n";
    const struct
    {
        const char* what;
        QByteArray text;
        bool unreadable;
    } cases[] = {
        {"garbage", "\x01\x02 not a settings file \xff\xfe\n", false},
        {"truncated", "[General]\nPath=/srv/Scans\n[Gen", false},
        {"unreadable", valid, true},
    };
    obeyFilePermissions();
    for (const auto& c : cases) {
        plant(c.text);
        if (c.unreadable) {
            ASSERT_TRUE(QFile::setPermissions(settingsFile(), QFile::WriteOwner));
        }
        // Twice: a later access point must not take the store for an empty one.
        for (int access = 0; access < 2; ++access) {
            SettingsStore store;
            EXPECT_EQ(failureOf([&] { store.valueExists("Path"); }), "Failed to get data for 'Path'") << c.what;
            EXPECT_EQ(failureOf([&] { store.readString("Path"); }), "Failed to get data for 'Path'") << c.what;
            EXPECT_EQ(failureOf([&] { store.readInteger("Resolution"); }), "Failed to get data for 'Resolution'")
                << c.what;
            EXPECT_EQ(failureOf([&] { store.writeString("Path", "/tmp"); }), "Failed to set data for 'Path'")
                << c.what;
            EXPECT_EQ(failureOf([&] { store.deleteValue("Source"); }), "Failed to set data for 'Source'") << c.what;
        }
        QFile::setPermissions(settingsFile(), QFile::ReadOwner | QFile::WriteOwner);
        EXPECT_EQ(contents(settingsFile()), c.text) << c.what;
    }
}

TEST_F(SettingsStoreTest, ReadOnlyLocationRefusesWritesAndKeepsTheRest)
{
    {
        SettingsStore store;
        store.writeInteger("Resolution", 4);
        store.writeString("Path", "/srv/Scans");
    }
    const QByteArray before = contents(settingsFile());
    obeyFilePermissions();
    const QString folder = QFileInfo(settingsFile()).path();
    ASSERT_TRUE(QFile::setPermissions(settingsFile(), QFile::ReadOwner));
    ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    {
        SettingsStore store;
        EXPECT_EQ(store.readInteger("Resolution"), 4);
        EXPECT_EQ(failureOf([&] { store.writeInteger("Resolution", 7); }), "Failed to set data for 'Resolution'");
        EXPECT_EQ(failureOf([&] { store.writeBool("HideUI", true); }), "Failed to set data for 'HideUI'");
    }
    EXPECT_EQ(contents(settingsFile()), before);
    // A later access point sees what the file holds, not the refused values.
    SettingsStore store;
    EXPECT_EQ(store.readInteger("Resolution"), 4);
    EXPECT_EQ(store.readString("Path"), "/srv/Scans");
    EXPECT_FALSE(store.valueExists("HideUI"));
}

// Writing what is stored already changes nothing on disk: the file is not made anew (and
// nobody waits for the disk), for the same text, number or flag alike.
TEST_F(SettingsStoreTest, AValueStoredAlreadyIsNotWrittenAgain)
{
    {
        SettingsStore store;
        store.writeInteger("Resolution", 4);
        store.writeString("FilePrefix", "Page_");
        store.writeBool("ADF", true);
    }
    const auto inode = [&] {
        struct stat st = {};
        return ::stat(QFile::encodeName(settingsFile()).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    const ino_t before = inode();
    SettingsStore store;
    store.writeInteger("Resolution", 4);
    store.writeString("FilePrefix", "Page_");
    store.writeBool("ADF", true);
    EXPECT_EQ(inode(), before);
    store.writeInteger("Resolution", 5);
    EXPECT_NE(inode(), before);
    EXPECT_EQ(SettingsStore().readInteger("Resolution"), 5);
}

// A FIFO would block the read for ever, a device like /dev/zero never end it, and a folder
// holds no values: each is an unreadable store, found without reading it, and left as it is.
TEST_F(SettingsStoreTest, ASettingsFileThatIsNotARegularFileIsUnreadable)
{
    enum Kind { Fifo, Folder, Device };
    const QString path = settingsFile();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    for (Kind kind : {Fifo, Folder, Device}) {
        SCOPED_TRACE(kind);
        QFile::remove(path);
        QDir().rmdir(path);
        switch (kind) {
        case Fifo:
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            break;
        case Folder:
            ASSERT_TRUE(QDir().mkdir(path));
            break;
        case Device:
            ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path));
            break;
        }
        const auto type = [&] {
            struct stat st{};
            ::lstat(QFile::encodeName(path).constData(), &st);
            return st.st_mode & S_IFMT;
        };
        const auto planted = type();
        SettingsStore store;
        EXPECT_EQ(failureOf([&] { store.valueExists("Lang"); }), "Failed to get data for 'Lang'");
        EXPECT_EQ(failureOf([&] { store.readString("Path"); }), "Failed to get data for 'Path'");
        EXPECT_EQ(failureOf([&] { store.writeInteger("Resolution", 4); }), "Failed to set data for 'Resolution'");
        EXPECT_EQ(type(), planted);
    }
}
