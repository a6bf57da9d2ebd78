#include "SettingsTabState.h"

namespace morvane {

SettingsTabState& SettingsTabState::shared() {
    static SettingsTabState* state = new SettingsTabState; // lives until the process ends
    return *state;
}

} // namespace morvane
