#pragma once

#include "Ports.h"

#include <QString>

#include <memory>

namespace morvane {

class SettingsStore;
class DefaultsStore;

// Builds the Linux adapter for every engine port, choosing by what the session offers: an X11
// display, a session bus, a system bus, a PulseAudio server. A missing service gets the adapter
// that answers the negative value. Owns them all; must outlive the engine that uses ports().
class LinuxPorts {
public:
    struct Options {
        QString root = QStringLiteral("/"); // where the probes read /proc and /sys
        bool useX11 = true;                 // false: behave as if there were no X server
        bool useAudio = true;               // false: no PulseAudio connection
        bool useOverlay = true;             // false: no overlay window (no QApplication)
        QString sessionBusAddress;          // empty: the session bus of the environment
        QString systemBusAddress;           // empty: the system bus
    };

    LinuxPorts(SettingsStore& store, DefaultsStore& defaults);
    LinuxPorts(SettingsStore& store, DefaultsStore& defaults, const Options& options);
    ~LinuxPorts();

    EnginePorts ports();

    // Which adapters were chosen, for the log and the tests.
    bool hasX11() const;
    bool hasSessionBus() const;
    bool hasSystemBus() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
