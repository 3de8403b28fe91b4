// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Where a program that ships with Quillora (the scanner helper, the wizard) is found: beside
// the running executable in the build tree, else in the install tree's libexec folder seen
// from the folder above it.
QString companionProgramPath(const QString& name);
