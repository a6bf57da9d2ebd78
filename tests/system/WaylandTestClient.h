#pragma once

// A headless Mutter or KWin on a private bus, and a Wayland client of the test's own that watches
// the pointer over a fullscreen window: what a person's applications would see of Morvane's input.

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

// `kwin_wayland --virtual --no-lockscreen` (Plasma 5.27 or 6, 1280x800) on `bus`, with runtime, data,
// configuration and cache folders of its own and an applications menu. Without its lock screen KWin leaves
// org.freedesktop.ScreenSaver off the bus, so only Wayland paths reach its idle timers.
class HeadlessKWin {
public:
    explicit HeadlessKWin(const PrivateBus& bus);
    ~HeadlessKWin();
    // Serving its socket, org.kde.KWin and org.kde.kglobalaccel.
    bool ok() const { return m_ok; }
    QString socketPath() const { return m_dir.filePath(QStringLiteral("runtime/wayland-kde")); }
    // Lets `executable` bind org_kde_kwin_fake_input (or no longer), as an installed Morvane is let:
    // a desktop entry whose Exec names it and whose X-KDE-Wayland-Interfaces lists the protocol.
    bool allowFakeInput(const QString& executable, bool allowed);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_ok = false;
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

    // `appId`, when given, is the window's application id.
    explicit PointerClient(const QString& socketPath, const QString& appId = {});
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
