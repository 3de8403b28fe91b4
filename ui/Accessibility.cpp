// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Accessibility.h"

#include "i18n/OwnTexts.h"
#include "i18n/TLangDispatcher.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace Accessibility {

namespace {

constexpr char kDecorative[] = "quilloraDecorative";

// A picture reported as invisible and without texts, so that screen readers pass over it.
class DecorativePicture : public QAccessibleWidget
{
public:
    explicit DecorativePicture(QWidget* picture) : QAccessibleWidget(picture, QAccessible::Graphic)
    {
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.invisible = true;
        s.focusable = false;
        return s;
    }
    QString text(QAccessible::Text) const override { return {}; }
};

QAccessibleInterface* decorativeFactory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget && widget->property(kDecorative).toBool())
        return new DecorativePicture(widget);
    return nullptr;
}

} // namespace

void followLanguage(QObject* context, std::function<void()> apply)
{
    apply();
    if (TLangDispatcher* dispatcher = TLangDispatcher::shared())
        QObject::connect(dispatcher, &TLangDispatcher::languageChanged, context,
                         [apply = std::move(apply)] { apply(); });
}

void name(QWidget* widget, const char* nameKey, const char* descriptionKey)
{
    widget->setAccessibleName(ownText(nameKey));
    if (descriptionKey)
        widget->setAccessibleDescription(ownText(descriptionKey));
}

void markDecorative(QWidget* picture)
{
    static const bool installed = [] {
        QAccessible::installFactory(decorativeFactory);
        return true;
    }();
    (void)installed;
    picture->setProperty(kDecorative, true);
}

} // namespace Accessibility
