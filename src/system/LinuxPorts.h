#pragma once

#include "DisplayPorts.h"
#include "Ports.h"
#include "SessionKind.h"

#include <QString>

#include <memory>
#include <optional>

namespace morvane {

class SettingsStore;
class DefaultsStore;
class SessionSleepGuard;

// Builds the Linux adapter for every engine port, choosing by what the session offers: the kind
// of display session (X11, or which Wayland compositor), a session bus, a system bus, a
// PulseAudio server. A missing service gets the adapter that answers the negative value. Owns
// them all; must outlive the engine that uses ports(). Logs its choices once, at construction.
class LinuxPorts {
public:
    struct Options {
        QString root = QStringLiteral("/");     // where the probes read /proc and /sys
        bool useX11 = true;                     // false: behave as if there were no X server
        bool useAudio = true;                   // false: no PulseAudio connection
        bool useOverlay = true;                 // false: no overlay window (no QApplication)
        QString sessionBusAddress;              // empty: the session bus of the environment
        QString systemBusAddress;               // empty: the system bus
        std::optional<SessionKind> sessionKind; // unset: recognised from the environment and bus
    };

    // What was chosen for the ports that depend on the display session, by adapter name.
    using Choices = PortChoices;

    LinuxPorts(SettingsStore& store, DefaultsStore& defaults);
    LinuxPorts(SettingsStore& store, DefaultsStore& defaults, const Options& options);
    ~LinuxPorts();

    EnginePorts ports();

    // Starts the desktop's own consent flow for posting input (the RemoteDesktop portal's dialog)
    // and answers true; false where the session has none, so the shell falls back to its help page.
    bool requestInputPermission();

    // Which adapters were chosen, for the log and the tests.
    SessionKind sessionKind() const;
    // What the kind was recognised from (read at construction).
    const SessionEnvironment& environment() const;
    Choices choices() const;
    bool hasX11() const;
    // The display-sleep inhibitions, service by service (for the diagnosis).
    SessionSleepGuard& sleepGuard();
    bool hasSessionBus() const;
    bool hasSystemBus() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
