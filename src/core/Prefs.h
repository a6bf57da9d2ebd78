#pragma once

#include "Schedule.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace morvane {

// What one movement does.
enum class JiggleMode { standard, zen, click };
// When a movement may happen.
enum class TriggerPolicy { always, whenIdle };

inline constexpr std::array<JiggleMode, 3> kAllJiggleModes{JiggleMode::standard, JiggleMode::zen,
                                                           JiggleMode::click};
inline constexpr std::array<TriggerPolicy, 2> kAllTriggerPolicies{TriggerPolicy::always,
                                                                  TriggerPolicy::whenIdle};

// The stored text of each case ("standard", "zen", "click", "always", "whenIdle").
QString toText(JiggleMode mode);
QString toText(TriggerPolicy policy);
// The case whose stored text is `text`, or nothing.
std::optional<JiggleMode> jiggleModeFromText(const QString& text);
std::optional<TriggerPolicy> triggerPolicyFromText(const QString& text);
// The labels the settings window shows.
QString label(JiggleMode mode);
QString label(TriggerPolicy policy);

// Every user setting. The record stores what it is given: no validation, no clamping.
struct Prefs {
    double interval = 120;
    TriggerPolicy policy = TriggerPolicy::whenIdle;
    JiggleMode mode = JiggleMode::standard;
    double distance = 4;
    bool randomize = true;
    bool showIconOnJiggle = false;
    bool preventDisplaySleep = true;
    bool reqCPU = false;
    double cpuThreshold = 20;
    bool reqRemovableDisk = false;
    bool reqAudio = false;
    bool reqApps = false;
    QString reqAppsList = QStringLiteral("Teams, Slack, Zoom");
    bool neverOnBattery = false;
    bool neverBatteryLow = true;
    double batteryThreshold = 20;
    bool neverLocked = true;
    bool neverFrontmost = false;
    QString neverFrontmostList;
    bool schedulesEnabled = false;
    std::vector<Schedule> schedules{Schedule{}};
    bool restoreState = true;
    bool notifications = true;
    bool hotkey = true;
    bool countdownInMenuBar = true;
    bool quitWhenTimerEnds = false;
    bool autoCheckUpdates = true;
    bool autoInstallUpdates = true;
    std::int64_t lastUntilMinutes = 1080;
    std::int64_t lastStartMinutes = 540;
    std::int64_t lastStopMinutes = 1080;
    bool lastStopEnabled = true;
    std::int64_t customActivateMinutes = 90;
    std::int64_t customPauseMinutes = 30;

    bool operator==(const Prefs&) const = default;

    // One compact JSON object with all 34 keys; nothing when a number is infinite or NaN, which
    // JSON cannot hold (Qt's writer would put null in its place, read back as the default).
    std::optional<QByteArray> toJson() const;

    // Forgiving decoding: a missing, null or mistyped key keeps that field's default; one bad
    // schedule keeps the default schedule list. Nothing when `json` is not a JSON object.
    static std::optional<Prefs> fromJson(const QByteArray& json);
};

} // namespace morvane
