#include "Schedule.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <limits>

using namespace morvane;

namespace {

Instant local(const char* zone, int y, int mo, int d, int h, int mi, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone(zone)).toUTC();
}

Instant utc(int y, int mo, int d, int h, int mi) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi), instant::kUtc);
}

Schedule make(std::set<std::int64_t> days, std::int64_t start, std::int64_t end) {
    Schedule s;
    s.days = std::move(days);
    s.start = start;
    s.end = end;
    return s;
}

// A wall-clock moment in March 2026; 9 March is a Monday.
struct At {
    int day, hour, minute, second = 0;
};

struct WorkedCase {
    const char* what;
    std::set<std::int64_t> days;
    std::int64_t start, end;
    At t;
    std::optional<At> occurrenceEnd;
    std::optional<At> nextStart;
};

const WorkedCase kWorked[] = {
    {"Wed 10:00", {2, 3, 4, 5, 6}, 540, 1080, {11, 10, 0}, At{11, 18, 0}, At{12, 9, 0}},
    {"Wed 08:00", {2, 3, 4, 5, 6}, 540, 1080, {11, 8, 0}, std::nullopt, At{11, 9, 0}},
    {"Wed 09:00:00", {2, 3, 4, 5, 6}, 540, 1080, {11, 9, 0}, At{11, 18, 0}, At{12, 9, 0}},
    {"Wed 17:59:59", {2, 3, 4, 5, 6}, 540, 1080, {11, 17, 59, 59}, At{11, 18, 0}, At{12, 9, 0}},
    {"Wed 18:00:00", {2, 3, 4, 5, 6}, 540, 1080, {11, 18, 0}, std::nullopt, At{12, 9, 0}},
    {"Fri 18:30", {2, 3, 4, 5, 6}, 540, 1080, {13, 18, 30}, std::nullopt, At{16, 9, 0}},
    {"Sat noon", {2, 3, 4, 5, 6}, 540, 1080, {14, 12, 0}, std::nullopt, At{16, 9, 0}},
    {"only Wed, Wed 10:00", {4}, 540, 1080, {11, 10, 0}, At{11, 18, 0}, At{18, 9, 0}},
    {"overnight Mon 23:00", {2}, 1320, 360, {9, 23, 0}, At{10, 6, 0}, At{16, 22, 0}},
    {"overnight Tue 05:00", {2}, 1320, 360, {10, 5, 0}, At{10, 6, 0}, At{16, 22, 0}},
    {"overnight Tue 06:00", {2}, 1320, 360, {10, 6, 0}, std::nullopt, At{16, 22, 0}},
    {"overnight Mon 05:00", {2}, 1320, 360, {9, 5, 0}, std::nullopt, At{9, 22, 0}},
    {"overnight Mon 21:00", {2}, 1320, 360, {9, 21, 0}, std::nullopt, At{9, 22, 0}},
    {"Sunday overnight, Mon 00:30", {1}, 1380, 60, {9, 0, 30}, At{9, 1, 0}, At{15, 23, 0}},
    {"Saturday overnight, Sun 00:30", {7}, 1380, 60, {15, 0, 30}, At{15, 1, 0}, At{21, 23, 0}},
    {"weekday numbers out of range", {0, 8, -1, 1000}, 540, 1080, {11, 10, 0}, std::nullopt, std::nullopt},
};

} // namespace

TEST(Schedule, WorkedCasesHoldInEveryZone) {
    for (const char* zone : {"America/Argentina/Buenos_Aires", "Europe/Madrid", "America/New_York"}) {
        const QTimeZone tz(zone);
        ASSERT_TRUE(tz.isValid()) << zone;
        auto at = [&](const std::optional<At>& a) -> OptInstant {
            if (!a)
                return std::nullopt;
            return local(zone, 2026, 3, a->day, a->hour, a->minute, a->second);
        };
        for (const WorkedCase& c : kWorked) {
            const Schedule s = make(c.days, c.start, c.end);
            const Instant t = *at(c.t);
            EXPECT_EQ(s.occurrenceEnd(t, tz), at(c.occurrenceEnd)) << zone << ": " << c.what;
            EXPECT_EQ(s.nextStart(t, tz), at(c.nextStart)) << zone << ": " << c.what;
        }
    }
}

TEST(Schedule, GuardsGiveNothingAtEveryInstant) {
    Schedule disabled = make({1, 2, 3, 4, 5, 6, 7}, 540, 1080);
    disabled.enabled = false;
    const Schedule guarded[] = {disabled, make({1, 2, 3, 4, 5, 6, 7}, 600, 600), make({}, 540, 1080)};
    const QTimeZone tz("Europe/Madrid");
    for (Instant t = utc(2026, 3, 9, 0, 0); t < utc(2026, 3, 17, 0, 0); t = t.addSecs(17 * 60)) {
        for (const Schedule& s : guarded) {
            ASSERT_EQ(s.occurrenceEnd(t, tz), std::nullopt) << t.toString(Qt::ISODate).toStdString();
            ASSERT_EQ(s.nextStart(t, tz), std::nullopt) << t.toString(Qt::ISODate).toStdString();
        }
    }
}

// Minutes are elapsed time from the day's first instant; days are calendar days.
TEST(Schedule, ClockChangesShiftMinutesButNotDays) {
    const QTimeZone ny("America/New_York");
    // 8 March 2026 is a Sunday; clocks jump from 02:00 EST to 03:00 EDT.
    const Schedule sunday = make({1}, 540, 1080);
    const OptInstant start = sunday.nextStart(local("America/New_York", 2026, 3, 8, 1, 0), ny);
    ASSERT_EQ(start, utc(2026, 3, 8, 14, 0));
    EXPECT_EQ(start->toTimeZone(ny).time(), QTime(10, 0));
    EXPECT_EQ(sunday.occurrenceEnd(utc(2026, 3, 8, 16, 0), ny), utc(2026, 3, 8, 23, 0)); // 19:00 EDT
    // 1 November 2026 falls back from 02:00 EDT to 01:00 EST: 09:00 becomes 08:00.
    EXPECT_EQ(sunday.nextStart(local("America/New_York", 2026, 11, 1, 0, 30), ny), utc(2026, 11, 1, 13, 0));

    // Madrid springs forward on Sunday 29 March; Monday 09:00 stays 09:00 on the wall.
    const QTimeZone madrid("Europe/Madrid");
    EXPECT_EQ(make({2}, 540, 1080).nextStart(local("Europe/Madrid", 2026, 3, 28, 12, 0), madrid),
              utc(2026, 3, 30, 7, 0));
    // An overnight run starting on the short day ends at 06:00 on Monday, not 24 h after Sunday's
    // midnight.
    EXPECT_EQ(make({1}, 1320, 360).occurrenceEnd(local("Europe/Madrid", 2026, 3, 29, 23, 0), madrid),
              utc(2026, 3, 30, 4, 0));
    // Madrid falls back on Sunday 25 October: six elapsed hours after its midnight read 05:00.
    EXPECT_EQ(make({7}, 1320, 360).occurrenceEnd(local("Europe/Madrid", 2026, 10, 24, 23, 0), madrid),
              utc(2026, 10, 25, 4, 0));

    // Lord Howe moves by half an hour (02:00 -> 02:30) on Sunday 4 October 2026.
    const QTimeZone lordHowe("Australia/Lord_Howe");
    const OptInstant lh = sunday.nextStart(local("Australia/Lord_Howe", 2026, 10, 3, 20, 0), lordHowe);
    ASSERT_TRUE(lh);
    EXPECT_EQ(lh->toTimeZone(lordHowe), QDateTime(QDate(2026, 10, 4), QTime(9, 30), lordHowe));

    // Chile moves its clocks at midnight: Sunday 6 September 2026 begins at 01:00, so its 09:00 is
    // 10:00 on the wall, while Monday still starts at its own midnight.
    const QTimeZone santiago("America/Santiago");
    const Instant saturdayNight = local("America/Santiago", 2026, 9, 5, 22, 0);
    EXPECT_EQ(sunday.nextStart(saturdayNight, santiago), utc(2026, 9, 6, 13, 0));
    EXPECT_EQ(make({2}, 540, 1080).nextStart(utc(2026, 9, 6, 14, 0), santiago), utc(2026, 9, 7, 12, 0));

    // Havana reads midnight twice on Sunday 1 November 2026 (04:00 and 05:00 UTC); the day starts
    // at the first.
    const QTimeZone havana("America/Havana");
    EXPECT_EQ(make({1}, 60, 120).nextStart(utc(2026, 11, 1, 4, 10), havana), utc(2026, 11, 1, 5, 0));
    EXPECT_EQ(make({1}, 0, 120).occurrenceEnd(utc(2026, 11, 1, 5, 30), havana), utc(2026, 11, 1, 6, 0));
}

TEST(Schedule, ExtremeMinutesSaturate) {
    const QTimeZone tz("America/Argentina/Buenos_Aires");
    const Instant wed10 = local("America/Argentina/Buenos_Aires", 2026, 3, 11, 10, 0);
    const Instant endOfTime = instant::fromMSecs(instant::kMaxMSecs);
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

    EXPECT_EQ(make({4}, 540, kMax).occurrenceEnd(wed10, tz), endOfTime);
    EXPECT_EQ(make({4}, kMax, 0).nextStart(wed10, tz), endOfTime);
    EXPECT_EQ(make({4}, kMax, 0).occurrenceEnd(wed10, tz), std::nullopt);
    const Schedule earliest = make({4}, kMin, 660);
    EXPECT_EQ(earliest.occurrenceEnd(wed10, tz), local("America/Argentina/Buenos_Aires", 2026, 3, 11, 11, 0));
    EXPECT_EQ(earliest.nextStart(wed10, tz), std::nullopt);
}

TEST(Schedule, JsonRoundTripKeepsEveryField) {
    Schedule s = make({0, 1, 7, 8, std::numeric_limits<std::int64_t>::min()}, -5,
                      std::numeric_limits<std::int64_t>::max());
    s.enabled = false;
    s.name = QStringLiteral("Guardia nocturna ñandú");

    const QJsonObject o = s.toJson();
    EXPECT_EQ(o.size(), 6);
    const QString idText = o.value(QStringLiteral("id")).toString();
    EXPECT_EQ(idText.size(), 36);
    EXPECT_EQ(idText, idText.toUpper());

    const QJsonDocument reread = QJsonDocument::fromJson(QJsonDocument(o).toJson());
    EXPECT_EQ(Schedule::fromJson(reread.object()), s);
}

TEST(Schedule, JsonDecodingIsStrict) {
    auto decode = [](const char* json) { return Schedule::fromJson(QJsonDocument::fromJson(json).object()); };
    const auto lower = decode(R"({"id":"0f8fad5b-d9cb-469f-a165-70867728950e","enabled":true,"name":"A",)"
                              R"("days":[3,2,3,2.0],"start":540.0,"end":1080})");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->id, QUuid(QStringLiteral("{0F8FAD5B-D9CB-469F-A165-70867728950E}")));
    EXPECT_EQ(lower->days, (std::set<std::int64_t>{2, 3}));
    EXPECT_EQ(lower->start, 540);
    EXPECT_TRUE(decode(R"({"id":"00000000-0000-0000-0000-000000000000","enabled":true,"name":"",)"
                       R"("days":[],"start":0,"end":0})"));

    const QJsonObject good = lower->toJson();
    const std::pair<const char*, QJsonValue> broken[] = {
        {"id", QStringLiteral("{0F8FAD5B-D9CB-469F-A165-70867728950E}")},
        {"id", QStringLiteral("0F8FAD5BD9CB469FA16570867728950E")},
        {"id", QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950G")},
        {"id", QStringLiteral("0F8FAD5B-D9CB-469F-A165+70867728950E")},
        {"id", 7},
        {"enabled", 1},
        {"enabled", QStringLiteral("true")},
        {"name", QJsonValue::Null},
        {"days", QJsonArray{2, 2.5}},
        {"days", QJsonArray{2, QStringLiteral("3")}},
        {"days", 2},
        {"start", 540.5},
        {"start", QStringLiteral("540")},
        {"end", 1e300},
        {"end", QJsonValue::Undefined},
    };
    for (const auto& [key, value] : broken) {
        QJsonObject o = good;
        if (value.isUndefined())
            o.remove(QLatin1String(key));
        else
            o.insert(QLatin1String(key), value);
        EXPECT_EQ(Schedule::fromJson(o), std::nullopt) << key << " " << QJsonDocument(o).toJson().constData();
    }
    EXPECT_EQ(Schedule::fromJson(QJsonArray{good}), std::nullopt);
}

TEST(Schedule, HashFollowsEquality) {
    const Schedule a = make({2, 6, 4}, 540, 1080);
    Schedule b = a;
    b.days = {6, 4, 2};
    EXPECT_EQ(qHash(a), qHash(b));

    std::vector<Schedule> variants(6, a);
    variants[0].id = QUuid::createUuid();
    variants[1].enabled = false;
    variants[2].name = QStringLiteral("Horario 2");
    variants[3].days = {2, 4};
    variants[4].start = 541;
    variants[5].end = 1079;
    QSet<size_t> hashes{qHash(a)};
    for (const Schedule& v : variants) {
        EXPECT_NE(v, a);
        hashes.insert(qHash(v));
    }
    EXPECT_EQ(hashes.size(), 7);
}
