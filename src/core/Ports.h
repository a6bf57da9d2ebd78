#pragma once

// The small interfaces through which the engine reaches the machine. Each has one Linux adapter
// in src/system and one fake in the tests. All are called on the main thread and must answer
// promptly: the engine calls them from its tick.

#include "Instant.h"
#include "Prefs.h"

#include <QString>
#include <QTimeZone>

#include <functional>
#include <memory>
#include <optional>

namespace morvane {

class Clock {
public:
    virtual ~Clock() = default;
    // The current instant, UTC. It may step: set by hand, by a restored virtual machine, by NTP.
    virtual Instant now() const = 0;
    // Seconds from an arbitrary origin on a clock that never steps and keeps counting through a
    // suspend; only the difference between two readings means anything.
    virtual double monotonicSeconds() const = 0;
    // The user's current time zone: the calendar in which days and weekdays begin.
    virtual QTimeZone timeZone() const = 0;
};

class IdleTime {
public:
    virtual ~IdleTime() = default;
    // Seconds since the last input event of any kind on the session (0 when unknown).
    virtual double idleSeconds() = 0;
    // Whether idleSeconds() reflects the session's idle time now; false means "cannot tell" (a
    // session without an idle source, or one that has not answered yet). Never blocks.
    virtual bool available() = 0;
    // Whether the source tells of the user's activity edges by itself (see watch()). Without that
    // an engine that follows the user's input has to read idleSeconds() every second.
    virtual bool canWatch() { return false; }
    // Calls `edge` on the main thread each time the session turns idle (no input for about a
    // second) or active again, for as long as the source lives; idleSeconds() then answers for the
    // new state. A later call replaces the callback.
    virtual void watch(std::function<void()> edge) { (void)edge; }
};

class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;
    // Whether this process may post synthetic input events.
    virtual bool trusted() = 0;
};

class ScreenLockProbe {
public:
    virtual ~ScreenLockProbe() = default;
    // True while the session reports its screen as locked; false when it cannot tell.
    virtual bool screenLocked() = 0;
};

struct PowerState {
    bool onBattery = false;
    std::optional<int> percent;
    bool operator==(const PowerState&) const = default;
};

class PowerProbe {
public:
    virtual ~PowerProbe() = default;
    // Whether the machine runs on battery and the internal battery's charge; (false, none)
    // when it cannot tell.
    virtual PowerState power() = 0;
};

class DiskProbe {
public:
    virtual ~DiskProbe() = default;
    // True when a removable (or ejectable), local, writable, non-internal volume is mounted.
    virtual bool removableWritableDiskMounted() = 0;
};

class AudioProbe {
public:
    virtual ~AudioProbe() = default;
    // True while the default output device is playing something.
    virtual bool audioPlaying() = 0;
};

class AppsProbe {
public:
    virtual ~AppsProbe() = default;
    // The display name of the first running application matching the comma-separated `list`
    // (see AppList), or nothing; answers nothing without looking when the list has no terms.
    virtual std::optional<QString> runningApp(const QString& list) = 0;
    // The display name of the frontmost application, or nothing when there is none or it has no name.
    virtual std::optional<QString> frontmostAppName() = 0;
};

class CpuMeter {
public:
    virtual ~CpuMeter() = default;
    // Share of CPU time spent busy since the previous call, 0 to 1; nothing on the first call or
    // when the counters cannot be read.
    virtual std::optional<double> sample() = 0;
};

class Jiggler {
public:
    virtual ~Jiggler() = default;
    // Performs one movement in `mode` and declares user activity; returns at once (a standard
    // movement's return half may complete later on the event loop).
    virtual void perform(JiggleMode mode, double distance, bool randomize) = 0;
    // Declares user activity to the session without posting any input event.
    virtual void declareActivity() = 0;
};

class JiggleOverlay {
public:
    virtual ~JiggleOverlay() = default;
    // Flashes the on-screen icon next to the pointer once.
    virtual void flash() = 0;
};

class Notifier {
public:
    virtual ~Notifier() = default;
    // Prepares the notification service; called once at start.
    virtual void setup() = 0;
    // Posts a notification with `title` and `body`, unless the `notifications` setting is off.
    virtual void send(const QString& title, const QString& body) = 0;
};

class SleepGuard {
public:
    virtual ~SleepGuard() = default;
    // true holds the display-sleep inhibition, false releases it; repeating the current state
    // does nothing.
    virtual void set(bool on) = 0;
};

class HotKey {
public:
    virtual ~HotKey() = default;
    // Grabs Ctrl+Alt+Super+J; a second call while registered does nothing. A failed grab is
    // silent and leaves the key unregistered.
    virtual void registerKey() = 0;
    // Releases the grab and the event handler; harmless when not registered.
    virtual void unregisterKey() = 0;
    // Whether the grab is currently held.
    virtual bool isRegistered() const = 0;
};

class HotKeyFactory {
public:
    virtual ~HotKeyFactory() = default;
    // A hot key that runs `action` on the main thread once per press.
    virtual std::unique_ptr<HotKey> create(std::function<void()> action) = 0;
};

class LockEvents {
public:
    virtual ~LockEvents() = default;
    // Calls `locked` / `unlocked` on the main thread whenever the session's screen locks or
    // unlocks, for as long as the process lives.
    virtual void subscribe(std::function<void()> locked, std::function<void()> unlocked) = 0;
};

class Termination {
public:
    virtual ~Termination() = default;
    // Asks the application to quit in the orderly way (the event loop ends after this returns).
    virtual void requestQuit() = 0;
};

class RandomSource {
public:
    virtual ~RandomSource() = default;
    // A uniform fraction in [0, 1], both ends included, with 53 bits of resolution.
    virtual double unitClosed() = 0;
};

class Ticker {
public:
    virtual ~Ticker() = default;
    // Calls `tick` every `seconds` on the main thread, also while menus are open, until the
    // ticker is destroyed.
    virtual void start(double seconds, std::function<void()> tick) = 0;
    // Holds the ticks back: the next one comes when the wall clock reaches `until` (never, when
    // nothing is given), or at once when the wall clock is set; each rest() replaces the last.
    // After that tick the regular ticks carry on.
    virtual void rest(const OptInstant& until) = 0;
    // Back to the regular ticks, the next one an interval from now.
    virtual void resume() = 0;
};

class DefaultsStore;

// Everything the engine needs from outside. The references must outlive the engine.
struct EnginePorts {
    Clock& clock;
    IdleTime& idle;
    AccessibilityTrust& trust;
    ScreenLockProbe& screenLock;
    PowerProbe& power;
    DiskProbe& disk;
    AudioProbe& audio;
    AppsProbe& apps;
    CpuMeter& cpu;
    Jiggler& jiggler;
    JiggleOverlay& overlay;
    Notifier& notifier;
    SleepGuard& sleepGuard;
    HotKeyFactory& hotKeys;
    LockEvents& lockEvents;
    Termination& termination;
    RandomSource& random;
    Ticker& ticker;
    DefaultsStore& defaults;
};

} // namespace morvane
