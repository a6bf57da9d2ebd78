#include "FixtureTree.h"
#include "Probes.h"

#include <gtest/gtest.h>

#include <QList>
#include <QPair>

using namespace morvane;
using morvane::test::FixtureTree;

namespace {

using Files = QList<QPair<QString, QByteArray>>;

// One supply's attribute files under sys/class/power_supply/<name>/.
Files supply(const QString& name, const Files& attributes) {
    Files out;
    for (const auto& [file, contents] : attributes)
        out.append({QStringLiteral("sys/class/power_supply/%1/%2").arg(name, file), contents + '\n'});
    return out;
}

Files mains(bool online) {
    return supply("AC", {{"type", "Mains"}, {"online", online ? "1" : "0"}});
}

Files battery(const QString& name, const QByteArray& status, const Files& figures) {
    Files attributes{{"type", "Battery"}, {"scope", "System"}, {"present", "1"}, {"status", status}};
    return supply(name, attributes + figures);
}

struct PowerCase {
    const char* name;
    Files files;
    PowerState expected;
};

void PrintTo(const PowerCase& c, std::ostream* os) {
    *os << c.name;
}

class PowerProbeCases : public ::testing::TestWithParam<PowerCase> {};

TEST_P(PowerProbeCases, ReadsTheSupplies) {
    const PowerCase& c = GetParam();
    FixtureTree tree;
    ASSERT_TRUE(tree.ok());
    ASSERT_TRUE(tree.mkdir("sys/class/power_supply"));
    for (const auto& [file, contents] : c.files)
        ASSERT_TRUE(tree.write(file, contents));
    SysfsPowerProbe probe(tree.root());
    const PowerState state = probe.read();
    EXPECT_EQ(state.onBattery, c.expected.onBattery);
    EXPECT_EQ(state.percent, c.expected.percent);
    EXPECT_EQ(probe.power(), c.expected);
}

const PowerCase kPowerCases[] = {
    {"LaptopOnBatteryAt15",
     mains(false) + battery("BAT0", "Discharging", {{"energy_now", "7500000"}, {"energy_full", "50000000"}}),
     {true, 15}},
    {"DesktopWithoutBattery", mains(true), {false, std::nullopt}},
    {"LastBatteryGivesThePercentageAndMiceAreIgnored",
     mains(false) + battery("BAT0", "Full", {{"energy_now", "50"}, {"energy_full", "100"}}) +
         battery("BAT1", "Not charging", {{"charge_now", "30"}, {"charge_full", "40"}}) +
         // Sorts after BAT1 and discharges: it must neither give the percentage nor the state.
         supply("hidpp_battery_0",
                {{"type", "Battery"}, {"scope", "Device"}, {"status", "Discharging"}, {"capacity", "10"}}),
     {false, 75}},
    {"ChargeFiguresWhenNoEnergyFigures",
     battery("BAT0", "Discharging", {{"charge_now", "50"}, {"charge_full", "80"}}),
     {true, 62}},
    {"CapacityWhenNoFigures", battery("BAT0", "Charging", {{"capacity", "42"}}), {false, 42}},
    {"NotClamped", battery("BAT0", "Full", {{"energy_now", "105"}, {"energy_full", "100"}}), {false, 105}},
    {"FullZeroIgnored",
     battery("BAT0", "Discharging", {{"energy_now", "5"}, {"energy_full", "0"}}),
     {true, std::nullopt}},
    {"FullZeroFallsBackToCapacity",
     battery("BAT0", "Discharging", {{"energy_now", "5"}, {"energy_full", "0"}, {"capacity", "33"}}),
     {true, 33}},
    {"FullZeroOnTheLastKeepsTheEarlierOne",
     battery("BAT0", "Discharging", {{"energy_now", "40"}, {"energy_full", "80"}}) +
         battery("BAT1", "Discharging", {{"energy_now", "5"}, {"energy_full", "0"}}),
     {true, 50}},
    {"EmptyBayIgnored",
     battery("BAT0", "Discharging", {{"energy_now", "40"}, {"energy_full", "80"}}) +
         supply("BAT1", {{"type", "Battery"}, {"present", "0"}, {"capacity", "0"}}),
     {true, 50}},
    {"ChargerOnlineWinsOverDischarging",
     mains(true) + battery("BAT0", "Discharging", {{"energy_now", "10"}, {"energy_full", "20"}}),
     {false, 50}},
    {"UsbChargerOnline",
     supply("ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "1"}}) +
         battery("BAT0", "Discharging", {{"capacity", "80"}}),
     {false, 80}},
    {"Garbage",
     supply("AC", {{"type", "\xff\xfe"}, {"online", "yes"}}) +
         battery("BAT0", "Discharging\x01",
                 {{"energy_now", "abc"},
                  {"energy_full", "-100"},
                  {"charge_now", "99999999999999999999999"},
                  {"charge_full", "1"},
                  {"capacity", "12abc"}}) +
         battery("BAT1", "Full", {{"energy_now", "92233720368547758"}, {"energy_full", "1"}}) +
         battery("BAT2", "Full", {{"capacity", "-5"}}),
     {false, std::nullopt}},
};

INSTANTIATE_TEST_SUITE_P(SysfsPowerProbe, PowerProbeCases, ::testing::ValuesIn(kPowerCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SysfsPowerProbe, AttributesThatAreDirectoriesOrMissingAnswerNothing) {
    FixtureTree tree;
    ASSERT_TRUE(tree.mkdir("sys/class/power_supply/BAT0/energy_now"));
    ASSERT_TRUE(tree.write("sys/class/power_supply/BAT0/type", "Battery\n"));
    ASSERT_TRUE(tree.write("sys/class/power_supply/BAT0/energy_full", "100\n"));
    ASSERT_TRUE(tree.write("sys/class/power_supply/stray-file", "Battery\n"));
    EXPECT_EQ(SysfsPowerProbe(tree.root()).read(), (PowerState{false, std::nullopt}));
    EXPECT_EQ(SysfsPowerProbe(tree.path("missing")).read(), (PowerState{false, std::nullopt}));
}

TEST(SysfsPowerProbe, PowerIsCachedReadIsNot) {
    FixtureTree tree;
    for (const auto& [file, contents] :
         mains(false) + battery("BAT0", "Discharging", {{"energy_now", "30"}, {"energy_full", "100"}}))
        ASSERT_TRUE(tree.write(file, contents));
    SysfsPowerProbe probe(tree.root());
    ASSERT_EQ(probe.power(), (PowerState{true, 30}));

    ASSERT_TRUE(tree.write("sys/class/power_supply/AC/online", "1\n"));
    ASSERT_TRUE(tree.write("sys/class/power_supply/BAT0/energy_now", "31\n"));
    EXPECT_EQ(probe.power(), (PowerState{true, 30})) << "within the cache period";
    EXPECT_EQ(probe.read(), (PowerState{false, 31}));
}

} // namespace
