// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/SourceSetup.h"

#include "scanner/SourceOptions.h"

#include <algorithm>
#include <cmath>

namespace {

bool allows(const SourceOption& o, double v)
{
    if (o.constraint == SourceOption::WordList)
        return o.words.contains(v);
    if (o.constraint == SourceOption::Range)
        return v >= o.minimum && v <= o.maximum;
    return true;
}

const SourceOption* optionNamed(const QList<SourceOption>& options, const char* name)
{
    for (const SourceOption& o : options)
        if (o.name == QLatin1String(name) && o.active && o.settable)
            return &o;
    return nullptr;
}

// The first offered string equal (case ignored) to one of the wanted ones.
QString pick(const SourceOption& o, std::initializer_list<const char*> wanted)
{
    for (const char* w : wanted)
        for (const QString& s : o.strings)
            if (s.compare(QLatin1String(w), Qt::CaseInsensitive) == 0)
                return s;
    return {};
}

// The value nearest to v that the option allows.
double nearestAllowed(const SourceOption& o, double v)
{
    if (o.constraint == SourceOption::WordList && !o.words.isEmpty()) {
        double best = o.words.first();
        for (double w : o.words)
            if (std::abs(w - v) < std::abs(best - v))
                best = w;
        return best;
    }
    if (o.constraint == SourceOption::Range) {
        v = std::clamp(v, o.minimum, o.maximum);
        if (o.quantum > 0) {
            v = o.minimum + std::round((v - o.minimum) / o.quantum) * o.quantum;
            if (v > o.maximum)
                v -= o.quantum;
        }
    }
    return o.type == SourceOption::Int ? std::round(v) : v;
}

// The first value for which test() gives `wanted`.
QString firstOf(const QStringList& values, bool (*test)(const QString&), bool wanted)
{
    for (const QString& v : values)
        if (test(v) == wanted)
            return v;
    return {};
}

} // namespace

bool namesFeeder(const QString& s)
{
    return s.contains(QLatin1String("ADF"), Qt::CaseInsensitive)
        || s.contains(QLatin1String("Feeder"), Qt::CaseInsensitive);
}

void applyPixelType(SourceOptions& options, int pixelType, QString* error)
{
    const QList<SourceOption> all = options.options();
    const SourceOption* mode = optionNamed(all, ScanOption::mode);
    auto setMode = [&](const QString& value) {
        if (!value.isEmpty())
            options.setValue(mode->index, value, nullptr, error);
    };
    // Depth is read after the mode is set: a mode may change what depths are offered.
    auto setDepth = [&](double depth) {
        const QList<SourceOption> now = options.options();
        const SourceOption* d = optionNamed(now, ScanOption::depth);
        if (!d || !allows(*d, depth))
            return false;
        return options.setValue(d->index, depth, nullptr, error);
    };

    if (pixelType == 0) {
        const QString lineart =
            mode ? pick(*mode, {"Lineart", "Binary", "Black & White"}) : QString();
        if (!lineart.isEmpty()) {
            setMode(lineart);
            return;
        }
        const QString gray = mode ? pick(*mode, {"Gray", "Grayscale", "Grey"}) : QString();
        if (!gray.isEmpty())
            setMode(gray);
        // Without a one-bit mode the page is thresholded when it arrives.
        if (gray.isEmpty() || !setDepth(1))
            setDepth(8);
        return;
    }
    if (mode)
        setMode(pixelType == 1 ? pick(*mode, {"Gray", "Grayscale", "Grey"})
                               : pick(*mode, {"Color", "Colour", "RGB"}));
    setDepth(8);
}

void applyResolution(SourceOptions& options, double dotsPerInch, QString* error)
{
    if (dotsPerInch <= 0)
        return;
    const QList<SourceOption> all = options.options();
    bool any = false;
    for (const char* name :
         {ScanOption::resolution, ScanOption::xResolution, ScanOption::yResolution}) {
        const SourceOption* o = optionNamed(all, name);
        if (!o || (any && o->name == QLatin1String(ScanOption::xResolution)))
            continue;
        any = true;
        options.setValue(o->index, nearestAllowed(*o, dotsPerInch), nullptr, error);
    }
}

bool applyFeeder(SourceOptions& options, bool wantFeeder, QString* error)
{
    const QList<SourceOption> all = options.options();
    const SourceOption* source = optionNamed(all, ScanOption::source);
    if (!source || source->strings.isEmpty())
        return false;
    QString value;
    if (wantFeeder) {
        value = pick(*source, {"ADF", "Automatic Document Feeder", "Feeder"});
        if (value.isEmpty())
            value = firstOf(source->strings, namesFeeder, true);
    }
    if (value.isEmpty()) {
        value = pick(*source, {"Flatbed"});
        if (value.isEmpty())
            value = firstOf(source->strings, namesFeeder, false);
        if (value.isEmpty())
            return false; // a feeder-only device: leave it as it is
    }
    if (!options.setValue(source->index, value, nullptr, error))
        return false;
    return wantFeeder && namesFeeder(value);
}
