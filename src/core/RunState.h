#pragma once

#include <QVariant>

#include <array>
#include <optional>

namespace morvane::RunState {

// The run state is eight numbers: enabled, stopAt, startAt, plannedStopAt, pausedUntil,
// pausedStopAt, enabledBySchedule, pausedBySchedule. Instants are seconds since 1970 (0 when
// absent), flags 1 or 0.
using Numbers = std::array<double, 8>;

// What to hand the defaults store.
QVariant toVariant(const Numbers& numbers);

// Reads a stored value back. Nothing when it is not a list, an element is not a number (a
// numeric text counts: the INI file keeps list elements as text), or it has fewer than eight
// elements; extra elements are ignored.
std::optional<Numbers> parse(const QVariant& stored);

} // namespace morvane::RunState
