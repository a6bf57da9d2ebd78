#pragma once

#include <QString>

#include <optional>

namespace morvane {

// Where one service's display-sleep inhibition stands.
enum class InhibitionState {
    off,     // not wanted
    asking,  // requested, no answer yet
    held,    // the service accepted it
    refused, // the service answered with an error
    absent,  // no such service on the bus
};

// One service's inhibition, for the diagnosis.
struct InhibitionStatus {
    QString service; // its bus name, or "X11" for the X server's screensaver suspension
    InhibitionState state = InhibitionState::off;
    // The service's own word on whether the session counts as inhibited, where it can give one
    // (GNOME's IsInhibited, logind's ListInhibitors), as of the last confirmation.
    std::optional<bool> confirmed;
    bool operator==(const InhibitionStatus&) const = default;
};

} // namespace morvane
