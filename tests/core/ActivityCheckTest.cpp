// Verified activity: how one readback is judged, how the verdict follows a run of them, and the
// engine reading each movement back at its next tick without reading the idle time more often.

#include "ActivityCheck.h"
#include "FakePorts.h"

using namespace morvane;
using namespace morvane::test;
using Outcome = Readback::Outcome;

namespace {
const Instant kT0 = QDateTime(QDate(2026, 12, 2), QTime(12, 0), instant::kUtc);
}

TEST(ActivityCheck, EachReadbackIsJudgedFromTheIdleTimeBeforeAndAfter) {
    struct Case {
        const char* what;
        std::optional<double> idleBefore;
        double elapsed;
        std::optional<double> idleAfter;
        Outcome expected;
    };
    const Case cases[] = {
        {"reset by the movement", 61, 1.0, 0.94, Outcome::registered},
        {"at the edge of the margin", 61, 1.0, 1.5, Outcome::registered},
        {"just past the margin", 61, 1.0, 1.51, Outcome::missed},
        {"the user typed just before", 0.3, 1.0, 0.9, Outcome::userPresent},
        {"read too late to mean anything", 61, 4.0, 0.1, Outcome::cannotTell},
        {"no idle time before", std::nullopt, 1.0, 0.5, Outcome::cannotTell},
        {"no idle time after", 61, 1.0, std::nullopt, Outcome::cannotTell},
    };
    for (const Case& c : cases) {
        ActivityCheck check;
        check.moved(kT0, Action::zen, c.idleBefore);
        const Instant readAt = instant::plusSeconds(kT0, c.elapsed);
        EXPECT_FALSE(check.due(instant::plusSeconds(kT0, 0.2))) << c.what;
        check.readBack(readAt, c.idleAfter);
        EXPECT_EQ(check.recent().back().outcome, c.expected) << c.what;
        EXPECT_FALSE(check.due(instant::plusSeconds(readAt, 1))) << "one read per movement: " << c.what;
        EXPECT_EQ(check.verdict(), c.expected == Outcome::registered ? Verdict::verified : Verdict::unknown);
    }
}

TEST(ActivityCheck, TwoMissesAreNotYetAVerdictAndALostIdleSourceCannotTell) {
    ActivityCheck check;
    Instant t = kT0;
    for (const double idle : {0.95, 61.0, 61.0}) { // one registered movement, then two misses
        t = instant::plusSeconds(t, 60);
        check.moved(t, Action::standard, 60.0);
        t = instant::plusSeconds(t, 1);
        check.readBack(t, idle);
    }
    EXPECT_EQ(check.verdict(), Verdict::verified);
    EXPECT_EQ(check.line(t), "La sesión no registró el último movimiento (el anterior sí, hace 2 min 3 s)");
    check.moved(t, Action::zen, std::nullopt);
    EXPECT_TRUE(check.readBack(instant::plusSeconds(t, 1), std::nullopt)) << "a change scripts hear of";
    EXPECT_EQ(check.verdict(), Verdict::unknown);
}

TEST(ActivityCheck, EngineReadsBackAtItsNextTickAndNotifiesOnce) {
    Rig rig;
    rig.moveEveryTwoSeconds();
    rig.start();
    rig.engine->setEnabled(true);
    ASSERT_TRUE(rig.tickUntil(Verdict::verified));
    const Readback& first = rig.engine->activityCheck().recent().front();
    EXPECT_EQ(first.readAt, OptInstant(instant::plusSeconds(rig.jiggler.movements.front().at, 1)));
    // One idle read per tick, on movement and readback ticks alike.
    const int reads = rig.idle.reads;
    rig.ticks(6);
    EXPECT_EQ(rig.idle.reads, reads + 6);

    rig.jiggler.registers = false;
    ASSERT_TRUE(rig.tickUntil(Verdict::unverified));
    rig.jiggler.registers = true;
    ASSERT_TRUE(rig.tickUntil(Verdict::verified));

    // Without permission to post input, each declaration is read back like a movement.
    rig.trust.answer = false;
    rig.prefs([](Prefs& p) { p.mode = JiggleMode::standard; });
    ASSERT_TRUE(rig.tickUntil(Verdict::unverified));
    EXPECT_EQ(rig.engine->activityCheck().recent().back().action, Action::declaration);
    ASSERT_EQ(rig.notifier.sent.size(), 1u) << "once per run";
    EXPECT_EQ(rig.notifier.sent[0].title, "La sesión no registra los movimientos");

    // "Try now" between ticks reads the idle time afresh: the click on the button was input.
    const int before = rig.idle.reads;
    rig.clock.advance(0.4);
    rig.engine->doJiggle(rig.clock.t);
    EXPECT_EQ(rig.idle.reads, before + 1);
}
