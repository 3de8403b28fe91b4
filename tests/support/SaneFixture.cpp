// SPDX-License-Identifier: GPL-3.0-or-later
#include "SaneFixture.h"

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

SilentSaneHost::SilentSaneHost(const QString& saneConfigDir, bool withTestBackend)
{
    // SANE's net port, on a loopback address picked from the process id.
    for (unsigned attempt = 0; attempt < 16 && m_socket < 0; ++attempt) {
        const unsigned n = unsigned(getpid()) * 16 + attempt;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(6566);
        address.sin_addr.s_addr = htonl(0x7F000000u | (1 + n % 0xFFFFFD));
        const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && listen(s, 16) == 0) {
            m_socket = s;
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
            QFile net(saneConfigDir + QStringLiteral("/net.conf"));
            if (net.open(QIODevice::WriteOnly | QIODevice::Truncate))
                net.write(QByteArray(text) + '\n');
        } else if (s >= 0) {
            close(s);
        }
    }
    QFile dll(saneConfigDir + QStringLiteral("/dll.conf"));
    if (dll.open(QIODevice::WriteOnly | QIODevice::Truncate))
        dll.write(withTestBackend ? "net\ntest\n" : "net\n");
}

SilentSaneHost::~SilentSaneHost()
{
    if (m_socket >= 0)
        close(m_socket);
}

int SilentSaneHost::connectionsTaken()
{
    pollfd waiting{m_socket, POLLIN, 0};
    while (m_socket >= 0 && poll(&waiting, 1, 0) == 1) {
        const int c = accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            break;
        close(c);
        ++m_taken;
    }
    return m_taken;
}
