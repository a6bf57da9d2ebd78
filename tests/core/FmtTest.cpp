#include "Fmt.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace morvane;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr auto kMaxMinutes = std::numeric_limits<std::int64_t>::max();
constexpr auto kMinMinutes = std::numeric_limits<std::int64_t>::min();

Instant local(const QTimeZone& zone, int mo, int d, int h, int mi) {
    return QDateTime(QDate(2026, mo, d), QTime(h, mi), zone).toUTC();
}

Instant utc(int mo, int d, int h, int mi) {
    return QDateTime(QDate(2026, mo, d), QTime(h, mi), instant::kUtc);
}

} // namespace

TEST(Fmt, DurationWorkedValues) {
    const std::pair<double, const char*> cases[] = {
        {-3, "0 s"},
        {0.4, "0 s"},
        {0.5, "1 s"},
        {59.4, "59 s"},
        {59.5, "1 min"},
        {90, "1 min 30 s"},
        {599, "9 min 59 s"},
        {600, "10 min"},
        {659, "10 min"},
        {3599, "59 min"},
        {3600, "1 h"},
        {3659, "1 h"},
        {3660, "1 h 1 min"},
        {7325, "2 h 2 min"},
        {90000, "25 h"},
        {-0.5, "0 s"},
        {120, "2 min"},
        {kNaN, "0 s"},
        {-kInf, "0 s"},
        {-1e308, "0 s"},
        // Saturated at 2^63 - 1 seconds.
        {kInf, "2562047788015215 h 30 min"},
        {1e308, "2562047788015215 h 30 min"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(Fmt::duration(seconds), QString::fromUtf8(text)) << seconds;
}

TEST(Fmt, CountdownWorkedValues) {
    const std::pair<double, const char*> cases[] = {
        {-5, "0:00"},
        {0, "0:00"},
        {0.2, "0:01"},
        {59.01, "1:00"},
        {754, "12:34"},
        {3599.5, "1:00:00"},
        {3599.2, "1:00:00"},
        {3599, "59:59"},
        {3725, "1:02:05"},
        {360000, "100:00:00"},
        {kNaN, "0:00"},
        {-kInf, "0:00"},
        {-1e308, "0:00"},
        {kInf, "2562047788015215:30:07"},
        {1e308, "2562047788015215:30:07"},
    };
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(Fmt::countdown(seconds), QString::fromUtf8(text)) << seconds;
}

TEST(Fmt, TimeShowsTheWeekdayOnlyOffToday) {
    const QTimeZone ba("America/Argentina/Buenos_Aires");
    const Instant tuesdayMorning = local(ba, 3, 10, 8, 0);
    const std::pair<Instant, const char*> cases[] = {
        {local(ba, 3, 10, 9, 5), "09:05"},      {local(ba, 3, 10, 0, 0), "00:00"},
        {local(ba, 3, 10, 23, 59), "23:59"},    {local(ba, 3, 11, 9, 5), "mié 09:05"},
        {local(ba, 3, 9, 23, 59), "lun 23:59"}, {local(ba, 3, 14, 18, 0), "sáb 18:00"},
        {local(ba, 3, 17, 8, 0), "mar 08:00"},
    };
    for (const auto& [t, text] : cases)
        EXPECT_EQ(Fmt::time(t, ba, tuesdayMorning), QString::fromUtf8(text)) << text;

    // The day boundary belongs to the zone: at 02:00 UTC on Wednesday it is still Tuesday in
    // Buenos Aires.
    const Instant now = utc(3, 11, 2, 0);
    EXPECT_EQ(Fmt::time(utc(3, 10, 23, 30), ba, now), QStringLiteral("20:30"));
    EXPECT_EQ(Fmt::time(utc(3, 10, 23, 30), QTimeZone::utc(), now), QStringLiteral("mar 23:30"));
}

TEST(Fmt, TimeDefaultsToTheCurrentDayAndZone) {
    const QRegularExpression clock(QStringLiteral("^\\d\\d:\\d\\d$"));
    const QRegularExpression dayAndClock(QStringLiteral("^\\S+ \\d\\d:\\d\\d$"));
    EXPECT_TRUE(clock.match(Fmt::time(QDateTime::currentDateTimeUtc())).hasMatch());
    EXPECT_TRUE(dayAndClock.match(Fmt::time(QDateTime::currentDateTimeUtc().addDays(2))).hasMatch());
}

TEST(Fmt, NextOccurrenceWorkedValues) {
    for (const char* zone : {"America/Argentina/Buenos_Aires", "Europe/Madrid", "America/New_York"}) {
        const QTimeZone tz(zone);
        const Instant after = local(tz, 3, 10, 14, 30);
        const std::pair<std::int64_t, Instant> cases[] = {
            {1080, local(tz, 3, 10, 18, 0)}, {540, local(tz, 3, 11, 9, 0)},   {870, local(tz, 3, 11, 14, 30)},
            {0, local(tz, 3, 11, 0, 0)},     {871, local(tz, 3, 10, 14, 31)}, {1500, local(tz, 3, 11, 1, 0)},
        };
        for (const auto& [minutes, expected] : cases)
            EXPECT_EQ(Fmt::nextOccurrence(minutes, after, tz), expected) << zone << " " << minutes;
    }
}

TEST(Fmt, NextOccurrenceOnClockChangeDays) {
    // New York springs forward at 02:00 on 8 March 2026.
    const QTimeZone ny("America/New_York");
    // Elapsed minutes from midnight: 09:00 reads 10:00 that day.
    EXPECT_EQ(Fmt::nextOccurrence(540, local(ny, 3, 8, 1, 0), ny), utc(3, 8, 14, 0));
    // The one-day step keeps the wall-clock time across the change: Saturday's passed 09:00 EST
    // becomes Sunday 09:00 EDT, 23 hours later.
    EXPECT_EQ(Fmt::nextOccurrence(540, local(ny, 3, 7, 12, 0), ny), utc(3, 8, 13, 0));
    // Stepping onto a reading that does not exist (02:30) moves past the gap.
    EXPECT_EQ(Fmt::nextOccurrence(150, local(ny, 3, 7, 3, 0), ny), utc(3, 8, 7, 30));
    // Falling back on 1 November: 09:00 of elapsed time reads 08:00 EST.
    EXPECT_EQ(Fmt::nextOccurrence(540, local(ny, 11, 1, 0, 30), ny), utc(11, 1, 13, 0));
    // Havana falls back from 01:00 to 00:00 that day: minutes count from the first midnight (04:00 UTC).
    EXPECT_EQ(Fmt::nextOccurrence(60, utc(11, 1, 4, 10), QTimeZone("America/Havana")), utc(11, 1, 5, 0));
}

TEST(Fmt, NextOccurrenceSaturatesAndDefaults) {
    const QTimeZone tz("Europe/Madrid");
    const Instant after = local(tz, 3, 10, 14, 30);
    EXPECT_EQ(Fmt::nextOccurrence(kMaxMinutes, after, tz), instant::fromMSecs(instant::kMaxMSecs));
    EXPECT_TRUE(Fmt::nextOccurrence(kMinMinutes, after, tz).isValid());
    EXPECT_TRUE(Fmt::nextOccurrence(1439, instant::fromMSecs(instant::kMaxMSecs), tz).isValid());

    // The default zone is the system's; the tests run with TZ=UTC but need not.
    const Instant now = QDateTime::currentDateTimeUtc();
    const Instant midnight = Fmt::nextOccurrence(0, now);
    EXPECT_GT(midnight, now);
    EXPECT_LE(now.secsTo(midnight), 25 * 3600);
    EXPECT_EQ(midnight.toTimeZone(QTimeZone::systemTimeZone()).time().minute(), 0);
}
