#include "Instant.h"

#include <cmath>
#include <limits>

namespace morvane::instant {

namespace {

// Converts a double to int64 after the caller has rounded it; values outside the range
// (and infinities) saturate, NaN becomes 0.
std::int64_t saturate(double v) {
    if (std::isnan(v))
        return 0;
    // 2^63 is exactly representable; anything at or above it overflows int64.
    constexpr double kTwo63 = 9223372036854775808.0;
    if (v >= kTwo63)
        return std::numeric_limits<std::int64_t>::max();
    if (v < -kTwo63)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);
}

} // namespace

std::int64_t clampMSecs(double msecs) {
    if (std::isnan(msecs))
        return 0;
    if (msecs <= double(kMinMSecs))
        return kMinMSecs;
    if (msecs >= double(kMaxMSecs))
        return kMaxMSecs;
    return static_cast<std::int64_t>(std::llround(msecs));
}

Instant fromMSecs(std::int64_t msecs) {
    if (msecs < kMinMSecs)
        msecs = kMinMSecs;
    else if (msecs > kMaxMSecs)
        msecs = kMaxMSecs;
    return QDateTime::fromMSecsSinceEpoch(msecs, kUtc);
}

Instant fromEpochSeconds(double seconds) {
    return fromMSecs(clampMSecs(seconds * 1000.0));
}

double toEpochSeconds(const Instant& t) {
    return double(t.toMSecsSinceEpoch()) / 1000.0;
}

Instant plusSeconds(const Instant& t, double seconds) {
    if (std::isnan(seconds))
        return t;
    const double target = double(t.toMSecsSinceEpoch()) + seconds * 1000.0;
    return fromMSecs(clampMSecs(target));
}

double secondsBetween(const Instant& from, const Instant& to) {
    return double(to.toMSecsSinceEpoch() - from.toMSecsSinceEpoch()) / 1000.0;
}

Instant startOfDay(const QDate& date, const QTimeZone& zone) {
    Instant first = date.startOfDay(zone).toUTC();
    // Qt 6.4 answers the later midnight where the clock goes back across one (Havana falls back
    // from 01:00 to 00:00): while the instant before still reads the same date, step back to the
    // midnight of that earlier reading. A few steps cover any real zone's changes.
    for (int step = 0; step < 4 && first.isValid(); ++step) {
        const QDateTime before = first.addMSecs(-1).toTimeZone(zone);
        if (before.date() != date)
            break;
        const Instant earlier = first.addMSecs(-1 - before.time().msecsSinceStartOfDay());
        if (earlier.toTimeZone(zone).date() != date)
            break;
        first = earlier;
    }
    return first;
}

std::int64_t saturatingRound(double seconds) {
    return saturate(std::round(seconds));
}

std::int64_t saturatingCeil(double seconds) {
    return saturate(std::ceil(seconds));
}

} // namespace morvane::instant
