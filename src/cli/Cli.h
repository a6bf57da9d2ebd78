#pragma once

// The command line that drives a running Morvane from scripts, launchers and key bindings:
// `morvane --on | --off | --toggle | --for 30m | --until 18:00 | --pause 15m | --cancel | --status |
// --diagnose | --preferences [tab] | --quit`, plus --help and --version. Parsed before any application object
// exists, so this file needs nothing beyond QtCore.

#include "SettingsTabState.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace morvane::cli {

// The longest run or pause a command can ask for; longer ones are cut to it (a century).
inline constexpr double kMaxSeconds = 100.0 * 365 * 86400;

// Process exit codes of the client.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // the running instance answered with an error
inline constexpr int kExitUsage = 2;  // bad flag, duration, time or tab: nothing was sent
inline constexpr int kExitNotRunning = 3;
inline constexpr int kExitProblems = 4; // --diagnose: something that can be checked does not work

// How the diagnosis marks a failed check at the start of its line.
inline const QString kProblemMark = QStringLiteral("✗");

enum class Action {
    runApp, // no command: start Morvane (or open the running one's popover); also --snapshot
    help,
    version,
    on,
    off,
    toggle,
    activateFor,
    activateUntil,
    pause,
    cancel,
    status,
    diagnose,
    preferences,
    quit,
};

struct Request {
    Action action = Action::runApp;
    qint64 seconds = 0;  // activateFor, pause: positive, at most kMaxSeconds
    int minuteOfDay = 0; // activateUntil: 0 … 1439
    QString tab = {};    // preferences: one of the settings tabs' names, empty for the first
    bool operator==(const Request&) const = default;
};

// What the command line asked for, or why it cannot be done (exit kExitUsage).
struct Parsed {
    Request request;
    QString error;          // empty when `request` holds; otherwise one line, without the program name
    bool showUsage = false; // the error is about the flags themselves: print the usage after it
};

// `arguments` without the program name.
Parsed parse(const QStringList& arguments);

// "90s", "15m", "1h30m", "2h": whole hours, minutes and seconds in that order, each at most once.
// Positive, cut to kMaxSeconds; nothing for zero, an empty text or anything else.
std::optional<qint64> parseDuration(const QString& text);

// "18:00", "8:05": a 24-hour time of day as minutes since midnight.
std::optional<int> parseTimeOfDay(const QString& text);

// The Spanish usage text, ending with a newline.
QString usage();

} // namespace morvane::cli
