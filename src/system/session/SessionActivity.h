#pragma once

#include <QDBusConnection>

#include <memory>

namespace morvane {

// Declares user activity to the session: resets the X server's screensaver timer (when there is
// an X server) and calls org.freedesktop.ScreenSaver.SimulateUserActivity where that service
// exists. Never waits for a reply.
class SessionActivity {
public:
    explicit SessionActivity(QDBusConnection session);
    ~SessionActivity();
    // Sends both declarations and returns at once.
    void declare();
    // Whether org.freedesktop.ScreenSaver is on the bus now, as last announced by the bus.
    bool screenSaverPresent() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
