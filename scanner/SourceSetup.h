// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class SourceOptions;

// How the library's pixel type, resolution and feeder flag become the device's own options,
// by the option names scanners share ("mode", "depth", "resolution", "source"). A value the
// device refuses leaves *error set (the last refusal wins); the other options are still set.

// 0 black and white (a one-bit mode when offered, else gray to be thresholded), 1 gray, 2 colour.
void applyPixelType(SourceOptions& options, int pixelType, QString* error);
// The nearest value the device allows, on every resolution option it has.
void applyResolution(SourceOptions& options, double dotsPerInch, QString* error);
// Chooses the feeder or the flatbed; true when a feeder was really chosen.
bool applyFeeder(SourceOptions& options, bool wantFeeder, QString* error);
// A source value naming a document feeder ("ADF", "ADF Duplex", "Automatic Document Feeder").
bool namesFeeder(const QString& source);

namespace ScanOption {
inline constexpr char mode[] = "mode";
inline constexpr char depth[] = "depth";
inline constexpr char resolution[] = "resolution";
inline constexpr char xResolution[] = "x-resolution";
inline constexpr char yResolution[] = "y-resolution";
inline constexpr char source[] = "source";
} // namespace ScanOption
