// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class QProgressDialog;

// Runs `work` on a thread of its own while the GUI thread keeps the windows painted, and
// returns once it has returned (rethrowing what it threw). The work reports each finished
// step through the function it is handed, which answers false once the user has pressed
// Cancel; `progress` shows those steps and appears only when the work takes a while
// (its minimum duration). Until it appears no user input is taken, so that nothing else can
// start meanwhile.
void runBeside(QProgressDialog& progress,
               const std::function<void(const std::function<bool(int done)>& step)>& work);
