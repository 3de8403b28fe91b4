// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLineEdit>
#include <QPointer>
#include <QWidget>

class QToolButton;

// An up-down counter bound to an edit box: its arrows (and the Up and Down keys in the box
// or on the counter itself) step a position within a range and write it into the box, with
// the locale's thousands separator. Before stepping it takes up a number typed into the box.
// It keeps its own enabled state: disabling the box leaves the arrows working.
class UpDown : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int position READ position WRITE setPosition NOTIFY positionChanged)
public:
    explicit UpDown(QWidget* parent = nullptr);

    int minimum() const { return m_min; }
    int maximum() const { return m_max; }
    int position() const { return m_position; }
    void setMinimum(int value);
    void setMaximum(int value);
    void setRange(int minimum, int maximum);
    // Kept within the range; the bound box shows the new position.
    void setPosition(int value);

    QLineEdit* associate() const { return m_associate; }
    void setAssociate(QLineEdit* edit);

    // One step up (positive) or down (negative), from the number in the box when it holds one.
    void step(int delta);

    // What assistive technology calls the two arrows, which show no words.
    void setStepNames(const QString& up, const QString& down);

signals:
    void positionChanged(int position);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void writeAssociate();

    int m_min = 0;
    int m_max = 100;
    int m_position = 0;
    QPointer<QLineEdit> m_associate;
    QToolButton* m_up;
    QToolButton* m_down;
};
