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
