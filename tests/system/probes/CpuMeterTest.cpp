#include "FixtureTree.h"
#include "Probes.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <cstdint>

using namespace morvane;
using morvane::test::FixtureTree;

namespace {

struct Ticks {
    std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0,
                  guest = 0;
};

// /proc/stat as the kernel writes it: the aggregate line, then per-CPU lines and the rest.
QByteArray procStat(const Ticks& t) {
    QByteArray line = "cpu ";
    for (std::uint64_t v :
         {t.user, t.nice, t.system, t.idle, t.iowait, t.irq, t.softirq, t.steal, t.guest, std::uint64_t(0)})
        line += ' ' + QByteArray::number(quint64(v));
    return line + "\ncpu0 1 2 3 4 5 6 7 8 9 10\nintr 12345 0 0\nctxt 99\n";
}

class CpuMeterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tree.ok()); }
    bool put(const QByteArray& contents) { return tree.write("proc/stat", contents); }
    bool put(const Ticks& t) { return put(procStat(t)); }

    FixtureTree tree;
};

TEST_F(CpuMeterTest, SecondSampleAnswersTheBusyShare) {
    ASSERT_TRUE(put(Ticks{1000, 50, 400, 9000, 100, 20, 30, 5, 70}));
    ProcStatCpuMeter meter(tree.root());
    EXPECT_EQ(meter.sample(), std::nullopt) << "first sample";
    // user +30; system +10 spread over system, irq, softirq and steal; idle +60 of which 10 is
    // I/O wait; guest time (already inside user) moves too and must not count twice.
    ASSERT_TRUE(put(Ticks{1030, 50, 404, 9050, 110, 23, 32, 6, 99}));
    const std::optional<double> load = meter.sample();
    ASSERT_TRUE(load.has_value());
    EXPECT_DOUBLE_EQ(*load, 0.4);
}

TEST_F(CpuMeterTest, NoTickPassedAnswersNothingAndMovesOn) {
    const Ticks a{100, 0, 100, 800};
    ASSERT_TRUE(put(a));
    ProcStatCpuMeter meter(tree.root());
    meter.sample();
    EXPECT_EQ(meter.sample(), std::nullopt);
    ASSERT_TRUE(put(Ticks{150, 0, 100, 850}));
    EXPECT_EQ(meter.sample(), 0.5);
}

TEST_F(CpuMeterTest, CountersPassingAMultipleOf2To32) {
    constexpr std::uint64_t k2To32 = std::uint64_t(1) << 32;
    ASSERT_TRUE(put(Ticks{5 * k2To32 - 10, 0, 3 * k2To32 - 4, 7 * k2To32 - 50}));
    ProcStatCpuMeter meter(tree.root());
    meter.sample();
    ASSERT_TRUE(put(Ticks{5 * k2To32 + 20, 0, 3 * k2To32 + 6, 7 * k2To32 + 10}));
    EXPECT_EQ(meter.sample(), 0.4);
}

TEST_F(CpuMeterTest, UnreadableStatAnswersNothingUntilItAppears) {
    ProcStatCpuMeter meter(tree.root());
    EXPECT_EQ(meter.sample(), std::nullopt);
    EXPECT_EQ(meter.sample(), std::nullopt);
    ASSERT_TRUE(put(Ticks{10, 0, 10, 80}));
    EXPECT_EQ(meter.sample(), std::nullopt) << "the first reading only sets the baseline";
    ASSERT_TRUE(put(Ticks{20, 0, 20, 140}));
    EXPECT_EQ(meter.sample(), 0.25);
}

TEST_F(CpuMeterTest, MalformedReadingsAnswerNothingAndKeepTheBaseline) {
    const QByteArray malformed[] = {
        "",
        "cpu\n",
        "cpu  1 2 3\n",
        "cpu0 1 2 3 4 5\ncpu 1 2 3 4\n",
        "intr 1 2 3 4\n",
        "cpu  a b c d\n",
        "cpu  -1 2 3 4\n",
        "cpu  1 2 3 4x 5\n",
        "cpu  99999999999999999999999 2 3 4\n",
        QByteArray("cpu  1\0 2 3 4\n", 14),
        QByteArray(4096, 'x'),
    };
    for (const QByteArray& bad : malformed) {
        SCOPED_TRACE(bad.left(40).toStdString());
        ASSERT_TRUE(put(Ticks{100, 0, 100, 800}));
        ProcStatCpuMeter meter(tree.root());
        meter.sample();
        ASSERT_TRUE(put(bad));
        EXPECT_EQ(meter.sample(), std::nullopt);
        ASSERT_TRUE(put(Ticks{130, 0, 110, 860}));
        EXPECT_EQ(meter.sample(), 0.4) << "measured from the last good reading";
    }
}

TEST(ProcStatCpuMeterLoad, WrapsAt2To32) {
    using R = ProcStatCpuMeter::Reading;
    struct Case {
        R previous, current;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, {30, 10, 60, 0}, 0.4},
        {{0xFFFFFFF0u, 0, 0xFFFFFFFFu, 0}, {0x10u, 0, 0x1Fu, 0}, 0.5},
        {{5, 5, 5, 5}, {5, 5, 5, 5}, std::nullopt},
        {{0, 0, 0, 0}, {0, 0, 100, 0}, 0.0},
        {{0, 0, 0, 0}, {0, 0, 0, 7}, 1.0},
        // The whole 32-bit range per counter must not overflow the sum.
        {{0, 0, 0, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}, 0.75},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProcStatCpuMeter::load(c.previous, c.current), c.expected)
            << c.current[0] << ' ' << c.current[1] << ' ' << c.current[2] << ' ' << c.current[3];
}

TEST(ProcStatCpuMeter, RealMachineGivesAFraction) {
    ProcStatCpuMeter meter;
    meter.sample();
    // Ticks advance at 100 Hz per CPU; poll until one passed.
    std::optional<double> load;
    ASSERT_TRUE(morvane::test::waitUntil([&] { return (load = meter.sample()).has_value(); }));
    EXPECT_GE(*load, 0.0);
    EXPECT_LE(*load, 1.0);
}

} // namespace
