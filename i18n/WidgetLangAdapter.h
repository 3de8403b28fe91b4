// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "i18n/LangComponentModel.h"

class QWidget;
class TLangDispatcher;
class TLangTable;

// The translation's view of a Qt window: Caption is a window's title, a label's, button's
// or action's text, a group box's or tool bar's title; Hint is the tool tip; Font is the
// widget's font, with the table's character-set number kept beside it (Qt itself being
// Unicode) in the dynamic property kFontCharsetProperty; Items of a combo box are its
// items. Other text properties are found by name among the Qt properties.
class WidgetLangAdapter : public LangComponentModel
{
public:
    explicit WidgetLangAdapter(QWidget* window);

    QByteArray windowClassName() const override;
    QObject* window() const override;
    QObject* component(QByteArrayView name) const override;
    bool hasAssignedAction(QObject* target) const override;
    Kind propertyKind(QObject* target, QByteArrayView property) const override;
    QString text(QObject* target, QByteArrayView property) const override;
    void setText(QObject* target, QByteArrayView property, const QString& text) override;
    QStringList list(QObject* target, QByteArrayView property) const override;
    void replaceList(QObject* target, QByteArrayView property, const QStringList& items) override;
    bool parentFont(QObject* target) const override;
    void applyFont(QObject* target, std::optional<int> charset, const QString& face) override;

private:
    bool belongsToWindow(QObject* object) const;

    QWidget* m_window;
};

inline constexpr char kFontCharsetProperty[] = "fontCharset";

// The character set a widget's font was given by a translation; 1 (the default character
// set) until one was.
int fontCharset(const QObject* widget);

// The main window's LangDispatcher1, loaded with its stored properties and published as
// the dispatcher the program's windows register with.
TLangDispatcher* attachLangDispatcher(QWidget* window);

// A window's LangTable1: its stored table read, registered with the dispatcher (when
// given). Fails with QuilloraError when the window has one already.
TLangTable* attachLangTable(QWidget* window, TLangDispatcher* dispatcher);
