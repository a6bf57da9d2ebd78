#pragma once

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <cstdint>
#include <optional>

namespace morvane {

// Instants are UTC QDateTimes with millisecond precision; durations are double seconds.
// Every conversion below saturates: a settings file may hold 1e308 or a negative huge number,
// and none of that may turn into undefined behaviour or an invalid QDateTime.
using Instant = QDateTime;
using OptInstant = std::optional<QDateTime>;

namespace instant {

// The instants we are willing to represent: 0001-01-01 to 9999-12-31 UTC. Both bounds are
// exactly representable as seconds in a double, so the run state round-trips them.
inline constexpr std::int64_t kMinMSecs = -62135596800000LL;
inline constexpr std::int64_t kMaxMSecs = 253402300799999LL;

// What a QDateTime takes to be in UTC. Qt 6.5 moved this from Qt::TimeSpec to QTimeZone (the
// former is deprecated from 6.9 on and warns in 6.8); both give a plain UTC datetime (Qt::UTC).
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
inline const QTimeZone kUtc{QTimeZone::UTC};
#else
inline constexpr Qt::TimeSpec kUtc = Qt::UTC;
#endif

// Milliseconds since the epoch, clamped to the representable range; NaN counts as 0.
std::int64_t clampMSecs(double msecs);

// The instant `msecs` milliseconds after the epoch, clamped to the representable range.
Instant fromMSecs(std::int64_t msecs);

// The instant `seconds` after the epoch (fractions kept to the millisecond), saturating.
Instant fromEpochSeconds(double seconds);

// Seconds since the epoch, fractions kept.
double toEpochSeconds(const Instant& t);

// `t` plus `seconds` of elapsed time; non-finite or huge spans saturate at the range ends,
// NaN adds nothing.
Instant plusSeconds(const Instant& t, double seconds);

// Elapsed seconds from `from` to `to` (negative when `to` is earlier).
double secondsBetween(const Instant& from, const Instant& to);

// The first instant of `date` in `zone`: its midnight, or the first reading after a clock change
// that skipped midnight, or the earlier of two midnights when the clock went back across one.
// Invalid when `date` or `zone` is.
Instant startOfDay(const QDate& date, const QTimeZone& zone);

// Rounds `seconds` to a signed 64-bit integer with `round` semantics, saturating; NaN gives 0.
std::int64_t saturatingRound(double seconds);

// Ceiling of `seconds` as a signed 64-bit integer, saturating; NaN gives 0.
std::int64_t saturatingCeil(double seconds);

} // namespace instant
} // namespace morvane
