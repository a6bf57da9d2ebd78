#pragma once

// Small controls of the settings window that Qt has no ready-made widget for: a symbol drawn at
// any scale, an on/off switch, a weekday circle and a two-button stepper.

#include "Symbols.h"

#include <QAbstractButton>
#include <QWidget>

#include <functional>

class QPainter;
class QToolButton;

namespace morvane {

// One of the program's symbols in one colour, drawn afresh at the device's scale.
class SymbolLabel final : public QWidget {
    Q_OBJECT
public:
    SymbolLabel(Symbol symbol, const QColor& color, int size = 16, QWidget* parent = nullptr);

    void setSymbol(Symbol symbol, const QColor& color);
    Symbol symbol() const { return m_symbol; }
    QColor color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Symbol m_symbol;
    QColor m_color;
};

// A small checkable on/off switch: a rounded track, accent-filled when on, with a round knob.
class Switch final : public QAbstractButton {
    Q_OBJECT
public:
    explicit Switch(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
};

// Paints a weekday circle into `box`: accent fill with a white letter when `on`, else the text
// colour at 8 % with a letter in the text colour. Disabled circles are drawn faded.
void paintDayCircle(QPainter& painter, const QRectF& box, const QString& letter, bool on, bool enabled,
                    const QPalette& palette);

// A 28 × 28 weekday button showing one letter in a circle. It reads as checked while on, but only
// its owner switches it: a click emits clicked() and leaves the state to the owner.
class DayButton final : public QAbstractButton {
    Q_OBJECT
public:
    DayButton(const QString& letter, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {28, 28}; }

    void setOn(bool on) { setChecked(on); }
    bool isOn() const { return isChecked(); }

protected:
    void nextCheckState() override {}
    void paintEvent(QPaintEvent*) override;
};

// "−" and "+" buttons that ask for the next value below or above the current one. The caller
// decides the values (the interval steps by 5 s or 60 s) and keeps them in range.
class Stepper final : public QWidget {
    Q_OBJECT
public:
    explicit Stepper(QWidget* parent = nullptr);

    // Enables each button while its direction has somewhere to go.
    void setLimits(bool canGoDown, bool canGoUp);

Q_SIGNALS:
    void stepped(int direction); // −1 or +1

private:
    QToolButton* m_down;
    QToolButton* m_up;
};

} // namespace morvane
