// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "scanner/SourceOptions.h"

class ScannerHelper;

// The open device's options, asked of the helper that holds the device. The descriptions
// are kept until an option is set (setting one may change the others). When the helper
// fails, reads give nothing and sets fail with the helper's failure as the reason.
class RemoteSourceOptions : public SourceOptions
{
public:
    explicit RemoteSourceOptions(ScannerHelper& helper) : m_helper(helper) {}

    using SourceOptions::setValue;
    using SourceOptions::value;
    QList<SourceOption> options() override;
    QVariant value(int index) override;
    bool setValue(int index, const QVariant& value, bool* reload, QString* error) override;

private:
    ScannerHelper& m_helper;
    QList<SourceOption> m_options;
    bool m_known = false;
};
