#pragma once

#include "Instant.h"

#include <QString>

#include <deque>
#include <optional>

namespace morvane {

// Whether the session counts Morvane's movements as input, as far as its idle time shows.
enum class Verdict {
    unknown,    // no idle source, or no movement judged yet
    verified,   // the last judged movement reset the session's idle time
    unverified, // the last kMissesForUnverified judged movements in a row did not
};

// "unknown", "verified", "unverified": the names scripts read.
QString verdictName(Verdict verdict);

// What was done to count as input: a pointer event in one of the modes, or only a declaration of
// activity to the session (no permission to post input).
enum class Action { standard, zen, click, declaration };

// One movement and what the session's idle time said about it afterwards.
struct Readback {
    enum class Outcome {
        pending,     // not read back yet
        registered,  // the idle time fell back below the time since the movement
        missed,      // it kept growing from before the movement
        userPresent, // the user gave input just before: a low idle time would prove nothing
        cannotTell,  // no idle time, or the read came too late to mean anything
    };
    Instant movedAt;
    Action action = Action::zen;
    std::optional<double> idleBefore; // seconds, read just before the movement
    std::optional<double> idleAfter;  // seconds, read at `readAt`
    OptInstant readAt;
    Outcome outcome = Outcome::pending;
    bool operator==(const Readback&) const = default;
};

// Closes the loop on every movement: the engine reports each one with the idle time it read just
// before, and the idle time it reads at its next tick (about a second later); this judges each
// movement and keeps the verdict. Only movements made while the user was away are judged: a user
// who typed a moment before would bring the idle time down whether or not the movement counted.
// Plain value logic, no clock or port of its own.
class ActivityCheck {
public:
    static constexpr int kMissesForUnverified = 3;
    // The idle time may exceed the time since the movement by this much and still count as reset:
    // the instants on both sides are read a few milliseconds apart.
    static constexpr double kMargin = 0.5;
    // A movement is judged only when the session had been idle at least this long before it, so
    // that a movement that did not count shows an idle time well above the time since it.
    static constexpr double kAwayAtLeast = 1.0;
    // Reads earlier than this may come before the input reached the session (a standard
    // movement's return half follows 60 ms later; Mutter's events go over the bus).
    static constexpr double kReadAfter = 0.5;
    // Reads later than this (a suspended machine, a stalled loop) leave room for the user's input.
    static constexpr double kReadWithin = 3.0;
    static constexpr std::size_t kKept = 8;

    // Records a movement at `at`; `idleBefore` is nothing when the session offers no idle time.
    // A movement still waiting for its read is left unjudged.
    void moved(const Instant& at, Action action, std::optional<double> idleBefore);

    // Whether a read at `now` would judge the pending movement (too early reads wait).
    bool due(const Instant& now) const;
    // When the pending movement is best read back (a second after it), or nothing when none waits.
    OptInstant readBackAt() const;
    // Judges the pending movement with the idle time read at `now` (nothing: no idle time).
    // Answers whether verdict() or lastVerified() changed.
    bool readBack(const Instant& now, std::optional<double> idle);
    // Moves every instant kept (the movements, their reads, the last registered one) by `seconds`:
    // the wall clock stepped by that much, and the ages shown must stay what they really are.
    void shift(double seconds);

    Verdict verdict() const { return m_verdict; }
    // When the last registered movement was made.
    const OptInstant& lastVerified() const { return m_lastVerified; }
    // Judged movements that did not register since the last one that did.
    int missesInARow() const { return m_misses; }
    // Whether the last read found no idle source at all.
    bool noIdleSource() const { return m_noSource; }
    // The latest movements, oldest first.
    const std::deque<Readback>& recent() const { return m_recent; }

    // The one line the tooltip, the settings window and --status show, e.g. "La sesión registró el
    // último movimiento (hace 12 s)".
    QString line(const Instant& now) const;

private:
    Verdict m_verdict = Verdict::unknown;
    OptInstant m_lastVerified;
    int m_misses = 0;
    bool m_noSource = false;
    bool m_lastRegistered = false;
    std::deque<Readback> m_recent;
};

// "standard", "zen", "click", "declaración"; "registrado", "no registrado", ... for the diagnosis.
QString actionName(Action action);
QString outcomeName(Readback::Outcome outcome);

} // namespace morvane
