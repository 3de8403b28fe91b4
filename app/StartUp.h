#pragma once

#include "app/CommandLine.h"

#include <optional>

class QGuiApplication;

// What the program decides from its arguments alone, before any display is touched.

// The arguments of this process as the command line reads them.
ParsedCommandLine commandLineOfProcess(int argc, char** argv);

// Answers --help, --version and usage errors on the standard streams, and a wizard asked for
// where there is no display at all; the exit code then, or nothing when the run goes on.
std::optional<int> answerBeforeStart(const ParsedCommandLine& commandLine);

// Picks the window system before the application object exists. A run that needs no window
// (a command-line scan) never connects to a display, so a missing, stale or refused one cannot
// stop it. The wizard gets its usual platform with a windowless fallback, so that a display
// that cannot be opened is told in one line (wizardLacksDisplay) instead of an abort.
void chooseWindowSystem(const ParsedCommandLine& commandLine);

// After the application object exists: true (and one line on standard error said why) when
// the wizard was to be shown but no display could be opened.
bool wizardLacksDisplay(const QGuiApplication& app);
