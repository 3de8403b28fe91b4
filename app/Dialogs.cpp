// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Dialogs.h"

#include <cstdio>

namespace {
ConsoleDialogs g_console;
Dialogs* g_current = nullptr;
} // namespace

Dialogs& Dialogs::current() { return g_current ? *g_current : g_console; }

void Dialogs::setCurrent(Dialogs* d) { g_current = d; }

Dialogs::Button ConsoleDialogs::message(Icon icon, const QString& title, const QString& text,
                                        Buttons buttons, Button defaultButton)
{
    const char* kind = icon == Critical ? "error" : icon == Warning ? "warning" : "message";
    std::fprintf(stderr, "%s: %s: %s\n", qPrintable(title), kind, qPrintable(text));
    std::fflush(stderr);
    if (defaultButton != NoButton)
        return defaultButton;
    // The first button offered, in the order a message box lists them.
    for (Button b : {Ok, Yes, No, Abort, Retry, Ignore, Close, Cancel})
        if (buttons.testFlag(b))
            return b;
    return NoButton;
}
