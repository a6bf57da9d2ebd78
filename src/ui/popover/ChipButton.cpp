#include "ChipButton.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace morvane {

namespace {

constexpr int kPadV = 5;
constexpr int kPadH = 8;
constexpr qreal kRadius = 7;

} // namespace

ChipButton::ChipButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent) {
    setFont(theme::callout());
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

QSize ChipButton::sizeHint() const {
    const QFontMetrics fm(font());
    return {fm.horizontalAdvance(text()) + 2 * kPadH, fm.height() + 2 * kPadV};
}

QSize ChipButton::minimumSizeHint() const {
    return sizeHint();
}

void ChipButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor ink = theme::primary(palette());
    p.setPen(Qt::NoPen);
    p.setBrush(theme::withOpacity(ink, isDown() ? 0.18 : 0.08));
    p.drawRoundedRect(box, kRadius, kRadius);
    if (hasFocus()) {
        // The keyboard's position must be visible; the tint alone does not change on focus.
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(theme::accent(palette()), 1.5));
        p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);
    }
    p.setPen(isEnabled() ? ink : theme::secondary(palette()));
    p.setFont(font());
    p.drawText(rect().adjusted(kPadH, kPadV, -kPadH, -kPadV), Qt::AlignCenter, text());
}

} // namespace morvane
