#pragma once

// What every front end of the running Morvane relies on: where it answers on the session bus, the
// names of the properties it publishes there, and the names of the settings tabs it opens. The
// command-line client, the shell and any other front end read these and nothing else.

#include "SettingsTabState.h"

#include <QString>

#include <optional>

namespace morvane::contract {

// The name one running Morvane owns, the object it exports and that object's interface.
inline const QString kName = QStringLiteral("app.morvane.Morvane");
inline const QString kPath = QStringLiteral("/app/morvane/Morvane");
inline const QString kInterface = QStringLiteral("app.morvane.Morvane");

// The read-only properties of kInterface, announced through PropertiesChanged.
inline const QString kEnabled = QStringLiteral("enabled");               // b
inline const QString kStatus = QStringLiteral("status");                 // s
inline const QString kStopAt = QStringLiteral("stopAt");                 // x, Unix ms, 0 when none
inline const QString kPausedUntil = QStringLiteral("pausedUntil");       // x
inline const QString kStartAt = QStringLiteral("startAt");               // x
inline const QString kBlockingReason = QStringLiteral("blockingReason"); // s, empty when nothing blocks
inline const QString kVerified = QStringLiteral("verified");             // s: verified, unverified, unknown
inline const QString kLastVerified = QStringLiteral("lastVerified");     // x
inline const QString kIcon = QStringLiteral("icon"); // s: off, on, blocked, working (the tray icon's state)
inline const QString kLabel =
    QStringLiteral("label"); // s: the countdown beside the icon, "1:05:00"; or empty

// Owned by Morvane's GNOME Shell extension while it is active: the top bar shows Morvane there,
// so Morvane offers no tray item of its own.
inline const QString kPanelName = QStringLiteral("app.morvane.Morvane.Panel");
// The extension's identifier in GNOME Shell.
inline const QString kExtensionUuid = QStringLiteral("morvane@morvane.app");

// A settings tab by the name OpenSettings and `--preferences` take: "general" (or empty),
// "movimiento", "condiciones", "horarios"; nothing for any other text.
std::optional<SettingsTab> parseTab(const QString& name);

// The one line that refuses a tab name parseTab does not know.
QString unknownTab(const QString& name);

} // namespace morvane::contract
