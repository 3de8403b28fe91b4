// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "scanner/ScannerProtocol.h"

#include <sane/sane.h>

#include <vector>

// An open device's options in the protocol's terms.
std::vector<ScannerProtocol::OptionDescriptor> describeOptions(SANE_Handle handle);
// The option's value; None for options that hold none (inactive ones, buttons, groups).
ScannerProtocol::OptionValue optionValue(SANE_Handle handle, int index);
// Sets (or for a button presses) an option; *info gets the device's info bits.
SANE_Status setOptionValue(SANE_Handle handle, int index, const ScannerProtocol::OptionValue& value,
                           SANE_Int* info);
