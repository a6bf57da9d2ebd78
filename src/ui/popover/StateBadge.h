#pragma once

#include "Symbols.h"

#include <QWidget>

namespace morvane {

// The popover header's 34 × 34 state dot: a filled circle coloured by the engine's state with its
// symbol drawn on it. Colours are taken from the palette at paint time, so the badge follows a
// change of appearance by itself.
class StateBadge final : public QWidget {
    Q_OBJECT
public:
    struct State {
        bool enabled = false;
        bool blocked = false;
        bool working = false;
        bool operator==(const State&) const = default;
    };

    explicit StateBadge(QWidget* parent = nullptr);

    // Repaints only when `state` differs from the one shown.
    void setState(const State& state);
    const State& state() const { return m_state; }

    // The circle's colour: orange while blocked, green while working, the accent while on, and
    // the secondary colour at 25 % while off.
    static QColor fill(const State& state, const QPalette& palette);
    // checkmark while working, the pointer with motion lines while on, the plain pointer while off.
    static Symbol symbol(const State& state);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    State m_state;
};

} // namespace morvane
