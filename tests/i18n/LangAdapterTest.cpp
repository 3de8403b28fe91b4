// SPDX-License-Identifier: GPL-3.0-or-later
// The translation of a window's widgets, on a small window made for the rules that the
// program's own windows do not exercise (action-linked buttons, inherited fonts).
#include "i18n/Cp1251.h"
#include "i18n/StoredLangProperties.h"
#include "i18n/TCustomLangTable.h"
#include "i18n/TLangDispatcher.h"
#include "i18n/WidgetLangAdapter.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

class Tfrm_Sample : public QWidget
{
    Q_OBJECT

public:
    Tfrm_Sample()
    {
        setWindowTitle(QStringLiteral("Sample"));
        setFont(QFont(QStringLiteral("Tahoma")));
        label->setObjectName(QStringLiteral("lbl_Label"));
        label->setText(QStringLiteral("Label"));
        inherits->setObjectName(QStringLiteral("lbl_Inherits"));
        own->setObjectName(QStringLiteral("lbl_Own"));
        own->setFont(QFont(QStringLiteral("Tahoma")));
        act->setObjectName(QStringLiteral("act_Print"));
        act->setText(QStringLiteral("Print"));
        same->setObjectName(QStringLiteral("act_Same"));
        same->setText(QStringLiteral("Same"));
        menu->addAction(act);
        tool->setObjectName(QStringLiteral("tb_Print"));
        tool->setDefaultAction(act);
        combo->setObjectName(QStringLiteral("cmb_Kind"));
        combo->addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")});
        combo->setCurrentIndex(1);
    }

    QLabel* label = new QLabel(this);
    QLabel* inherits = new QLabel(this);
    QLabel* own = new QLabel(this);
    QAction* act = new QAction(this);
    QAction* same = new QAction(this);
    QMenu* menu = new QMenu(this);
    QToolButton* tool = new QToolButton(this);
    QComboBox* combo = new QComboBox(this);
};

namespace {

QByteArray sampleTable()
{
    return encodeCp1251(QString::fromUtf8(
        "stCaptions\r\n"
        "lbl_Label\x01Label\x01Метка\x01\x01\r\n"
        "tb_Print\x01Print\x01Кнопка\x01\x01\r\n"
        "act_Print\x01Print\x01Печать\x01\x01\r\n"
        "act_Same\x01Same\x01Same\x01\x01\r\n"
        "lbl_Gone\x01Gone\x01Нет\x01\x01\r\n"
        "Tfrm_Sample\x01Sample\x01Образец\x01\x01\r\n"
        "stHints\r\n"
        "Tfrm_Sample\x01\x01\x01\x01\r\n"
        "lbl_Label\x01\x01Подсказка\x01\x01\r\n"
        "stFonts\r\n"
        "Tfrm_Sample\x01Tahoma\x01" "Arial\x01\x01\r\n"
        "lbl_Inherits\x01Tahoma\x01" "Arial\x01\x01\r\n"
        "lbl_Own\x01Tahoma\x01" "Arial\x01\x01\r\n"
        "stMultiLines\r\n"
        "cmb_Kind.Items\x01" "a,b,c,d\x01x,y,z\x01\x01\r\n"
        "stCharSets\r\n"
        "Tfrm_Sample\x01" "DEFAULT_CHARSET\x01RUSSIAN_CHARSET\x01" "ANSI_CHARSET\x01\r\n"
        "lbl_Inherits\x01\x01RUSSIAN_CHARSET\x01\x01\r\n"
        "lbl_Own\x01\x01russian_charset\x01\x01\r\n"));
}

} // namespace

TEST(LangAdapter, TranslatesWidgetsByTheRules)
{
    TLangDispatcher dispatcher;
    loadStoredProperties(dispatcher);
    Tfrm_Sample window;
    auto* table = new TLangTable(&window);
    table->setComponentModel(std::make_unique<WidgetLangAdapter>(&window));
    loadStoredProperties(*table, &dispatcher, sampleTable());
    int sameChanged = 0;
    QObject::connect(window.same, &QAction::changed, [&] { ++sameChanged; });

    dispatcher.SetLanguage(QStringLiteral("Russian"));

    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("Образец"));
    EXPECT_EQ(window.label->text(), QString::fromUtf8("Метка"));
    EXPECT_EQ(window.label->toolTip(), QString::fromUtf8("Подсказка"));
    // The action's caption reaches its menu entry and its tool button; the button's own
    // row is dropped, as is the row of a component the window lacks.
    EXPECT_EQ(window.menu->actions().front()->text(), QString::fromUtf8("Печать"));
    EXPECT_EQ(window.tool->text(), QString::fromUtf8("Печать"));
    for (const QByteArray& row : table->section(stCaptions))
        EXPECT_FALSE(row.startsWith("tb_Print") || row.startsWith("lbl_Gone")) << row.constData();
    EXPECT_EQ(sameChanged, 0) << "an unchanged caption was assigned again";
    EXPECT_EQ(window.combo->count(), 3);
    EXPECT_EQ(window.combo->currentText(), QStringLiteral("y"));

    EXPECT_EQ(window.font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(fontCharset(&window), 204);
    EXPECT_EQ(window.own->font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(fontCharset(window.own), 204);
    // A label that takes its parent's font keeps taking it.
    EXPECT_FALSE(window.inherits->testAttribute(Qt::WA_SetFont));
    EXPECT_EQ(fontCharset(window.inherits), 1);

    // The same language again translates nothing.
    window.label->setText(QStringLiteral("edited"));
    dispatcher.SetLanguage(QStringLiteral("russian"));
    EXPECT_EQ(window.label->text(), QStringLiteral("edited"));
    EXPECT_EQ(dispatcher.Language(), QStringLiteral("Russian"));

    // Empty German cells change nothing; the character set still switches.
    dispatcher.SetLanguage(QStringLiteral("German"));
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8("Образец"));
    EXPECT_EQ(window.combo->currentText(), QStringLiteral("y"));
    EXPECT_EQ(fontCharset(&window), 0);
}

#include "LangAdapterTest.moc"
