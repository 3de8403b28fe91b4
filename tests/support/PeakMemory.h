// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The process's peak resident memory, for tests that bound what an operation holds. Only
// growth above a start is meaningful: libraries and earlier tests have their share.
class PeakMemory
{
public:
    // Resets the kernel's peak mark to the present resident size where the kernel allows it,
    // so that the growth seen later belongs to what runs in between.
    PeakMemory();
    // The peak above the start, in MiB.
    double growthMiB() const;

    static double peakMiB();   // VmHWM
    static double residentMiB(); // VmRSS

private:
    double m_start;
};
