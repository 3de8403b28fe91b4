// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/RenameNoReplace.h"

#include "IsolatedTest.h"

#include <QDir>
#include <QFile>

class RenameNoReplaceTest : public IsolatedTest
{
protected:
    void write(const QString& name, const QByteArray& content)
    {
        QFile f(scratchDir() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray read(const QString& name)
    {
        QFile f(scratchDir() + "/" + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList files() { return QDir(scratchDir()).entryList(QDir::Files, QDir::Name); }
};

TEST_F(RenameNoReplaceTest, RenamesOrRefusesWithoutTouchingOtherFiles)
{
    struct Case
    {
        const char* from;
        const char* to;
        bool ok;
        QStringList after;
    };
    const Case cases[] = {
        {"Quillora_1.jpg", "Quillora_1.JPG", true, {"Quillora_1.JPG", "other.jpg"}},
        {"Quillora_1.jpg", "page.png", true, {"other.jpg", "page.png"}},
        {"Quillora_1.jpg", "other.jpg", false, {"Quillora_1.jpg", "other.jpg"}},
        {"Quillora_1.jpg", "../escaped.jpg", false, {"Quillora_1.jpg", "other.jpg"}},
        {"Quillora_1.jpg", "sub/x.jpg", false, {"Quillora_1.jpg", "other.jpg"}},
        {"Quillora_1.jpg", "..", false, {"Quillora_1.jpg", "other.jpg"}},
        {"Quillora_1.jpg", "", false, {"Quillora_1.jpg", "other.jpg"}},
        {"vanished.jpg", "new.jpg", false, {"Quillora_1.jpg", "other.jpg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.from) + " -> " + c.to);
        QDir(scratchDir()).removeRecursively();
        QDir().mkpath(scratchDir() + "/sub");
        write("Quillora_1.jpg", "jpeg data");
        write("other.jpg", "other data");

        QString error;
        EXPECT_EQ(renameInFolder(scratchDir(), c.from, c.to, &error), c.ok);
        EXPECT_EQ(files(), c.after);
        EXPECT_EQ(error.isEmpty(), c.ok);
        // Content travels with the name, and the file that was in the way is untouched.
        EXPECT_EQ(read(c.ok ? c.to : "Quillora_1.jpg"), "jpeg data");
        EXPECT_EQ(read("other.jpg"), "other data");
        EXPECT_FALSE(QFile::exists(root() + "/escaped.jpg"));
    }
}
