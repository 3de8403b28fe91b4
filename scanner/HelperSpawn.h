// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

// Starts the scanner helper at `path` with its end of a new socket pair as HelperSocketFd
// and nothing else of ours open, its signals at their defaults. Returns its process id and
// our end (close-on-exec) in *ourEnd, or -1 with errno set. Plain C++: the launcher starts
// the helper with it before any Qt library is loaded.
// listLocalAtOnce: the helper lists the local scanners as soon as SANE has started, and
// answers the first request for them with that list (the launcher's helper, whose program
// asks for it first thing).
pid_t spawnScannerHelper(const char* path, int* ourEnd, bool listLocalAtOnce = false);

// The helper's argument for listLocalAtOnce.
inline constexpr const char* kListLocalAtOnceArgument = "--list-local";

// The environment variable through which the launcher hands a helper it started to the
// program it runs: "<our end's descriptor> <process id>".
inline constexpr const char* kStartedHelperVariable = "QUILLORA_STARTED_HELPER";
