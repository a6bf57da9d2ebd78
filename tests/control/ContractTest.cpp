// The names every front end shares with the running instance.
#include "ControlContract.h"

#include <gtest/gtest.h>

namespace morvane::contract {
namespace {

TEST(ContractTest, TabsByTheirSpanishNames) {
    EXPECT_EQ(parseTab(""), SettingsTab::general);
    EXPECT_EQ(parseTab("general"), SettingsTab::general);
    EXPECT_EQ(parseTab("movimiento"), SettingsTab::movement);
    EXPECT_EQ(parseTab("condiciones"), SettingsTab::conditions);
    EXPECT_EQ(parseTab("horarios"), SettingsTab::schedules);
    EXPECT_EQ(parseTab("Horarios"), std::nullopt);
    EXPECT_EQ(parseTab("schedules"), std::nullopt);
}

} // namespace
} // namespace morvane::contract
