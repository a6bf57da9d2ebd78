#pragma once

// A headless Mutter on a private bus, and a Wayland client of the test's own that watches the
// pointer over a fullscreen window: what a person's applications would see of Morvane's input.

#include "TestServers.h"

#include <QDBusConnection>
#include <QPointF>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace morvane::test {

// `mutter --headless --wayland --no-x11` with one 1280x800 virtual monitor, its runtime directory
// a temporary one, on `bus`. Stopped (and its socket removed) with the object.
class HeadlessMutter {
public:
    explicit HeadlessMutter(const PrivateBus& bus);
    ~HeadlessMutter();
    bool ok() const { return m_process.state() == QProcess::Running; }
    // Starts a new Mutter (after stop()); answers whether it serves its names and socket.
    bool start();
    void stop();
    // The Wayland socket's absolute path.
    QString socketPath() const;
    // GetIdletime in milliseconds, asked on a connection of the test's; -1 without an answer.
    qint64 idletimeMs() const;
    // The remote-desktop sessions that exist now (their object paths).
    QStringList remoteDesktopSessions() const;

private:
    const PrivateBus& m_bus;
    QDBusConnection m_control;
    QTemporaryDir m_runtime;
    QProcess m_process;
};

// A fullscreen xdg toplevel on a Wayland compositor, recording what its wl_pointer receives.
class PointerClient {
public:
    struct Event {
        enum Kind { enter, motion, button } kind = motion;
        QPointF at;             // surface coordinates (enter, motion)
        std::uint32_t code = 0; // Linux button code (button)
        bool pressed = false;
    };

    explicit PointerClient(const QString& socketPath);
    ~PointerClient();
    PointerClient(const PointerClient&) = delete;
    PointerClient& operator=(const PointerClient&) = delete;
    // Connected, and the window is shown.
    bool ok() const;
    // Reads and handles what the compositor sent, without waiting.
    void pump();
    const std::vector<Event>& events() const;
    // Where the pointer last was over the window.
    std::optional<QPointF> position() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace morvane::test
