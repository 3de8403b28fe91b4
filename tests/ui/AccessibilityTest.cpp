// SPDX-License-Identifier: GPL-3.0-or-later
// What assistive technology gets from the program's windows: a name for every control, told
// apart from the other controls of its page, in the active language; decorative pictures
// kept out; text that stays readable under a dark colour scheme.
#include "SaneFixture.h"
#include "ScriptedDialogs.h"

#include "about/Tfrm_About.h"
#include "i18n/OwnTexts.h"
#include "i18n/TLangDispatcher.h"
#include "output/Tfrm_fmtSettings.h"
#include "ui/PreviewWindow.h"
#include "ui/Tfrm_Main.h"
#include "ui_Tfrm_Main.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

#include <cmath>
#include <functional>
#include <memory>

namespace {

// The name a screen reader speaks for a control: the label it is the buddy of, else its
// own accessible name. (On Linux Qt reports a drop-down list's current item as its name
// and its label through the label relation, as AT-SPI expects.)
QString spokenName(QAccessibleInterface* control)
{
    for (const auto& [other, relation] : control->relations(QAccessible::Label)) {
        if (other->role() == QAccessible::StaticText)
            return other->text(QAccessible::Name);
    }
    return control->text(QAccessible::Name);
}

// A control is what the user can reach or press: a tab stop, or a button (tool bar
// buttons and the arrows of a counter take no focus).
bool isControl(QAccessibleInterface* node)
{
    auto* widget = qobject_cast<QWidget*>(node->object());
    if (!widget || widget->focusProxy())
        return false;
    return node->state().focusable || qobject_cast<QAbstractButton*>(widget);
}

QString describe(const QObject* object)
{
    if (!object)
        return QStringLiteral("nothing");
    if (!object->objectName().isEmpty())
        return object->objectName();
    return QStringLiteral("%1 in %2")
        .arg(QString::fromLatin1(object->metaObject()->className()), describe(object->parent()));
}

struct Control
{
    QString what; // its object name, or its class within its named owner
    QString name;
};

// Every control assistive technology sees in window now, walking its accessible tree.
QList<Control> visibleControls(QWidget* window)
{
    QList<Control> found;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (!node || node->state().invisible)
            return;
        if (isControl(node))
            found.append({describe(node->object()), spokenName(node)});
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(window));
    return found;
}

// Names every control of the page shown now; empty and shared names are failures.
void expectNamesTellControlsApart(QWidget* window, const std::string& page)
{
    SCOPED_TRACE(page);
    const QList<Control> controls = visibleControls(window);
    EXPECT_FALSE(controls.isEmpty());
    QMap<QString, QStringList> byName;
    for (const Control& c : controls) {
        EXPECT_FALSE(c.name.trimmed().isEmpty()) << "no name: " << c.what.toStdString();
        byName[c.name].append(c.what);
    }
    for (auto it = byName.cbegin(); it != byName.cend(); ++it)
        EXPECT_EQ(it.value().size(), 1)
            << "\"" << it.key().toStdString() << "\" names " << it.value().join(", ").toStdString();
}

// Every page of the window: each page of each of its stacks (a tab widget holds one too).
void expectNamesOnEveryPage(QWidget* window)
{
    QList<QStackedWidget*> stacks = window->findChildren<QStackedWidget*>();
    stacks.removeIf([window](QStackedWidget* s) { return s->window() != window; });
    if (stacks.isEmpty())
        expectNamesTellControlsApart(window, window->objectName().toStdString());
    for (QStackedWidget* stack : stacks) {
        auto* tabs = qobject_cast<QTabWidget*>(stack->parentWidget());
        for (int i = 0; i < stack->count(); ++i) {
            if (tabs)
                tabs->setCurrentIndex(i);
            else
                stack->setCurrentIndex(i);
            expectNamesTellControlsApart(
                window,
                (window->objectName() + " / " + stack->widget(i)->objectName()).toStdString());
        }
    }
}

// The entries of a pop-up menu, which lives in a window of its own.
void expectMenuEntriesNamed(QMenu* menu)
{
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(menu);
    ASSERT_NE(node, nullptr);
    QStringList names;
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* entry = node->child(i);
        if (entry->role() == QAccessible::Separator)
            continue;
        const QString name = entry->text(QAccessible::Name);
        EXPECT_FALSE(name.isEmpty()) << "entry " << i;
        EXPECT_FALSE(names.contains(name)) << name.toStdString();
        names << name;
    }
    EXPECT_FALSE(names.isEmpty());
}

// Pictures without words have nothing to tell: assistive technology must pass over them.
void expectPicturesHidden(QWidget* window)
{
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->pixmap().isNull() || !label->text().isEmpty())
            continue;
        QAccessibleInterface* node = QAccessible::queryAccessibleInterface(label);
        ASSERT_NE(node, nullptr);
        EXPECT_TRUE(node->state().invisible) << label->objectName().toStdString();
        EXPECT_TRUE(node->text(QAccessible::Name).isEmpty()) << label->objectName().toStdString();
    }
}

// WCAG's relative luminance and contrast ratio.
double luminance(QRgb c)
{
    auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of the text drawn in area: its most common colour is the background, the
// pixel farthest from that the ink (smoothed glyph edges lie between the two).
double textContrast(const QImage& image, const QRect& area)
{
    QMap<QRgb, int> counts;
    const QRect r = area & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000u];
    QRgb background = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most)
            most = it.value(), background = it.key();
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(background, it.key()));
    return best;
}

// Every label with words in the window as drawn now.
void expectLabelsReadable(QWidget* window, const std::string& page)
{
    SCOPED_TRACE(page);
    const QImage image = window->grab().toImage();
    int measured = 0;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().trimmed().isEmpty())
            continue;
        const QRect area(label->mapTo(window, QPoint(0, 0)), label->size());
        EXPECT_GE(textContrast(image, area), 4.5) << label->objectName().toStdString();
        ++measured;
    }
    EXPECT_GT(measured, 0);
}

// A dark scheme as desktops ship them: light text on dark window, button and list colours.
QPalette darkPalette()
{
    QPalette p;
    const QColor text(0xfc, 0xfc, 0xfc), window(0x2a, 0x2e, 0x32), base(0x1b, 0x1e, 0x20);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x31, 0x36, 0x3b));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    p.setColor(QPalette::HighlightedText, text);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(0xa1, 0xa9, 0xb1));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6e, 0x71, 0x75));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6e, 0x71, 0x75));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6e, 0x71, 0x75));
    return p;
}

} // namespace

// The program's three windows as start-up makes them.
class AccessibilityTest : public SaneFixture
{
protected:
    void SetUp() override
    {
        SaneFixture::SetUp();
        createWindows();
    }
    void createWindows()
    {
        window = std::make_unique<Tfrm_Main>();
        about = new Tfrm_About(window.get());
        formatSettings = new Tfrm_fmtSettings(window.get());
        window->setAboutWindow(about);
        window->setFormatSettingsWindow(formatSettings);
        window->show();
    }
    void TearDown() override
    {
        window.reset();
        SaneFixture::TearDown();
    }
    Ui::Tfrm_Main* ui() const { return window->ui(); }

    ScriptedDialogs dialogs;
    std::unique_ptr<Tfrm_Main> window;
    Tfrm_About* about = nullptr;
    Tfrm_fmtSettings* formatSettings = nullptr;
};

TEST_F(AccessibilityTest, EveryControlNamedApartInEveryLanguage)
{
    Dialogs::PreviewRequest request;
    request.render = [](QPainter&, const QRectF&, int) {};
    PreviewWindow preview(request, window.get());
    preview.setObjectName(QStringLiteral("PreviewWindow"));
    QWidget* const windows[] = {window.get(), about, formatSettings, &preview};

    struct Language
    {
        const char* name;
        int number;
        const char* modeLabel; // from the main window's table
    };
    // A program run switches once, from English; German's empty cells leave English captions,
    // which are checked before Russian replaces them.
    for (const Language& language :
         {Language{"English", 1, "Mode:"}, Language{"German", 3, "Mode:"},
          Language{"Russian", 2, "Режим:"}}) {
        SCOPED_TRACE(language.name);
        window->LangDispatcher1->SetLanguage(QString::fromLatin1(language.name));
        for (QWidget* w : windows) {
            w->show();
            expectNamesOnEveryPage(w);
            expectPicturesHidden(w);
            if (w != window.get())
                w->hide();
        }
        window->PopupActionBar1->popup(window->mapToGlobal(QPoint(40, 40)));
        expectMenuEntriesNamed(window->PopupActionBar1);
        window->PopupActionBar1->hide();

        // Names follow the language: from the table through the label, and our own.
        ui()->PageControl->setCurrentWidget(ui()->TabSheet3);
        EXPECT_EQ(spokenName(QAccessible::queryAccessibleInterface(ui()->cmb_Mode)),
                  QString::fromUtf8(language.modeLabel));
        EXPECT_EQ(QAccessible::queryAccessibleInterface(ui()->btn_Folder)->text(QAccessible::Name),
                  ownText("a11y.chooseFolder", language.number));
        EXPECT_EQ(QAccessible::queryAccessibleInterface(ui()->spd_About)->text(QAccessible::Name),
                  ownText("a11y.about", language.number));
    }
}

// The title band and the About window are white whatever the scheme; their text must stay
// dark on them, also when the scheme changes while the program runs.
TEST_F(AccessibilityTest, TextReadableUnderDarkPalette)
{
    // Dark while the program runs, then dark from its start.
    QApplication::setPalette(darkPalette());
    for (bool fromStart : {false, true}) {
        SCOPED_TRACE(fromStart ? "dark from the start" : "turned dark");
        if (fromStart)
            createWindows();
        // The windows hear of a change through posted events.
        QCoreApplication::sendPostedEvents();
        for (QWidget* page : {ui()->TabSheet2, ui()->TabSheet3, ui()->TabSheet4}) {
            ui()->PageControl->setCurrentWidget(page);
            expectLabelsReadable(window.get(), page->objectName().toStdString());
        }
        about->show();
        expectLabelsReadable(about, "About");

        // A command of the images page under the mouse has a light background of its own.
        ui()->PageControl->setCurrentWidget(ui()->TabSheet4);
        for (QAction* action : ui()->ActionMainMenuBar1->actions()) {
            auto* button =
                qobject_cast<QToolButton*>(ui()->ActionMainMenuBar1->widgetForAction(action));
            if (!button || action->text().isEmpty())
                continue;
            action->setEnabled(true);
            button->setAttribute(Qt::WA_UnderMouse, true);
            const QImage image = button->grab().toImage();
            // The words beside the icon, without the icon's own dark outline.
            const QRect words = image.rect().adjusted(button->iconSize().width() + 6, 0, 0, 0);
            EXPECT_GE(textContrast(image, words), 4.5) << action->objectName().toStdString();
        }
    }
}
