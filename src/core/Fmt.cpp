#include "Fmt.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace morvane::Fmt {

namespace {

// Clamps into the instants we represent; calendar arithmetic near year 9999 can step past it.
Instant clamped(const QDateTime& t) {
    return instant::fromMSecs(t.toMSecsSinceEpoch());
}

// The instant whose wall-clock reading in `zone` is `date` at `time`. Qt 6.4 answers an invalid
// QDateTime for a reading inside a spring-forward gap (and QDateTime::addDays can land on one
// with inconsistent fields), so the offsets are worked out by hand: a reading that does not
// exist is read with the offset in force before the gap, i.e. moved forward by the gap's size.
Instant fromWallClock(const QDate& date, const QTime& time, const QTimeZone& zone) {
    const QDateTime asUtc(date, time, instant::kUtc);
    // A day earlier on the wall is safely before any transition near the reading.
    const QDateTime before = asUtc.addSecs(-86400);
    const int offsetBefore = zone.offsetFromUtc(before.addSecs(-zone.offsetFromUtc(before)));
    const QDateTime guess = asUtc.addSecs(-offsetBefore);
    const QDateTime retry = asUtc.addSecs(-zone.offsetFromUtc(guess));
    const QDateTime back = retry.toTimeZone(zone);
    if (back.date() == date && back.time() == time)
        return retry;
    return guess;
}

} // namespace

QString time(const Instant& t, const QTimeZone& zone, const Instant& now) {
    const QDateTime local = t.toTimeZone(zone);
    const bool today = local.date() == now.toTimeZone(zone).date();
    return QLocale(QStringLiteral("es_AR"))
        .toString(local, today ? QStringLiteral("HH:mm") : QStringLiteral("ddd HH:mm"));
}

QString time(const Instant& t) {
    return time(t, QTimeZone::systemTimeZone(), QDateTime::currentDateTimeUtc());
}

QString duration(double seconds) {
    const std::int64_t s = instant::saturatingRound(seconds);
    if (s < 0)
        return QStringLiteral("0 s");
    if (s <= 59)
        return QStringLiteral("%1 s").arg(s);
    if (s <= 3599) {
        const std::int64_t m = s / 60;
        const std::int64_t r = s % 60;
        if (s <= 599 && r != 0)
            return QStringLiteral("%1 min %2 s").arg(m).arg(r);
        return QStringLiteral("%1 min").arg(m);
    }
    const std::int64_t h = s / 3600;
    const std::int64_t q = s % 3600;
    if (q > 59)
        return QStringLiteral("%1 h %2 min").arg(h).arg(q / 60);
    return QStringLiteral("%1 h").arg(h);
}

QString countdown(double seconds) {
    const std::int64_t a = instant::saturatingCeil(seconds);
    const std::int64_t t = std::max<std::int64_t>(a, 0);
    const long long h = t / 3600;
    const int m = int((t - 3600 * h) / 60);
    const int s = int(t % 60);
    if (a < 3600)
        return QString::asprintf("%d:%02d", m, s);
    return QString::asprintf("%lld:%02d:%02d", h, m, s);
}

Instant nextOccurrence(std::int64_t minutes, const Instant& after, const QTimeZone& zone) {
    if (!after.isValid())
        return after;
    const QTimeZone calendar = zone.isValid() ? zone : QTimeZone::utc();
    const Instant midnight = instant::startOfDay(after.toTimeZone(calendar).date(), calendar);
    // Elapsed minutes, not a wall-clock setting: on a clock-change day the result is off the
    // wall clock by the size of the change. Huge values saturate at the representable range.
    const Instant candidate = instant::plusSeconds(midnight, double(minutes) * 60.0);
    if (candidate > after)
        return candidate;
    const QDateTime local = candidate.toTimeZone(calendar);
    return clamped(fromWallClock(local.date().addDays(1), local.time(), calendar));
}

Instant nextOccurrence(std::int64_t minutes, const Instant& after) {
    return nextOccurrence(minutes, after, QTimeZone::systemTimeZone());
}

} // namespace morvane::Fmt
