#include "MenuParts.h"

#include "Theme.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace morvane::menu {

Fill::Fill(Tint tint, qreal radius, QWidget* parent)
    : QWidget(parent)
    , m_tint(tint)
    , m_radius(radius) {}

void Fill::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(m_tint(palette()));
    p.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
}

Switch::Switch(QWidget* parent)
    : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Switch::nextCheckState() {}

void Switch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal r = track.height() / 2;
    p.setPen(Qt::NoPen);
    p.setBrush(isChecked() ? theme::accent(palette()) : theme::withOpacity(theme::primary(palette()), 0.22));
    p.drawRoundedRect(track, r, r);
    if (hasFocus()) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(theme::withOpacity(theme::accent(palette()), 0.6), 2));
        p.drawRoundedRect(track, r, r);
        p.setPen(Qt::NoPen);
    }
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawEllipse(QRectF(x, track.top() + 2.5, knob, knob));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

LinkButton::LinkButton(const QString& text, const QString& name, const QFont& font, QWidget* parent)
    : QAbstractButton(parent) {
    setText(text);
    setObjectName(name);
    QFont underlined = font;
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QSize LinkButton::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text()) + 2, fontMetrics().height()};
}

QSize LinkButton::minimumSizeHint() const {
    return {fontMetrics().averageCharWidth() * 8, fontMetrics().height()};
}

int LinkButton::heightForWidth(int width) const {
    return fontMetrics()
        .boundingRect(QRect(0, 0, qMax(1, width), QWIDGETSIZE_MAX), Qt::TextWordWrap, text())
        .height();
}

QRect LinkButton::textRect() const {
    return fontMetrics().boundingRect(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text());
}

bool LinkButton::hitButton(const QPoint& pos) const {
    return textRect().contains(pos);
}

void LinkButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        click();
    else
        QAbstractButton::keyPressEvent(event);
}

void LinkButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QColor ink = theme::accent(palette());
    p.setPen(isDown() ? theme::withOpacity(ink, 0.6) : ink);
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text());
    if (hasFocus()) {
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(theme::withOpacity(ink, 0.6), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(textRect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    }
}

namespace {

QColor dividerInk(const QPalette& palette) {
    return theme::withOpacity(theme::primary(palette), 0.14);
}

} // namespace

QWidget* divider() {
    auto* line = new Fill(dividerInk, 0);
    line->setFixedHeight(1);
    return line;
}

QLabel* label(const QString& text, const QFont& font, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    return l;
}

QPushButton* button(const QString& text, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QPushButton* smallButton(const QString& text, const QString& name) {
    QPushButton* b = button(text, name);
    b->setFont(theme::caption());
    return b;
}

QHBoxLayout* row(QWidget* parent, int spacing) {
    auto* l = new QHBoxLayout(parent);
    l->setContentsMargins(0, 0, 0, 0);
    if (spacing >= 0)
        l->setSpacing(spacing);
    return l;
}

QWidget* rowWidget(const QList<QWidget*>& items, bool stretchBeforeLast) {
    auto* w = new QWidget;
    QHBoxLayout* l = row(w);
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (stretchBeforeLast && i == items.size() - 1)
            l->addStretch(1);
        l->addWidget(items[i]);
    }
    return w;
}

} // namespace morvane::menu
