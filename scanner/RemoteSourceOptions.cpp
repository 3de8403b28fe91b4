// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanner/RemoteSourceOptions.h"

#include "scanner/ScannerHelper.h"

#include <QCoreApplication>

#include <cmath>

using namespace ScannerProtocol;

namespace {

QString unitText(OptionUnit unit)
{
    switch (unit) {
    case OptionUnit::Pixel: return QStringLiteral("px");
    case OptionUnit::Bit: return QStringLiteral("bit");
    case OptionUnit::Millimetre: return QStringLiteral("mm");
    case OptionUnit::Dpi: return QStringLiteral("dpi");
    case OptionUnit::Percent: return QStringLiteral("%");
    case OptionUnit::Microsecond: return QStringLiteral("µs");
    case OptionUnit::None: break;
    }
    return {};
}

SourceOption fromDescriptor(const OptionDescriptor& d)
{
    SourceOption o;
    o.index = d.index;
    o.name = QString::fromStdString(d.name);
    o.title = QString::fromStdString(d.title);
    o.description = QString::fromStdString(d.description);
    o.unit = unitText(d.unit);
    o.size = d.count;
    o.active = d.active;
    o.settable = d.settable;
    switch (d.type) {
    case OptionType::Bool: o.type = SourceOption::Bool; break;
    case OptionType::Int: o.type = SourceOption::Int; break;
    case OptionType::Fixed: o.type = SourceOption::Fixed; break;
    case OptionType::String: o.type = SourceOption::String; break;
    case OptionType::Button: o.type = SourceOption::Button; break;
    case OptionType::Group: o.type = SourceOption::Group; break;
    }
    switch (d.constraint) {
    case OptionConstraint::Range:
        o.constraint = SourceOption::Range;
        o.minimum = d.minimum;
        o.maximum = d.maximum;
        o.quantum = d.quantum;
        break;
    case OptionConstraint::WordList:
        o.constraint = SourceOption::WordList;
        o.words = QList<double>(d.words.begin(), d.words.end());
        break;
    case OptionConstraint::StringList:
        o.constraint = SourceOption::StringList;
        for (const std::string& s : d.strings)
            o.strings.append(QString::fromStdString(s));
        break;
    case OptionConstraint::None:
        break;
    }
    return o;
}

// The value as the option's own type wants it.
OptionValue toWire(SourceOption::Type type, const QVariant& value)
{
    OptionValue v;
    switch (type) {
    case SourceOption::Bool:
        v.kind = OptionValue::Bool;
        v.boolean = value.toBool();
        break;
    case SourceOption::Int:
        v.kind = OptionValue::Int;
        v.integer = std::int32_t(std::lround(value.toDouble()));
        break;
    case SourceOption::Fixed:
        v.kind = OptionValue::Fixed;
        v.fixed = value.toDouble();
        break;
    case SourceOption::String:
        v.kind = OptionValue::String;
        v.text = value.toString().toStdString();
        break;
    case SourceOption::Button:
    case SourceOption::Group:
        break;
    }
    return v;
}

} // namespace

QList<SourceOption> RemoteSourceOptions::options()
{
    if (m_known)
        return m_options;
    Frame answer;
    if (!m_helper.call(Message::GetOptions, Writer(), &answer,
                       ScannerHelper::Deadlines::current().request))
        return {};
    if (answer.type == Message::Status)
        return {}; // the device refused
    if (answer.type != Message::Options) {
        m_helper.breakOff();
        return {};
    }
    Reader in(answer.payload);
    QList<SourceOption> options;
    for (std::uint32_t n = in.count(40); n > 0 && in.ok(); --n)
        options.append(fromDescriptor(in.descriptor()));
    if (!in.atEnd()) {
        m_helper.breakOff();
        return {};
    }
    m_options = options;
    m_known = true;
    return m_options;
}

QVariant RemoteSourceOptions::value(int index)
{
    Frame answer;
    if (!m_helper.call(Message::GetValue, Writer().i32(index), &answer,
                       ScannerHelper::Deadlines::current().request))
        return {};
    Reader in(answer.payload);
    const OptionValue v = in.value();
    if (answer.type != Message::Value || !in.atEnd()) {
        m_helper.breakOff();
        return {};
    }
    switch (v.kind) {
    case OptionValue::Bool: return QVariant(v.boolean);
    case OptionValue::Int: return QVariant(int(v.integer));
    case OptionValue::Fixed: return QVariant(v.fixed);
    case OptionValue::String: return QVariant(QString::fromStdString(v.text));
    case OptionValue::None: break;
    }
    return {};
}

bool RemoteSourceOptions::setValue(int index, const QVariant& value, bool* reload, QString* error)
{
    if (reload)
        *reload = false;
    SourceOption::Type type = SourceOption::Group;
    bool found = false;
    for (const SourceOption& o : options())
        if (o.index == index) {
            type = o.type;
            found = true;
        }
    auto failWith = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (!found)
        return failWith(
            m_helper.failed()
                ? m_helper.failureText()
                : QCoreApplication::translate("ScannerLibrary", "The scanner has no such option"));
    m_known = false; // whatever happens, the device may have changed its options
    Frame answer;
    if (!m_helper.call(Message::SetValue, Writer().i32(index).value(toWire(type, value)), &answer,
                       ScannerHelper::Deadlines::current().setOption))
        return failWith(m_helper.failureText());
    Reader in(answer.payload);
    if (answer.type == Message::Status) {
        in.i32();
        return failWith(QString::fromStdString(in.str()));
    }
    const std::int32_t info = in.i32();
    if (answer.type != Message::SetDone || !in.atEnd()) {
        m_helper.breakOff();
        return failWith(m_helper.failureText());
    }
    if (reload)
        *reload = (info & (InfoReloadOptions | InfoReloadParams | InfoInexact)) != 0;
    return true;
}
