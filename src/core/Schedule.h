#pragma once

#include "Instant.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QTimeZone>
#include <QUuid>

#include <cstdint>
#include <optional>
#include <set>

namespace morvane {

// One named daily time range on a set of weekdays (1 Sunday .. 7 Saturday). An end earlier
// than the start runs overnight into the next day; an end equal to the start never runs.
struct Schedule {
    QUuid id = QUuid::createUuid();
    bool enabled = true;
    QString name = QStringLiteral("Horario laboral");
    std::set<std::int64_t> days{2, 3, 4, 5, 6};
    std::int64_t start = 540;
    std::int64_t end = 1080;

    bool operator==(const Schedule&) const = default;

    // The end of the occurrence that contains `t` in `calendar`, or nothing when `t` is outside
    // every occurrence.
    OptInstant occurrenceEnd(const Instant& t, const QTimeZone& calendar) const;

    // The earliest occurrence start strictly after `t`, looking at t's day and the seven after.
    OptInstant nextStart(const Instant& t, const QTimeZone& calendar) const;

    // All six keys; the id upper-case in its canonical 36-character form.
    QJsonObject toJson() const;

    // Strict: every key present with the right type, or nothing.
    static std::optional<Schedule> fromJson(const QJsonValue& value);
};

size_t qHash(const Schedule& s, size_t seed = 0) noexcept;

} // namespace morvane
