// SPDX-License-Identifier: GPL-3.0-or-later
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

// A command line that needs no window (a scan, --list-devices) is carried out without one,
// and without connecting to any display, so a missing, stale or refused one cannot stop it.
// Returns the exit code.
int runWithoutWindows(int argc, char** argv, const ParsedCommandLine& commandLine);

// Everything but the wizard: the answers of answerBeforeStart, and a command line that
// needs no window carried out (runWithoutWindows). The exit code then, or nothing when the
// wizard is to be shown.
std::optional<int> runUnlessWizard(int argc, char** argv);

// Hands this process over to the wizard's program (which loads the window libraries a
// command-line run never needs), with the same arguments, ending the helper the launcher
// started. Returns only when it could not be
// started, after one line on standard error saying why: the exit code then.
int startWizardProgram(char** argv);

// Picks the window system for the wizard before the application object exists: its usual
// platform with a windowless fallback, so that a display that cannot be opened is told in one
// line (wizardLacksDisplay) instead of an abort.
void chooseWindowSystemForWizard();

// After the application object exists: true (and one line on standard error said why) when
// the wizard was to be shown but no display could be opened.
bool wizardLacksDisplay(const QGuiApplication& app);
