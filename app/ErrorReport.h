// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// The text the general error report shows: a full stop is added unless the message
// already ends in a character that sorts at or below "." (a full stop, "!", ")", a blank).
QString errorReportText(const QString& message);

// The application's general error report: a critical message box titled with the
// application's name. The program goes on afterwards.
void reportError(const QString& message);

// Runs handler; a failure escaping it (QuilloraError, any std::exception or anything
// else) is shown by the general error report. Returns false when the handler failed.
bool guarded(const std::function<void()>& handler);

// Reports the failure being handled; call only inside a catch block.
void reportCurrentFailure();
