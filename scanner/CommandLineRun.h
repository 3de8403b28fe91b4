// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/CommandLine.h"

class SaneScannerLibrary;

// What the program does for a command line that needs no window, without creating one: no
// display is ever needed, and every message goes to standard error. Both return the
// program's exit code (ExitCode).

// --list-devices: each device's SANE name and product name, a line each, on standard output.
int listDevicesForCommandLine(SaneScannerLibrary& library);

// The command-line scan. It reads what the wizard would read when it is shown (a value it
// cannot read, or an unknown language, ends the run before the scanner is touched), lists the
// scanners and takes the remembered one (or --device), scans, writes each file's path on
// standard output as it is complete, and stores the wizard's close-time values as a closing
// wizard does. SIGINT and SIGTERM cancel the page being read; a second one ends the program.
int RunCommandLineScan(const ParsedCommandLine& commandLine, SaneScannerLibrary& library);
