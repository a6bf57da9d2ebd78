#include "StateBadge.h"

#include "Theme.h"

#include <QPainter>

namespace morvane {

namespace {

constexpr int kDiameter = 34;
// The symbol's box; a 15-point semibold glyph is about this tall on a 96 dpi screen.
constexpr qreal kSymbolBox = 19;

} // namespace

StateBadge::StateBadge(QWidget* parent)
    : QWidget(parent) {
    setFixedSize(kDiameter, kDiameter);
}

void StateBadge::setState(const State& state) {
    if (state == m_state)
        return;
    m_state = state;
    update();
}

QColor StateBadge::fill(const State& state, const QPalette& palette) {
    if (!state.enabled)
        return theme::withOpacity(theme::secondary(palette), 0.25);
    if (state.blocked)
        return theme::orange();
    if (state.working)
        return theme::green();
    return theme::accent(palette);
}

Symbol StateBadge::symbol(const State& state) {
    if (state.working)
        return Symbol::checkmark;
    return state.enabled ? Symbol::pointerMotion : Symbol::pointer;
}

void StateBadge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(fill(m_state, palette()));
    p.drawEllipse(QRectF(0, 0, kDiameter, kDiameter));
    const QColor ink = m_state.enabled ? QColor(Qt::white) : theme::secondary(palette());
    const qreal offset = (kDiameter - kSymbolBox) / 2;
    symbols::paint(p, symbol(m_state), QRectF(offset, offset, kSymbolBox, kSymbolBox), ink);
}

} // namespace morvane
