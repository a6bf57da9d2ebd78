#pragma once

#include "Instant.h"

#include <QString>
#include <QTimeZone>

#include <cstdint>

namespace morvane::Fmt {

// "HH:mm" when `t` falls on the same calendar day as `now` in `zone`, else "EEE HH:mm" with the
// "es_AR" abbreviated weekday.
QString time(const Instant& t, const QTimeZone& zone, const Instant& now);
// The same in the user's current zone against the current time.
QString time(const Instant& t);

// Rounded human duration: "0 s", "59 s", "1 min 30 s", "10 min", "2 h 2 min". Saturates.
QString duration(double seconds);

// Clock-style countdown rounded up: "0:01", "12:34", "1:02:05". Saturates.
QString countdown(double seconds);

// Local midnight of `after`'s day plus `minutes` of elapsed time; when that is not later than
// `after`, one calendar day later at the same wall-clock time.
Instant nextOccurrence(std::int64_t minutes, const Instant& after, const QTimeZone& zone);
Instant nextOccurrence(std::int64_t minutes, const Instant& after);

} // namespace morvane::Fmt
