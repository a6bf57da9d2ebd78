#pragma once

namespace morvane {

// The outward half of a standard movement for devices that only move relative to where the
// pointer is: `distance` points (at least 1, NaN counts as 1) to the right, or in a random
// direction when `randomize` is on. The return half is its opposite.
struct RelativeStep {
    double dx = 0;
    double dy = 0;
};
RelativeStep relativeStep(double distance, bool randomize);
// The return half follows the outward half after this long.
inline constexpr int kStepReturnMs = 60;

} // namespace morvane
