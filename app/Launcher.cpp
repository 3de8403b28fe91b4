// SPDX-License-Identifier: GPL-3.0-or-later
// The program the user starts: a few lines of plain C++ that load no Qt library. Without
// arguments it becomes the wizard's program. With arguments (a scan from a script, or
// --help, --list-devices, ...) it starts the scanner helper first, so that the helper's
// start, SANE's and the listing of the local scanners (every backend loaded and probing its
// buses) run beside the dynamic loader's work on Qt, and becomes the command-line program,
// which takes the helper over.
#include "app/CompanionProgram.h"
#include "scanner/HelperSpawn.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// --help and --version end the run before any scanner is looked at, whatever else the line
// holds: no helper, so that no backend probes its buses for them.
bool onlyAnswers(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0)
            return true;
    return false;
}

std::string helperPath()
{
    const char* chosen = std::getenv("QUILLORA_SCANNER_HELPER"); // the tests' choice
    return chosen && *chosen ? std::string(chosen) : companionProgramPath(QUILLORA_HELPER_NAME);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string program =
        companionProgramPath(argc > 1 ? QUILLORA_COMMAND_LINE_NAME : QUILLORA_WIZARD_NAME);
    pid_t helper = -1;
    if (argc > 1 && !onlyAnswers(argc, argv)) {
        int ourEnd = -1;
        helper = spawnScannerHelper(helperPath().c_str(), &ourEnd, true);
        // Without it the command-line program starts its own and reports what fails.
        if (helper > 0) {
            fcntl(ourEnd, F_SETFD, 0); // kept across the exec below
            const std::string value = std::to_string(ourEnd) + ' ' + std::to_string(helper);
            setenv(kStartedHelperVariable, value.c_str(), 1);
        }
    }
    // argv[0] stays the user's: window systems take the program's name from it.
    execv(program.c_str(), argv);
    const int error = errno;
    std::fprintf(stderr, "quillora: cannot start %s: %s\n", program.c_str(), std::strerror(error));
    if (helper > 0) {
        kill(helper, SIGKILL);
        waitpid(helper, nullptr, 0);
    }
    return 1; // ExitFailure: the program could not start
}
