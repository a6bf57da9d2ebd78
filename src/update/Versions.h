#pragma once

#include <QString>
#include <QStringView>

#include <compare>
#include <optional>

namespace morvane::versions {

// The strict integer reading of build numbers: an optional "+" or "-", then ASCII decimal digits
// only. Nothing for any other character, an empty text, or a value outside 64 bits.
std::optional<qint64> readInteger(QStringView text);

// A build number as the bundle states it: the strict reading, 0 when absent or unreadable.
qint64 buildNumber(const std::optional<QString>& text);

struct Triple {
    qint64 major = 0;
    qint64 minor = 0;
    qint64 patch = 0;
    auto operator<=>(const Triple&) const = default;
};

// A dotted requirement such as "13.x.4": pieces that read as integers, in order (13.4.0 here),
// missing ones 0, further ones ignored.
Triple requirement(QStringView dotted);

// The version at the start of a kernel release ("6.1.0-18-amd64" gives 6.1.0); nothing when the
// release does not start with a number.
std::optional<Triple> kernelVersion(QStringView release);

// The running kernel's release (uname -r), empty when it cannot be read.
QString kernelRelease();

} // namespace morvane::versions
