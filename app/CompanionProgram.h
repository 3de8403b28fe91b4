// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Where a program that ships with Quillora (the scanner helper, the command-line program,
// the wizard) is found: beside the running executable in the build tree, else in the
// install tree's libexec folder seen from the folder above it. Plain C++, for the launcher
// that runs before any Qt library is loaded.
std::string companionProgramPath(const std::string& name);
