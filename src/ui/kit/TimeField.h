#pragma once

// Time-of-day pickers bound to a minute-of-day setting (0 … 1439), shared by the popover and the
// schedules tab.

#include "Instant.h"

#include <QTimeEdit>
#include <QTimeZone>

#include <cstdint>

namespace morvane {

// The instant, today (the date of `now` in `zone`), at the minute of day `minutes`. A local time
// that does not exist moves forward to the next one that does; a repeated one takes its first
// occurrence. When no such instant can be built, `now` itself.
Instant minutesToInstant(std::int64_t minutes, const Instant& now, const QTimeZone& zone);
// The minute of day of `t` in `zone`: hour × 60 + minute.
std::int64_t instantToMinutes(const Instant& t, const QTimeZone& zone);

// An "HH:mm" time editor showing a minute of day. setMinutes() never emits minutesEdited(); only
// the user's edits do.
class TimeField final : public QTimeEdit {
    Q_OBJECT
public:
    explicit TimeField(QWidget* parent = nullptr);

    // Shows `minutes` as it reads on today's date in `zone` (see minutesToInstant).
    void setMinutes(std::int64_t minutes, const Instant& now, const QTimeZone& zone);

Q_SIGNALS:
    // The user changed the time; `minutes` = hour × 60 + minute of what the field shows.
    void minutesEdited(std::int64_t minutes);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_updating = false;
};

} // namespace morvane
