// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>

#include <algorithm>

UpDown::UpDown(QWidget* parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    setFocusPolicy(Qt::TabFocus);
    for (QToolButton* b : {m_up, m_down}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
        b->setAutoRepeatDelay(400);
        b->setAutoRepeatInterval(60);
        b->setIconSize(QSize(7, 5));
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    connect(m_up, &QToolButton::clicked, this, [this] { step(+1); });
    connect(m_down, &QToolButton::clicked, this, [this] { step(-1); });
}

void UpDown::setMinimum(int value)
{
    setRange(value, std::max(value, m_max));
}

void UpDown::setMaximum(int value)
{
    setRange(std::min(m_min, value), value);
}

void UpDown::setRange(int minimum, int maximum)
{
    m_min = minimum;
    m_max = std::max(minimum, maximum);
    setPosition(m_position);
}

void UpDown::setPosition(int value)
{
    const int clamped = std::clamp(value, m_min, m_max);
    const bool changed = clamped != m_position;
    m_position = clamped;
    writeAssociate();
    if (changed)
        emit positionChanged(m_position);
}

void UpDown::setAssociate(QLineEdit* edit)
{
    if (m_associate)
        m_associate->removeEventFilter(this);
    m_associate = edit;
    if (m_associate) {
        m_associate->installEventFilter(this);
        writeAssociate();
    }
}

void UpDown::step(int delta)
{
    int from = m_position;
    if (m_associate) {
        // A number typed into the box (separators allowed) is where the step starts from;
        // anything else leaves the counter's own position.
        bool ok = false;
        const int typed = QLocale().toInt(m_associate->text().trimmed(), &ok);
        if (ok)
            from = std::clamp(typed, m_min, m_max);
    }
    const qint64 next = std::clamp<qint64>(qint64(from) + delta, m_min, m_max);
    setPosition(static_cast<int>(next));
}

void UpDown::setStepNames(const QString& up, const QString& down)
{
    m_up->setAccessibleName(up);
    m_down->setAccessibleName(down);
}

void UpDown::writeAssociate()
{
    if (!m_associate)
        return;
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    const QString text = locale.toString(m_position);
    if (m_associate->text() != text)
        m_associate->setText(text);
}

bool UpDown::eventFilter(QObject* watched, QEvent* event)
{
    // The event type is tested first: the box's own destruction sends events, when it is
    // no longer a line edit.
    if (event->type() == QEvent::KeyPress && watched == m_associate && isEnabled()) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            step(key->key() == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UpDown::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)
        step(event->key() == Qt::Key_Up ? +1 : -1);
    else
        QWidget::keyPressEvent(event);
}

void UpDown::resizeEvent(QResizeEvent*)
{
    const int half = height() / 2;
    m_up->setGeometry(0, 0, width(), half);
    m_down->setGeometry(0, half, width(), height() - half);
}
