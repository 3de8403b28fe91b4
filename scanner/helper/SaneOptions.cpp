// SPDX-License-Identifier: GPL-3.0-or-later
#include "SaneOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

using namespace ScannerProtocol;

namespace {

OptionUnit unitOf(SANE_Unit unit)
{
    switch (unit) {
    case SANE_UNIT_PIXEL: return OptionUnit::Pixel;
    case SANE_UNIT_BIT: return OptionUnit::Bit;
    case SANE_UNIT_MM: return OptionUnit::Millimetre;
    case SANE_UNIT_DPI: return OptionUnit::Dpi;
    case SANE_UNIT_PERCENT: return OptionUnit::Percent;
    case SANE_UNIT_MICROSECOND: return OptionUnit::Microsecond;
    default: return OptionUnit::None;
    }
}

OptionType typeOf(SANE_Value_Type type)
{
    switch (type) {
    case SANE_TYPE_BOOL: return OptionType::Bool;
    case SANE_TYPE_INT: return OptionType::Int;
    case SANE_TYPE_FIXED: return OptionType::Fixed;
    case SANE_TYPE_STRING: return OptionType::String;
    case SANE_TYPE_BUTTON: return OptionType::Button;
    default: return OptionType::Group;
    }
}

const char* textOf(SANE_String_Const s) { return s ? s : ""; }

} // namespace

std::vector<OptionDescriptor> describeOptions(SANE_Handle handle)
{
    std::vector<OptionDescriptor> result;
    SANE_Int count = 0;
    if (sane_control_option(handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD)
        return result;
    for (int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
        if (!d)
            continue;
        OptionDescriptor o;
        o.index = i;
        o.name = textOf(d->name);
        o.title = textOf(d->title);
        o.description = textOf(d->desc);
        o.unit = unitOf(d->unit);
        o.type = typeOf(d->type);
        o.active = SANE_OPTION_IS_ACTIVE(d->cap);
        o.settable = SANE_OPTION_IS_SETTABLE(d->cap);
        if (d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED)
            o.count = std::max<int>(1, d->size / int(sizeof(SANE_Word)));
        const bool fixed = d->type == SANE_TYPE_FIXED;
        auto number = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : double(w); };
        if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
            o.constraint = OptionConstraint::Range;
            o.minimum = number(d->constraint.range->min);
            o.maximum = number(d->constraint.range->max);
            o.quantum = number(d->constraint.range->quant);
        } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
            o.constraint = OptionConstraint::WordList;
            for (int k = 1; k <= d->constraint.word_list[0]; ++k)
                o.words.push_back(number(d->constraint.word_list[k]));
        } else if (d->constraint_type == SANE_CONSTRAINT_STRING_LIST && d->constraint.string_list) {
            o.constraint = OptionConstraint::StringList;
            for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s)
                o.strings.emplace_back(*s);
        }
        result.push_back(std::move(o));
    }
    return result;
}

OptionValue optionValue(SANE_Handle handle, int index)
{
    OptionValue v;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, index);
    if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || d->type == SANE_TYPE_BUTTON
        || d->type == SANE_TYPE_GROUP || d->size <= 0)
        return v;
    // One byte more than the device says, so a string it fills to the brim still ends.
    std::vector<char> buffer(std::size_t(std::max<int>(d->size, sizeof(SANE_Word))) + 1, 0);
    if (sane_control_option(handle, index, SANE_ACTION_GET_VALUE, buffer.data(), nullptr)
        != SANE_STATUS_GOOD)
        return v;
    SANE_Word w;
    std::memcpy(&w, buffer.data(), sizeof w);
    switch (d->type) {
    case SANE_TYPE_BOOL:
        v.kind = OptionValue::Bool;
        v.boolean = w != SANE_FALSE;
        break;
    case SANE_TYPE_INT:
        v.kind = OptionValue::Int;
        v.integer = w;
        break;
    case SANE_TYPE_FIXED:
        v.kind = OptionValue::Fixed;
        v.fixed = SANE_UNFIX(w);
        break;
    case SANE_TYPE_STRING:
        v.kind = OptionValue::String;
        v.text = buffer.data();
        break;
    default:
        break;
    }
    return v;
}

SANE_Status setOptionValue(SANE_Handle handle, int index, const OptionValue& value, SANE_Int* info)
{
    *info = 0;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, index);
    if (!d)
        return SANE_STATUS_INVAL;
    if (d->type == SANE_TYPE_BUTTON)
        return sane_control_option(handle, index, SANE_ACTION_SET_VALUE, nullptr, info);
    if (d->type == SANE_TYPE_STRING) {
        std::vector<char> buffer(std::size_t(std::max<int>(d->size, 1)), 0);
        std::memcpy(buffer.data(), value.text.data(),
                    std::min(value.text.size(), buffer.size() - 1));
        return sane_control_option(handle, index, SANE_ACTION_SET_VALUE, buffer.data(), info);
    }
    double number = value.kind == OptionValue::Fixed ? value.fixed
                  : value.kind == OptionValue::Int   ? double(value.integer)
                  : value.kind == OptionValue::Bool  ? (value.boolean ? 1.0 : 0.0)
                                                     : std::strtod(value.text.c_str(), nullptr);
    SANE_Word w = 0;
    if (d->type == SANE_TYPE_BOOL)
        w = number != 0 ? SANE_TRUE : SANE_FALSE;
    else if (d->type == SANE_TYPE_FIXED)
        w = SANE_FIX(number);
    else
        w = SANE_Word(std::lround(number));
    // An array option gets the value in every element.
    std::vector<SANE_Word> words(std::size_t(std::max<int>(1, d->size / int(sizeof(SANE_Word)))),
                                 w);
    return sane_control_option(handle, index, SANE_ACTION_SET_VALUE, words.data(), info);
}
