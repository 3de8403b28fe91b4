// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "IsolatedTest.h"

#include <QStringList>

// An isolated test whose SANE sees only the `test` backend ("Noname frontend-tester",
// devices test:0 and test:1), configured from a private SANE_CONFIG_DIR. The SANE
// library reads that variable when it is initialised, so the scanner layer must not be
// used before SetUp has run.
class SaneFixture : public IsolatedTest
{
protected:
    void SetUp() override;

    QString saneConfigDir() const;
    // Rewrites the test backend's test.conf with extra option lines (for example
    // "number_of_devices 1"); call before the scanner layer first touches SANE.
    void writeTestConf(const QStringList& extraLines);
};

// Writes dll.conf (only `test`) and test.conf into dir; shared with the bench and the
// README's demo run, which use the same recipe from a shell script.
bool writeSaneTestConfig(const QString& dir, const QStringList& extraTestConfLines = {});

// A network scanner host that accepts connections and never answers, as a hung saned or a
// dead network scanner does. The private SANE configuration gets the `net` backend beside
// `test`, pointed at it. The host listens on an address of its own in 127.0.0.0/8, so tests
// running at the same time do not meet on SANE's fixed port.
class SilentSaneHost
{
public:
    // Starts listening and writes dll.conf ("net", then "test" unless withTestBackend is
    // false) and net.conf into saneConfigDir.
    SilentSaneHost(const QString& saneConfigDir, bool withTestBackend = true);
    ~SilentSaneHost();
    bool listening() const { return m_socket >= 0; }
    // The connections a SANE client has made to the host so far (they are taken and left
    // unanswered).
    int connectionsTaken();

private:
    int m_socket = -1;
    int m_taken = 0;
};
