#include "Instant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace morvane;
using namespace morvane::instant;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr auto kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr auto kI64Min = std::numeric_limits<std::int64_t>::min();
constexpr double kTwo63 = 9223372036854775808.0;

} // namespace

TEST(Instant, ClampMSecsSaturates) {
    const std::pair<double, std::int64_t> cases[] = {
        {kNaN, 0},
        {kInf, kMaxMSecs},
        {-kInf, kMinMSecs},
        {1e308, kMaxMSecs},
        {-1e308, kMinMSecs},
        {double(kMaxMSecs) + 1, kMaxMSecs},
        {double(kMinMSecs) - 1, kMinMSecs},
        {1.5, 2},
        {-1.5, -2},
        {1765200000123.4, 1765200000123},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(clampMSecs(in), out) << in;
    EXPECT_EQ(fromMSecs(kI64Max), fromMSecs(kMaxMSecs));
    EXPECT_EQ(fromMSecs(kI64Min).date(), QDate(1, 1, 1));
    EXPECT_EQ(fromMSecs(kMaxMSecs).date(), QDate(9999, 12, 31));
}

TEST(Instant, EpochSecondsRoundTripToTheMillisecond) {
    const std::pair<double, std::int64_t> cases[] = {
        {1765200000.123, 1765200000123}, {0.001, 1}, {-0.001, -1}, {-62135596800.0, kMinMSecs},
        {253402300799.999, kMaxMSecs},
    };
    for (const auto& [seconds, msecs] : cases) {
        const Instant t = fromEpochSeconds(seconds);
        ASSERT_TRUE(t.isValid()) << seconds;
        EXPECT_TRUE(t.toString(Qt::ISODateWithMs).endsWith(u'Z')) << seconds;
        EXPECT_EQ(t.toMSecsSinceEpoch(), msecs) << seconds;
        EXPECT_EQ(toEpochSeconds(t), seconds) << seconds;
    }
    EXPECT_EQ(fromEpochSeconds(0.0004).toMSecsSinceEpoch(), 0);
    EXPECT_EQ(fromEpochSeconds(kNaN).toMSecsSinceEpoch(), 0);
    EXPECT_EQ(fromEpochSeconds(1e308).toMSecsSinceEpoch(), kMaxMSecs);
}

TEST(Instant, PlusSecondsSaturates) {
    const Instant t = fromEpochSeconds(1765200000.5);
    EXPECT_EQ(plusSeconds(t, kNaN), t);
    EXPECT_EQ(plusSeconds(t, kInf), fromMSecs(kMaxMSecs));
    EXPECT_EQ(plusSeconds(t, 1e308), fromMSecs(kMaxMSecs));
    EXPECT_EQ(plusSeconds(t, -kInf), fromMSecs(kMinMSecs));
    EXPECT_EQ(plusSeconds(t, -1e308), fromMSecs(kMinMSecs));
    EXPECT_EQ(plusSeconds(t, 1.25).toMSecsSinceEpoch(), 1765200001750);
    EXPECT_EQ(secondsBetween(t, plusSeconds(t, -90.5)), -90.5);
}

TEST(Instant, RoundingSaturatesAtTheInt64Bounds) {
    const double belowTwo63 = std::nextafter(kTwo63, 0.0); // 2^63 - 1024
    const double belowMinus63 = std::nextafter(-kTwo63, -kInf);
    struct Case {
        double in;
        std::int64_t round, ceil;
    };
    const Case cases[] = {
        {kNaN, 0, 0},
        {0.5, 1, 1},
        {-0.5, -1, 0},
        {2.5, 3, 3},
        {-1.5, -2, -1},
        {0.2, 0, 1},
        {-0.2, 0, 0},
        {kTwo63, kI64Max, kI64Max},
        {belowTwo63, 9223372036854774784, 9223372036854774784},
        {-kTwo63, kI64Min, kI64Min},
        {belowMinus63, kI64Min, kI64Min},
        {kInf, kI64Max, kI64Max},
        {-kInf, kI64Min, kI64Min},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(saturatingRound(c.in), c.round) << c.in;
        EXPECT_EQ(saturatingCeil(c.in), c.ceil) << c.in;
    }
}
