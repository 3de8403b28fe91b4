// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StartUp.h"

// The command-line program, which the launcher runs for any command line with arguments.
// A command-line scan (or --help, --version, --list-devices) is carried out here, in a
// process that loads Qt Core and Gui only, so that the window libraries never delay a scan
// from a script; a command line that still asks for the wizard is handed over to it.
int main(int argc, char** argv)
{
    if (const std::optional<int> code = runUnlessWizard(argc, argv))
        return *code;
    return startWizardProgram(argv);
}
