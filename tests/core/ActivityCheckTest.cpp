// Verified activity: how one readback is judged, how the verdict follows a run of them, and the
// engine reading back each movement at its next tick without reading the idle time any more often.

#include "ActivityCheck.h"
#include "FakePorts.h"

using namespace morvane;
using namespace morvane::test;

namespace {

const Instant kT0 = QDateTime(QDate(2026, 12, 2), QTime(12, 0), Qt::UTC);
using Outcome = Readback::Outcome;

struct JudgeCase {
    const char* what;
    std::optional<double> idleBefore;
    double elapsed;
    std::optional<double> idleAfter;
    Outcome expected;
};

} // namespace

TEST(ActivityCheck, EachReadbackIsJudgedFromTheIdleTimeBeforeAndAfter) {
    const JudgeCase cases[] = {
        {"reset by the movement", 61, 1.0, 0.94, Outcome::registered},
        {"reset, read at the edge of the margin", 61, 1.0, 1.5, Outcome::registered},
        {"just past the margin", 61, 1.0, 1.51, Outcome::missed},
        {"kept growing", 61, 1.0, 62, Outcome::missed},
        {"the user typed just before", 0.3, 1.0, 0.9, Outcome::userPresent},
        {"the user typed just before, idle kept growing", 0.3, 1.0, 1.3, Outcome::userPresent},
        {"read too late to mean anything", 61, 4.0, 0.1, Outcome::cannotTell},
        {"no idle time before", std::nullopt, 1.0, 0.5, Outcome::cannotTell},
        {"no idle time after", 61, 1.0, std::nullopt, Outcome::cannotTell},
    };
    for (const JudgeCase& c : cases) {
        SCOPED_TRACE(c.what);
        ActivityCheck check;
        check.moved(kT0, Action::zen, c.idleBefore);
        const Instant readAt = instant::plusSeconds(kT0, c.elapsed);
        EXPECT_FALSE(check.due(instant::plusSeconds(kT0, 0.2))) << "too early to read";
        EXPECT_TRUE(check.due(readAt));
        check.readBack(readAt, c.idleAfter);
        ASSERT_EQ(check.recent().size(), 1u);
        EXPECT_EQ(check.recent().back().outcome, c.expected);
        EXPECT_EQ(check.recent().back().idleAfter, c.idleAfter);
        EXPECT_FALSE(check.due(instant::plusSeconds(readAt, 1))) << "one read per movement";
        EXPECT_EQ(check.verdict(), c.expected == Outcome::registered ? Verdict::verified : Verdict::unknown);
    }
}

TEST(ActivityCheck, VerdictNeedsThreeMissesInARowAndOneRegisteredMovementClearsIt) {
    ActivityCheck check;
    Instant t = kT0;
    EXPECT_EQ(check.line(t), "Todavía no se comprobó ningún movimiento");
    // Each step: a movement made 60 s after the previous input, read back one second later.
    const auto step = [&](bool registers) {
        t = instant::plusSeconds(t, 60);
        check.moved(t, Action::standard, 60.0);
        t = instant::plusSeconds(t, 1);
        return check.readBack(t, registers ? 0.95 : 61.0);
    };
    EXPECT_TRUE(step(true));
    EXPECT_EQ(check.verdict(), Verdict::verified);
    const Instant registeredAt = instant::plusSeconds(t, -1);
    EXPECT_EQ(check.lastVerified(), OptInstant(registeredAt));
    EXPECT_EQ(check.line(instant::plusSeconds(t, 11)), "La sesión registró el último movimiento (hace 12 s)");

    EXPECT_FALSE(step(false));
    EXPECT_FALSE(step(false));
    EXPECT_EQ(check.verdict(), Verdict::verified) << "two misses are not yet a verdict";
    EXPECT_EQ(check.missesInARow(), 2);
    EXPECT_EQ(check.line(t), "La sesión no registró el último movimiento (el anterior sí, hace 2 min 3 s)");
    EXPECT_TRUE(step(false));
    EXPECT_EQ(check.verdict(), Verdict::unverified);
    EXPECT_EQ(check.line(t), "La sesión no está registrando los movimientos");
    EXPECT_EQ(check.lastVerified(), OptInstant(registeredAt)) << "the last success is kept";

    EXPECT_TRUE(step(true));
    EXPECT_EQ(check.verdict(), Verdict::verified);
    EXPECT_EQ(check.missesInARow(), 0);

    // A session that loses its idle source can no longer tell, whatever it said before.
    check.moved(t, Action::zen, std::nullopt);
    EXPECT_TRUE(check.readBack(instant::plusSeconds(t, 1), std::nullopt));
    EXPECT_EQ(check.verdict(), Verdict::unknown);
    EXPECT_EQ(check.line(t), "No se puede comprobar si la sesión registra los movimientos");

    // A second movement before the first was read: the first stays unjudged.
    check.moved(t, Action::click, 10.0);
    check.moved(instant::plusSeconds(t, 0.3), Action::click, 10.0);
    EXPECT_EQ(check.recent()[check.recent().size() - 2].outcome, Outcome::cannotTell);
    EXPECT_EQ(check.recent().back().outcome, Outcome::pending);
}

namespace {

// The engine in zen mode every two seconds, nothing else ticked.
struct MovingRig : Rig {
    MovingRig() {
        prefs([](Prefs& p) {
            p.interval = 2;
            p.mode = JiggleMode::zen;
            p.policy = TriggerPolicy::always;
            p.randomize = false;
            p.neverLocked = false;
            p.neverBatteryLow = false;
        });
        idle.lastInput = instant::plusSeconds(clock.t, -300);
        start();
        engine->setEnabled(true);
    }
    // Ticks until `count` more movements have been read back.
    void movements(int count) {
        const std::size_t target = jiggler.movements.size() + std::size_t(count);
        for (int guard = 0; guard < 100 && (jiggler.movements.size() < target || pending()); ++guard)
            tick();
    }
    bool pending() const {
        const auto& recent = engine->activityCheck().recent();
        return !recent.empty() && recent.back().outcome == Outcome::pending;
    }
    Verdict verdict() const { return engine->activityCheck().verdict(); }
};

} // namespace

TEST(ActivityCheck, EngineReadsBackEveryMovementAtItsNextTickWithoutExtraReads) {
    MovingRig rig;
    rig.movements(1);
    EXPECT_EQ(rig.verdict(), Verdict::verified);
    const Readback first = rig.engine->activityCheck().recent().front();
    EXPECT_EQ(first.movedAt, rig.jiggler.movements.front().at);
    EXPECT_EQ(first.readAt, OptInstant(instant::plusSeconds(first.movedAt, 1)));
    EXPECT_EQ(first.action, Action::zen);

    // One idle read per tick, movement or readback alike.
    for (int i = 0; i < 6; ++i) {
        const int before = rig.idle.reads;
        rig.tick();
        EXPECT_EQ(rig.idle.reads, before + 1);
    }

    // A session that ignores the input: unverified after three, one notification however many more.
    rig.jiggler.registers = false;
    rig.movements(2);
    EXPECT_EQ(rig.verdict(), Verdict::verified);
    rig.movements(1);
    EXPECT_EQ(rig.verdict(), Verdict::unverified);
    rig.movements(3);
    ASSERT_EQ(rig.notifier.sent.size(), 1u);
    EXPECT_EQ(rig.notifier.sent[0].title, "La sesión no registra los movimientos");

    // The user's own input half a second before a movement proves nothing either way.
    rig.clock.advance(0.7);
    rig.idle.userInput();
    rig.tick(0.5);
    rig.movements(0);
    EXPECT_EQ(rig.engine->activityCheck().recent().back().outcome, Outcome::userPresent);
    EXPECT_EQ(rig.verdict(), Verdict::unverified);

    rig.jiggler.registers = true;
    rig.movements(2);
    EXPECT_EQ(rig.verdict(), Verdict::verified);
    EXPECT_EQ(rig.notifier.sent.size(), 1u);

    // "Try now" between ticks reads the idle time once more: the click was input.
    const int before = rig.idle.reads;
    rig.clock.advance(0.4);
    rig.engine->doJiggle(rig.clock.t);
    EXPECT_EQ(rig.idle.reads, before + 1);
}

TEST(ActivityCheck, DeclarationsAreJudgedAndNoIdleSourceMeansUnknown) {
    {
        // No permission to post input: each declaration is read back like a movement.
        MovingRig rig;
        rig.trust.answer = false;
        rig.prefs([](Prefs& p) { p.mode = JiggleMode::standard; });
        for (int i = 0; i < 20 && rig.verdict() != Verdict::unverified; ++i)
            rig.tick();
        EXPECT_EQ(rig.verdict(), Verdict::unverified);
        EXPECT_EQ(rig.jiggler.declarations, 3);
        EXPECT_EQ(rig.engine->activityCheck().recent().back().action, Action::declaration);
    }
    MovingRig rig;
    rig.idle.answers = false;
    rig.jiggler.registers = false;
    rig.movements(4);
    EXPECT_EQ(rig.verdict(), Verdict::unknown);
    EXPECT_TRUE(rig.engine->activityCheck().noIdleSource());
    EXPECT_TRUE(rig.notifier.sent.empty());
}
