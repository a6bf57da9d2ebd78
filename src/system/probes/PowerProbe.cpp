#include "KernelFiles.h"
#include "Probes.h"

#include <climits>

namespace morvane {

namespace {

using namespace kernelfiles;

// Sysfs refreshes battery figures every few seconds at best; reading them more often buys nothing.
constexpr qint64 kCacheMs = 5000;

std::string attribute(const std::string& supply, const char* name) {
    const std::optional<std::string> text = readSmall(supply + '/' + name, 256);
    return text ? std::string(trimmed(*text)) : std::string();
}

// now × 100 ÷ full, or nothing when either file is missing, malformed, full is 0 or the product
// would overflow (garbage, not a battery).
std::optional<int> ratio(const std::string& supply, const char* nowName, const char* fullName) {
    const std::optional<std::int64_t> now = toCount(attribute(supply, nowName));
    const std::optional<std::int64_t> full = toCount(attribute(supply, fullName));
    if (!now || !full || *full <= 0 || *now > INT64_MAX / 100)
        return std::nullopt;
    const std::int64_t percent = *now * 100 / *full;
    if (percent > INT_MAX)
        return std::nullopt;
    return int(percent);
}

std::optional<int> batteryPercent(const std::string& supply) {
    if (std::optional<int> p = ratio(supply, "energy_now", "energy_full"))
        return p;
    if (std::optional<int> p = ratio(supply, "charge_now", "charge_full"))
        return p;
    const std::optional<std::int64_t> capacity = toCount(attribute(supply, "capacity"));
    if (capacity && *capacity <= INT_MAX)
        return int(*capacity);
    return std::nullopt;
}

} // namespace

SysfsPowerProbe::SysfsPowerProbe(QString root)
    : m_root(std::move(root)) {}

PowerState SysfsPowerProbe::power() {
    if (!m_age.isValid() || m_age.elapsed() >= kCacheMs) {
        m_cached = read();
        m_age.start();
    }
    return m_cached;
}

PowerState SysfsPowerProbe::read() const {
    const std::string dir = rootPath(m_root) + "/sys/class/power_supply";
    bool externalOnline = false;
    bool discharging = false;
    PowerState state;
    for (const std::string& name : sortedEntries(dir)) {
        const std::string supply = dir + '/' + name;
        const std::string type = attribute(supply, "type");
        // Kernels before 4.19 spelled USB chargers as USB_DCP, USB_C, USB_PD and so on.
        if (type == "Mains" || type.starts_with("USB")) {
            externalOnline = externalOnline || attribute(supply, "online") == "1";
            continue;
        }
        if (type != "Battery")
            continue;
        // Wireless mice, keyboards and headsets report their batteries here with scope Device.
        if (attribute(supply, "scope") == "Device")
            continue;
        // An empty bay of a dual-battery laptop is listed with present 0 and no figures.
        if (attribute(supply, "present") == "0")
            continue;
        discharging = discharging || attribute(supply, "status") == "Discharging";
        if (std::optional<int> percent = batteryPercent(supply))
            state.percent = percent;
    }
    // Some firmware keeps a battery "Discharging" for a moment after the charger is plugged in;
    // an online charger is the stronger evidence.
    state.onBattery = !externalOnline && discharging;
    return state;
}

} // namespace morvane
