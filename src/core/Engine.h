#pragma once

#include "ActivityCheck.h"
#include "Instant.h"
#include "Ports.h"
#include "RunState.h"
#include "Schedule.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace morvane {

class SettingsStore;

// The one state machine of the application: the on/off switch, timers, pauses, planned runs,
// daily schedules, the tick that decides whether to move, the status line and the persisted run
// state. Main thread only.
//
// The tick comes every second while a window shows the engine's values. Otherwise it comes only
// when something can change: off, at the next planned instant (nextWakeWhileOff()); on, at the
// next movement or timer edge (nextWakeWhileOn()), at the user's activity edges the idle source
// watches, and at the screen's lock and unlock. An idle source that cannot watch keeps the
// engine ticking every second while on.
class Engine final : public QObject {
    Q_OBJECT
public:
    static inline const QString kStateKey = QStringLiteral("state.v1");

    // Touches no timer, observer or stored state; only asks whether input may be posted.
    Engine(SettingsStore& store, EnginePorts ports, QObject* parent = nullptr);
    ~Engine() override;

    // The process-wide engine, built on first use by the factory the application installs.
    static Engine& shared();
    static void setSharedFactory(std::function<std::unique_ptr<Engine>()> factory);

    // Sets up notifications, restores the run state, follows screen lock, the hot-key and
    // display-sleep settings, starts the one-second tick and runs the first tick at once.
    void start();

    // Flips the switch as a user action: ends any pause, drops a planned run when switching on,
    // and never leaves the run to a schedule. `notify` posts the hot-key notification.
    void toggle(bool notify);

    // The one primitive that switches on or off; `reason` becomes a notification body.
    void setEnabled(bool on, const std::optional<QString>& reason = std::nullopt);

    // On now, off at `until`.
    void activate(const Instant& until);
    // Plans a run that starts at `start` and, if given, stops at `stop`.
    void schedule(const Instant& start, const OptInstant& stop);
    // Off now, back on after `seconds` (carrying the running timer over the pause).
    void pause(double seconds);
    // Forgets every timer, pause and planned run; the switch stays as it is.
    void cancelTimers();
    bool hasTimers() const;

    // Why movement is forbidden right now, or nothing. Probes are called lazily, in order.
    std::optional<QString> blockingReason();

    // Performs one movement at `now` (also the settings window's "try now" button).
    void doJiggle(const Instant& now);

    // Whether a window shows the engine's live values. While it is unwatched the engine rests
    // between the instants that matter (see the class comment); a window opening brings what the
    // views show up to date at once.
    void setWatched(bool watched);
    // The next instant at which an engine that is off has something to do: a planned start, the
    // end of a pause, a schedule starting or ending (looked at again at least every ten minutes).
    // Nothing when none is coming.
    OptInstant nextWakeWhileOff() const;
    // The next instant at which an engine that is on and unwatched has something to do: the next
    // movement (or, while blocked, the next look at the conditions), the read-back of the last
    // movement, the timer's end, and what nextWakeWhileOff() names.
    OptInstant nextWakeWhileOn() const;
    // Whether the engine, on and unwatched, rests between the instants that matter rather than
    // ticking every second: its idle source watches the user's activity edges.
    bool restsWhileOn() const { return m_ports.idle.canWatch(); }

    // Published state.
    bool enabled() const { return m_enabled; }
    const OptInstant& stopAt() const { return m_stopAt; }
    const OptInstant& startAt() const { return m_startAt; }
    const OptInstant& plannedStopAt() const { return m_plannedStopAt; }
    const OptInstant& pausedUntil() const { return m_pausedUntil; }
    const Instant& now() const { return m_now; }
    // The status line as of now: its fixed part, then the countdown it carries, if any, computed
    // from the current time ("Activo · próximo en 42 s").
    QString status() const;
    // What the status line says without its countdown: it changes with the state (on/off, a
    // blocking reason, "Activo", "Trabajando", "Esperando inactividad"), not with the time.
    enum class Countdown { none, nextMovement, idleWait };
    struct StatusForm {
        QString text;
        Countdown countdown = Countdown::none;
        bool operator==(const StatusForm&) const = default;
    };
    const StatusForm& statusForm() const { return m_status; }
    bool blocked() const { return m_blocked; }
    const OptInstant& lastJiggle() const { return m_lastJiggle; }
    qint64 jiggleCount() const { return m_jiggleCount; }
    const std::optional<Schedule>& activeSchedule() const { return m_activeSchedule; }
    bool accessibilityOK() const { return m_accessibilityOK; }
    std::optional<double> cpuUsage() const { return m_cpuUsage; }
    double userIdle() const { return m_userIdle; }
    bool working() const { return m_working; }
    // Whether the session registers the movements (verdict, last registered movement, the latest
    // readbacks). A change of verdict or lastVerified counts as a change of published state.
    const ActivityCheck& activityCheck() const { return m_activity; }

    // Internal state, readable for inspection (tests, diagnostics).
    const Instant& nextJiggleAt() const { return m_nextJiggleAt; }
    const Instant& lastUserInput() const { return m_lastUserInput; }
    bool enabledBySchedule() const { return m_enabledBySchedule; }
    bool hotKeyRegistered() const { return m_hotKey && m_hotKey->isRegistered(); }

Q_SIGNALS:
    // Emitted once after any operation or tick that changed published state.
    void changed();

private:
    class Batch;
    friend class Batch;

    void tick();
    // The wall clock's current instant. When the wall clock stepped since the previous reading,
    // first moves the engine's own instants by the step (see shiftBookkeeping).
    Instant readClock();
    // Moves the instants that measure durations (next movement, last input, last movement, lock
    // note, disk cache, the activity check's) by `seconds`. The user's timers and plans are
    // wall-clock times and stay.
    void shiftBookkeeping(double seconds);
    // Returns false when the tick must end at once (the application is quitting).
    bool tickBody(const Instant& now);
    void refreshStatus();
    void persist();
    void restore();
    bool diskMounted();
    bool isOwnInput(const Instant& t) const;
    // Hands the movement about to be made at `now` to the activity check, with the idle time
    // before it; and judges the pending one from the idle time `idle` read at `now`.
    void recordMovement(const Instant& now, Action action);
    void readBack(const Instant& now, double idle);
    HotKey& hotKey();
    void applyHotKeySetting(bool on);

    // The due-checks of the tick, in the order it runs them.
    void plannedStartDue(const Instant& now);
    void pauseEndDue(const Instant& now);
    bool timerEndDue(const Instant& now);
    void schedulesDue(const Instant& now);

    RunState::Numbers runStateNumbers() const;

    // After each outermost batch: rests the ticker while off and unwatched, else keeps it ticking.
    void planTicks();
    void wakeFromRest();

    // Published-property setters: they record that observers need a `changed()`.
    template <typename T> void publish(T& field, const T& value) {
        if (!(field == value)) {
            field = value;
            m_dirty = true;
        }
    }
    void setStatus(const QString& text, Countdown countdown = Countdown::none) {
        publish(m_status, StatusForm{text, countdown});
    }
    // When the movement is due: the next movement's instant, and in when-idle mode not before the
    // user has been idle for the interval.
    Instant movementDueAt() const;
    // Whether this tick of an engine that is on looks at the conditions: every tick while ticking
    // every second, else once the movement (or the next look while blocked) is due.
    bool judgesConditions(const Instant& now);

    SettingsStore& m_store;
    EnginePorts m_ports;

    // Published.
    bool m_enabled = false;
    OptInstant m_stopAt;
    OptInstant m_startAt;
    OptInstant m_plannedStopAt;
    OptInstant m_pausedUntil;
    Instant m_now;
    StatusForm m_status{QStringLiteral("Apagado")};
    bool m_blocked = false;
    OptInstant m_lastJiggle;
    qint64 m_jiggleCount = 0;
    std::optional<Schedule> m_activeSchedule;
    bool m_accessibilityOK = false;
    std::optional<double> m_cpuUsage;
    double m_userIdle = 0;
    bool m_working = false;
    ActivityCheck m_activity;

    // Private.
    Instant m_nextJiggleAt;
    Instant m_lastUserInput;
    bool m_enabledBySchedule = false;
    std::optional<QUuid> m_lastScheduleID;
    bool m_lockedByNote = false;
    Instant m_lockNoteAt;
    OptInstant m_pausedStopAt;
    bool m_pausedBySchedule = false;
    Instant m_diskCacheAt;
    bool m_diskCacheValue = false;
    // The previous reading of both clocks, for telling a step of the wall clock from time passing.
    Instant m_clockWall;
    double m_clockMonotonic = 0;
    std::optional<RunState::Numbers> m_persisted;
    std::unique_ptr<HotKey> m_hotKey;
    std::optional<bool> m_hotkeySetting;       // last delivered value of `hotkey`
    std::optional<bool> m_displaySleepSetting; // last delivered value of `preventDisplaySleep`

    // The idle time the current tick read, so that a movement in the same tick needs no second read.
    double m_idleRead = 0;
    Instant m_idleReadAt;
    bool m_unverifiedNoted = false; // the one notification per run has gone out

    bool m_dirty = false;
    int m_batchDepth = 0;
    bool m_started = false;
    bool m_quitting = false; // the run state stays as the tick before the quit wrote it
    bool m_watched = false;
    bool m_resting = false;
    // While blocked and resting, when the conditions are looked at again.
    Instant m_judgeAt;
    // A lock or unlock came: the next tick looks at the conditions whenever it comes.
    bool m_judgeNext = false;
};

} // namespace morvane
