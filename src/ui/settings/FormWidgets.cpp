#include "FormWidgets.h"

#include "Accessibility.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QToolButton>

namespace morvane {

SymbolLabel::SymbolLabel(Symbol symbol, const QColor& color, int size, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_color(color) {
    setFixedSize(size, size);
}

void SymbolLabel::setSymbol(Symbol symbol, const QColor& color) {
    if (symbol == m_symbol && color == m_color)
        return;
    m_symbol = symbol;
    m_color = color;
    update();
}

void SymbolLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    symbols::paint(p, m_symbol, rect(), m_color);
}

Switch::Switch(QWidget* parent)
    : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize Switch::sizeHint() const {
    return {30, 18};
}

void Switch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    if (!isEnabled())
        p.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    const QColor off = theme::withOpacity(theme::primary(pal), theme::isDark(pal) ? 0.3 : 0.22);
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? theme::accent(pal) : off);
    p.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(theme::withOpacity(theme::accent(pal), 0.6), 1.5));
        p.drawRoundedRect(track.adjusted(-0.5, -0.5, 0.5, 0.5), radius, radius);
    }
}

void paintDayCircle(QPainter& p, const QRectF& box, const QString& letter, bool on, bool enabled,
                    const QPalette& palette) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (!enabled)
        p.setOpacity(0.45);
    const qreal side = std::min(box.width(), box.height());
    const QRectF circle(box.center().x() - side / 2, box.center().y() - side / 2, side, side);
    p.setPen(Qt::NoPen);
    p.setBrush(on ? theme::accent(palette) : theme::withOpacity(theme::primary(palette), 0.08));
    p.drawEllipse(circle);
    p.setFont(theme::semibold(theme::callout()));
    p.setPen(on ? QColor(Qt::white) : theme::primary(palette));
    p.drawText(circle, Qt::AlignCenter, letter);
    p.restore();
}

DayButton::DayButton(const QString& letter, QWidget* parent)
    : QAbstractButton(parent) {
    setText(letter);
    setCheckable(true);
    setFixedSize(28, 28);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void DayButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintDayCircle(p, rect(), text(), isChecked(), isEnabled(), palette());
    if (hasFocus()) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(theme::withOpacity(theme::accent(palette()), 0.7), 1.5));
        p.drawEllipse(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75));
    }
}

Stepper::Stepper(QWidget* parent)
    : QWidget(parent)
    , m_down(new QToolButton(this))
    , m_up(new QToolButton(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    const auto setUp = [this, row](QToolButton* button, const QString& name, const QString& text,
                                   const QString& tip, int direction) {
        button->setObjectName(name);
        button->setText(text);
        a11y::setToolTipName(button, tip);
        button->setAutoRepeat(true);
        button->setFixedSize(24, 22);
        row->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, direction] { Q_EMIT stepped(direction); });
    };
    setUp(m_down, QStringLiteral("stepDown"), QStringLiteral("−"), QStringLiteral("Menos"), -1);
    setUp(m_up, QStringLiteral("stepUp"), QStringLiteral("+"), QStringLiteral("Más"), +1);
}

void Stepper::setLimits(bool canGoDown, bool canGoUp) {
    m_down->setEnabled(canGoDown);
    m_up->setEnabled(canGoUp);
}

} // namespace morvane
