#pragma once

#include <QString>

namespace morvane {

// An updater failure: the one status line the user sees.
struct Fail {
    QString text;
    bool operator==(const Fail&) const = default;
};

} // namespace morvane
