#include "Schedule.h"

#include <QHashFunctions>
#include <QJsonArray>

namespace morvane {

namespace {

// Qt numbers Monday 1 .. Sunday 7; schedules use the calendar's own numbering, Sunday 1 ..
// Saturday 7.
std::int64_t weekdayOf(const QDate& date) {
    return date.dayOfWeek() % 7 + 1;
}

// The start of the day `offset` days after `date`. Taken from the date rather than by moving a
// wall-clock time, so the answer is that day's first instant even when its midnight, or the
// previous one, fell into a clock change (Chile moves its clocks at 00:00).
Instant startOfDay(const QDate& date, std::int64_t offset, const QTimeZone& zone) {
    return instant::startOfDay(date.addDays(offset), zone);
}

// Minutes are elapsed time, so a 09:00 start on a spring-forward day lands at 10:00 on the
// wall clock. Stored minutes may be any int64; the sum saturates at the representable range.
Instant plusMinutes(const Instant& t, std::int64_t minutes) {
    return instant::plusSeconds(t, double(minutes) * 60.0);
}

// QUuid::fromString also takes braced text and answers the nil UUID for garbage, so the stored
// 8-4-4-4-12 form is checked here first.
bool isCanonicalUuidText(const QString& text) {
    if (text.size() != 36)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != u'-')
                return false;
        } else {
            const char16_t u = c.unicode();
            const bool hex = (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
            if (!hex)
                return false;
        }
    }
    return true;
}

// A JSON number that is a whole value representable as int64 (540 and 540.0 both qualify).
// QJsonValue::toInteger answers its default for anything else; asking with two different
// defaults tells a genuine value from that fallback.
std::optional<std::int64_t> integerOf(const QJsonValue& v) {
    if (!v.isDouble())
        return std::nullopt;
    const qint64 a = v.toInteger(0);
    const qint64 b = v.toInteger(1);
    if (a != b)
        return std::nullopt;
    return a;
}

} // namespace

OptInstant Schedule::occurrenceEnd(const Instant& t, const QTimeZone& calendar) const {
    if (!enabled || start == end || days.empty())
        return std::nullopt;
    if (!t.isValid() || !calendar.isValid())
        return std::nullopt;

    const QDateTime local = t.toTimeZone(calendar);
    const QDate date = local.date();
    const std::int64_t weekday = weekdayOf(date);
    const std::int64_t minute = local.time().hour() * 60 + local.time().minute();
    const Instant dayStart = startOfDay(date, 0, calendar);
    const bool startedToday = minute >= start && days.contains(weekday);

    if (start < end) {
        if (startedToday && minute < end)
            return plusMinutes(dayStart, end);
        return std::nullopt;
    }
    if (startedToday)
        return plusMinutes(startOfDay(date, 1, calendar), end);
    const std::int64_t previousWeekday = weekday == 1 ? 7 : weekday - 1;
    if (days.contains(previousWeekday) && minute < end)
        return plusMinutes(dayStart, end);
    return std::nullopt;
}

OptInstant Schedule::nextStart(const Instant& t, const QTimeZone& calendar) const {
    if (!enabled || start == end || days.empty())
        return std::nullopt;
    if (!t.isValid() || !calendar.isValid())
        return std::nullopt;

    const QDate today = t.toTimeZone(calendar).date();
    // Eight days: with a single weekday whose start already passed today, next week's is the
    // answer.
    for (std::int64_t k = 0; k <= 7; ++k) {
        const QDate day = today.addDays(k);
        if (!day.isValid() || !days.contains(weekdayOf(day)))
            continue;
        const Instant dayStart = startOfDay(today, k, calendar);
        if (!dayStart.isValid())
            continue;
        const Instant candidate = plusMinutes(dayStart, start);
        if (candidate > t)
            return candidate;
    }
    return std::nullopt;
}

QJsonObject Schedule::toJson() const {
    QJsonArray dayArray;
    for (std::int64_t d : days)
        dayArray.append(qint64(d));
    return QJsonObject{
        {QStringLiteral("id"), id.toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("enabled"), enabled},
        {QStringLiteral("name"), name},
        {QStringLiteral("days"), dayArray},
        {QStringLiteral("start"), qint64(start)},
        {QStringLiteral("end"), qint64(end)},
    };
}

std::optional<Schedule> Schedule::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();

    const QJsonValue idValue = o.value(QStringLiteral("id"));
    const QJsonValue enabledValue = o.value(QStringLiteral("enabled"));
    const QJsonValue nameValue = o.value(QStringLiteral("name"));
    const QJsonValue daysValue = o.value(QStringLiteral("days"));
    if (!idValue.isString() || !enabledValue.isBool() || !nameValue.isString() || !daysValue.isArray())
        return std::nullopt;

    const QString idText = idValue.toString();
    if (!isCanonicalUuidText(idText))
        return std::nullopt;
    // The text is already known to be well formed, so a null result here is the nil UUID itself.
    const QUuid parsedId = QUuid::fromString(idText);

    std::set<std::int64_t> parsedDays;
    for (const QJsonValue& d : daysValue.toArray()) {
        const auto day = integerOf(d);
        if (!day)
            return std::nullopt;
        parsedDays.insert(*day);
    }

    const auto parsedStart = integerOf(o.value(QStringLiteral("start")));
    const auto parsedEnd = integerOf(o.value(QStringLiteral("end")));
    if (!parsedStart || !parsedEnd)
        return std::nullopt;

    Schedule s;
    s.id = parsedId;
    s.enabled = enabledValue.toBool();
    s.name = nameValue.toString();
    s.days = std::move(parsedDays);
    s.start = *parsedStart;
    s.end = *parsedEnd;
    return s;
}

size_t qHash(const Schedule& s, size_t seed) noexcept {
    seed = qHashMulti(seed, s.id, s.enabled, s.name);
    seed = qHashRange(s.days.begin(), s.days.end(), seed);
    return qHashMulti(seed, qint64(s.start), qint64(s.end));
}

} // namespace morvane
