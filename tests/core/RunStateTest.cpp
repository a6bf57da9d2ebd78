#include "RunState.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace morvane;

TEST(RunState, ReadsNumbersAndNumericTextsAndRefusesTheRest) {
    const RunState::Numbers n{1, 1765200000.123, 0, 0, 0, 0, 1, 0};
    EXPECT_EQ(RunState::parse(RunState::toVariant(n)), n);
    EXPECT_EQ(RunState::parse(QStringList{"1", "1765200000.123", "0", "0", "0", "0", "1", "0", "9"}), n)
        << "texts from the INI file; extra elements are ignored";
    EXPECT_FALSE(RunState::parse(QStringList{"1", "0", "0", "0", "0", "0", "0"})) << "short";
    EXPECT_FALSE(RunState::parse(QStringList{"1", "0", "0", "0", "0", "0", "0", "yes"}));
    EXPECT_FALSE(RunState::parse(QVariantList{1, 0, 0, 0, 0, 0, 0, QVariant()}));
    EXPECT_FALSE(RunState::parse(QVariant(42)));
    EXPECT_FALSE(RunState::parse(QVariant()));
}
