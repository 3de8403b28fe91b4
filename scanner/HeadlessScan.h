#pragma once

// A command-line scan started where there is no display (over SSH, from cron) runs without
// windows: Qt is pointed at its offscreen platform, and messages go to standard error.
// True when argv asks for a scan and no display is at hand (no DISPLAY or WAYLAND_DISPLAY,
// or QT_QPA_PLATFORM already offscreen or minimal). Call before the application object
// exists; it sets QT_QPA_PLATFORM=offscreen when needed.
bool prepareCommandLineScanWithoutDisplay(int argc, char** argv);
