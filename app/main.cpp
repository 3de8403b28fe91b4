// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StartUp.h"

// The program the user starts. A command-line scan (or --help, --version, --list-devices)
// is carried out here, in a process that loads Qt Core and Gui only; the wizard runs in a
// program of its own, so that loading the window libraries never delays a scan from a
// script.
int main(int argc, char** argv)
{
    if (const std::optional<int> code = runUnlessWizard(argc, argv))
        return *code;
    return startWizardProgram(argv);
}
