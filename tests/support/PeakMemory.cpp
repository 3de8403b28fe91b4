// SPDX-License-Identifier: GPL-3.0-or-later
#include "PeakMemory.h"

#include <QByteArray>
#include <QFile>

namespace {

double statusFieldMiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

} // namespace

PeakMemory::PeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");   // resets VmHWM to VmRSS
    clear.close();
    m_start = clear.error() == QFileDevice::NoError ? residentMiB() : peakMiB();
}

double PeakMemory::growthMiB() const { return peakMiB() - m_start; }

double PeakMemory::peakMiB() { return statusFieldMiB("VmHWM:"); }

double PeakMemory::residentMiB() { return statusFieldMiB("VmRSS:"); }
