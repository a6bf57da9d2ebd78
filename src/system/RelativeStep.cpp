#include "RelativeStep.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace morvane {

namespace {

// A step never needs to cross more than the largest screens; wl_fixed_t holds ±8 million, and
// Mutter clamps a longer one anyway.
constexpr double kLongestStep = 65535;

} // namespace

RelativeStep relativeStep(double distance, bool randomize) {
    const double step = std::isnan(distance) ? 1.0 : std::clamp(distance, 1.0, kLongestStep);
    const double angle = randomize ? QRandomGenerator::global()->bounded(2 * std::numbers::pi) : 0.0;
    // Compositor space grows downwards, like X's root window: a positive sine steps down.
    return {step * std::cos(angle), step * std::sin(angle)};
}

} // namespace morvane
