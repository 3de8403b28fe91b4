// SPDX-License-Identifier: GPL-3.0-or-later
#include "IsolatedTest.h"

#include <QDir>
#include <QSettings>

void IsolatedTest::SetUp()
{
    ASSERT_TRUE(m_root.isValid());
    for (const char* sub : {"config", "temp", "scratch"})
        ASSERT_TRUE(QDir(m_root.path()).mkpath(QString::fromLatin1(sub)));
    qputenv("XDG_CONFIG_HOME", configDir().toLocal8Bit());
    qputenv("TEMP", tempDir().toLocal8Bit());
    // QSettings caches its user path once per process; point it here explicitly.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, configDir());
}

void IsolatedTest::TearDown()
{
    // Leave the tree writable so QTemporaryDir can remove what a test made read-only.
    QDir dir(m_root.path());
    const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
    std::function<void(const QString&)> unlock = [&](const QString& path) {
        QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner | QFile::ReadOwner
                                        | QFile::ExeOwner);
        for (const QFileInfo& fi : QDir(path).entryInfoList(all))
            if (fi.isDir() && !fi.isSymLink())
                unlock(fi.filePath());
    };
    unlock(dir.path());
}

QString IsolatedTest::configDir() const { return m_root.filePath(QStringLiteral("config")); }
QString IsolatedTest::tempDir() const { return m_root.filePath(QStringLiteral("temp")); }
QString IsolatedTest::scratchDir() const { return m_root.filePath(QStringLiteral("scratch")); }

QString IsolatedTest::settingsFile() const
{
    return configDir() + QStringLiteral("/Quillora/Quillora.conf");
}
