// SPDX-License-Identifier: GPL-3.0-or-later
#include "i18n/WidgetLangAdapter.h"

#include "i18n/StoredLangProperties.h"
#include "i18n/TCustomLangTable.h"
#include "i18n/TLangDispatcher.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMetaProperty>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

namespace {

bool sameName(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && qstrnicmp(a.data(), a.size(), b.data(), b.size()) == 0;
}

// The Qt property that holds a component's caption.
const char* captionProperty(QObject* target, QWidget* window)
{
    if (target == window)
        return "windowTitle";
    if (qobject_cast<QLabel*>(target) || qobject_cast<QAbstractButton*>(target)
        || qobject_cast<QAction*>(target))
        return "text";
    if (qobject_cast<QGroupBox*>(target) || qobject_cast<QMenu*>(target))
        return "title";
    if (qobject_cast<QToolBar*>(target))
        return "windowTitle";
    return nullptr;
}

// A plain text property found by name, letter case ignored, readable and writable.
QMetaProperty namedTextProperty(QObject* target, QByteArrayView name)
{
    const QMetaObject* meta = target->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        if (sameName(p.name(), name) && p.isReadable() && p.isWritable()
            && p.metaType() == QMetaType::fromType<QString>())
            return p;
    }
    return {};
}

QByteArray qtTextProperty(QObject* target, QWidget* window, QByteArrayView property)
{
    if (sameName(property, "Caption")) {
        const char* name = captionProperty(target, window);
        return name ? QByteArray(name) : QByteArray();
    }
    if (sameName(property, "Hint"))
        return (qobject_cast<QWidget*>(target) || qobject_cast<QAction*>(target)) ? "toolTip" : "";
    const QMetaProperty p = namedTextProperty(target, property);
    return p.isValid() ? QByteArray(p.name()) : QByteArray();
}

} // namespace

WidgetLangAdapter::WidgetLangAdapter(QWidget* window)
    : m_window(window)
{
}

QByteArray WidgetLangAdapter::windowClassName() const
{
    return m_window->metaObject()->className();
}

QObject* WidgetLangAdapter::window() const
{
    return m_window;
}

QObject* WidgetLangAdapter::component(QByteArrayView name) const
{
    if (name.isEmpty())
        return nullptr;
    if (sameName(name, windowClassName()) || sameName(name, m_window->objectName().toLatin1()))
        return m_window;
    const QList<QObject*> all = m_window->findChildren<QObject*>();
    for (QObject* child : all) {
        if (sameName(name, child->objectName().toLatin1()) && belongsToWindow(child))
            return child;
    }
    return nullptr;
}

bool WidgetLangAdapter::belongsToWindow(QObject* object) const
{
    // Windows owned by this one (the About window is the main window's child) have
    // components of their own; a pop-up menu belongs to the window that shows it.
    for (QObject* o = object; o && o != m_window; o = o->parent()) {
        auto* widget = qobject_cast<QWidget*>(o);
        if (widget && widget->isWindow() && !qobject_cast<QMenu*>(widget))
            return false;
    }
    return true;
}

bool WidgetLangAdapter::hasAssignedAction(QObject* target) const
{
    auto* button = qobject_cast<QToolButton*>(target);
    return button && button->defaultAction() != nullptr;
}

LangComponentModel::Kind WidgetLangAdapter::propertyKind(QObject* target, QByteArrayView property) const
{
    if (sameName(property, "Font"))
        return qobject_cast<QWidget*>(target) ? Kind::Font : Kind::None;
    if (sameName(property, "Items"))
        return qobject_cast<QComboBox*>(target) ? Kind::List : Kind::None;
    return qtTextProperty(target, m_window, property).isEmpty() ? Kind::None : Kind::Text;
}

QString WidgetLangAdapter::text(QObject* target, QByteArrayView property) const
{
    const QByteArray name = qtTextProperty(target, m_window, property);
    return name.isEmpty() ? QString() : target->property(name.constData()).toString();
}

void WidgetLangAdapter::setText(QObject* target, QByteArrayView property, const QString& text)
{
    const QByteArray name = qtTextProperty(target, m_window, property);
    if (!name.isEmpty())
        target->setProperty(name.constData(), text);
}

QStringList WidgetLangAdapter::list(QObject* target, QByteArrayView) const
{
    QStringList items;
    if (auto* combo = qobject_cast<QComboBox*>(target)) {
        for (int i = 0; i < combo->count(); ++i)
            items.append(combo->itemText(i));
    }
    return items;
}

void WidgetLangAdapter::replaceList(QObject* target, QByteArrayView, const QStringList& items)
{
    auto* combo = qobject_cast<QComboBox*>(target);
    if (!combo)
        return;
    const int selected = combo->currentIndex();
    const int overlap = std::min<int>(combo->count(), static_cast<int>(items.size()));
    for (int i = 0; i < overlap; ++i) {
        if (combo->itemText(i) != items[i])
            combo->setItemText(i, items[i]);
    }
    for (qsizetype i = overlap; i < items.size(); ++i)
        combo->addItem(items[i]);
    while (combo->count() > items.size())
        combo->removeItem(combo->count() - 1);
    // The same position stays selected, now showing its translated item.
    combo->setCurrentIndex(selected < combo->count() ? selected : -1);
}

bool WidgetLangAdapter::parentFont(QObject* target) const
{
    auto* widget = qobject_cast<QWidget*>(target);
    return widget && !widget->isWindow() && !widget->testAttribute(Qt::WA_SetFont);
}

void WidgetLangAdapter::applyFont(QObject* target, std::optional<int> charset, const QString& face)
{
    auto* widget = qobject_cast<QWidget*>(target);
    if (!widget)
        return;
    if (charset)
        widget->setProperty(kFontCharsetProperty, *charset);
    if (face.isEmpty())
        return;
    QFont font = widget->font();
    QStringList families = font.families();
    if (families.isEmpty())
        families.append(font.family());
    if (families.front().compare(face, Qt::CaseInsensitive) == 0)
        return;
    // The face the table names comes first; the stand-ins for a face that is not
    // installed stay behind it.
    families.removeIf([&](const QString& f) { return f.compare(face, Qt::CaseInsensitive) == 0; });
    families.prepend(face);
    font.setFamilies(families);
    widget->setFont(font);
}

int fontCharset(const QObject* widget)
{
    const QVariant value = widget->property(kFontCharsetProperty);
    return value.isValid() ? value.toInt() : 1;
}

TLangDispatcher* attachLangDispatcher(QWidget* window)
{
    auto* dispatcher = new TLangDispatcher(window);
    dispatcher->setObjectName(QStringLiteral("LangDispatcher1"));
    loadStoredProperties(*dispatcher);
    dispatcher->publish();
    return dispatcher;
}

TLangTable* attachLangTable(QWidget* window, TLangDispatcher* dispatcher)
{
    auto* table = new TLangTable(window);
    table->setObjectName(QStringLiteral("LangTable1"));
    table->setComponentModel(std::make_unique<WidgetLangAdapter>(window));
    loadStoredProperties(*table, dispatcher,
                         storedTranslationData(QString::fromLatin1(window->metaObject()->className())));
    return table;
}
