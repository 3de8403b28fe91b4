#include "SaneFixture.h"

#include <QDir>
#include <QFile>

bool writeSaneTestConfig(const QString& dir, const QStringList& extraTestConfLines)
{
    if (!QDir().mkpath(dir))
        return false;
    QFile dll(dir + QStringLiteral("/dll.conf"));
    if (!dll.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    dll.write("test\n");
    dll.close();

    // Start from the installed defaults so the device behaves as the package ships it.
    QByteArray conf;
    QFile installed(QStringLiteral("/etc/sane.d/test.conf"));
    if (installed.open(QIODevice::ReadOnly))
        conf = installed.readAll();
    for (const QString& line : extraTestConfLines)
        conf += line.toUtf8() + '\n';
    QFile test(dir + QStringLiteral("/test.conf"));
    if (!test.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return test.write(conf) == conf.size();
}

void SaneFixture::SetUp()
{
    IsolatedTest::SetUp();
    ASSERT_TRUE(writeSaneTestConfig(saneConfigDir()));
    qputenv("SANE_CONFIG_DIR", saneConfigDir().toLocal8Bit());
    qunsetenv("SANE_DEFAULT_DEVICE");
}

QString SaneFixture::saneConfigDir() const { return root() + QStringLiteral("/sane"); }

void SaneFixture::writeTestConf(const QStringList& extraLines)
{
    ASSERT_TRUE(writeSaneTestConfig(saneConfigDir(), extraLines));
}
