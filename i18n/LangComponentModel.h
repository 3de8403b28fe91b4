// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

class QObject;

// The window as the translation sees it: components found by name, and the properties
// the table names (Caption, Hint, Font, Items ...) read and written by name. The widget
// side maps these onto Qt; the translation itself never touches a widget.
class LangComponentModel
{
public:
    enum class Kind { None, Text, Font, List };

    virtual ~LangComponentModel() = default;

    // The window's class name, the key of its own rows ("Tfrm_Main").
    virtual QByteArray windowClassName() const = 0;
    virtual QObject* window() const = 0;
    // The window's component of that name, letter case ignored; the window's class name
    // or its own name give the window. nullptr when there is none.
    virtual QObject* component(QByteArrayView name) const = 0;
    // A control or menu item whose caption and hint come from an action.
    virtual bool hasAssignedAction(QObject* target) const = 0;

    // What a property (a dotted path for a property of a property) holds, when the
    // target has it and it can be both read and written.
    virtual Kind propertyKind(QObject* target, QByteArrayView property) const = 0;

    virtual QString text(QObject* target, QByteArrayView property) const = 0;
    virtual void setText(QObject* target, QByteArrayView property, const QString& text) = 0;

    virtual QStringList list(QObject* target, QByteArrayView property) const = 0;
    // Overwrites the lines one by one, appends further items, deletes surplus lines from
    // the end; a list control keeps its selected index.
    virtual void replaceList(QObject* target, QByteArrayView property, const QStringList& items) = 0;

    // The control takes its font from its parent.
    virtual bool parentFont(QObject* target) const = 0;
    // Sets the font's character set (when given) and face name (when not empty), and
    // assigns the font back to the target.
    virtual void applyFont(QObject* target, std::optional<int> charset, const QString& face) = 0;
};
