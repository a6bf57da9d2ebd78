#include "TimeField.h"

#include <QKeyEvent>

namespace morvane {

Instant minutesToInstant(std::int64_t minutes, const Instant& now, const QTimeZone& zone) {
    if (minutes < 0 || minutes >= 24 * 60 || !now.isValid())
        return now;
    const QDate today = now.toTimeZone(zone).date();
    const QTime wall(int(minutes / 60), int(minutes % 60));
    // Qt 6.4 gives an invalid QDateTime for a reading inside a spring-forward gap: take the first
    // minute after it that exists.
    QDateTime local(today, wall, zone);
    for (int step = 1; !local.isValid() && step <= 24 * 60 - minutes - 1; ++step)
        local = QDateTime(today, wall.addSecs(step * 60), zone);
    if (!local.isValid())
        return now;
    // A reading the clocks pass twice: keep the first pass (the earlier UTC instant).
    Instant first = local.toUTC();
    for (const int back : {1800, 3600, 7200}) {
        const QDateTime earlier = first.addSecs(-back).toTimeZone(zone);
        if (earlier.date() == today && earlier.time() == local.time())
            first = earlier.toUTC();
    }
    return first;
}

std::int64_t instantToMinutes(const Instant& t, const QTimeZone& zone) {
    const QTime wall = t.toTimeZone(zone).time();
    return wall.isValid() ? wall.hour() * 60 + wall.minute() : 0;
}

TimeField::TimeField(QWidget* parent)
    : QTimeEdit(parent) {
    setDisplayFormat(QStringLiteral("HH:mm"));
    setButtonSymbols(QAbstractSpinBox::NoButtons);
    setWrapping(true);
    setAlignment(Qt::AlignCenter);
    connect(this, &QTimeEdit::timeChanged, this, [this](QTime t) {
        if (!m_updating)
            Q_EMIT minutesEdited(t.hour() * 60 + t.minute());
    });
}

void TimeField::keyPressEvent(QKeyEvent* event) {
    // QTimeEdit takes Ctrl+Tab for a step between its hour and minute: it belongs to the tabs
    // around the field.
    if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) &&
        (event->modifiers() & Qt::ControlModifier)) {
        event->ignore();
        return;
    }
    QTimeEdit::keyPressEvent(event);
}

void TimeField::setMinutes(std::int64_t minutes, const Instant& now, const QTimeZone& zone) {
    const QTime shown = minutesToInstant(minutes, now, zone).toTimeZone(zone).time();
    const QTime wall(shown.hour(), shown.minute());
    if (wall == time())
        return;
    m_updating = true;
    setTime(wall);
    m_updating = false;
}

} // namespace morvane
