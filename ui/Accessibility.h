// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class QObject;
class QWidget;

// What assistive technology (a screen reader) is told about controls that the windows'
// translation tables leave without a name: icon-only and "..." buttons, lists, fields whose
// caption is no label of theirs. The names are texts of our own in the active language.
namespace Accessibility {

// Runs apply now and again after every language change, for as long as context lives.
void followLanguage(QObject* context, std::function<void()> apply);

// Gives widget the own texts of nameKey and, when given, descriptionKey.
void name(QWidget* widget, const char* nameKey, const char* descriptionKey = nullptr);

// Hides a picture that only decorates from assistive technology: it has nothing to say.
void markDecorative(QWidget* picture);

} // namespace Accessibility
