#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

#include <memory>

namespace morvane {

class SessionActivity;

// Pointer input posted through a Mutter remote-desktop session (org.gnome.Mutter.RemoteDesktop),
// the one way a GNOME Wayland client can reach the compositor's own input: its idle time resets
// and the windows below the pointer see the events. The session is created and started on the
// first event, kept while events keep coming, and stopped after `closeAfterMs` without one and on
// destruction (Mutter also ends it when this process leaves the bus). A session that Mutter
// closes, or a Mutter that restarts, is replaced at the next event.
//
// While a session is started (and five seconds more) GNOME Shell shows its screen-sharing
// indicator, an orange button in the top bar whose × ends the session: Mutter counts every started
// remote-desktop session as remote access, even one that shares no screen (GNOME 43). A session
// that is only created shows nothing. Nothing is recorded or shared.
class MutterRemoteDesktop final : public QObject {
    Q_OBJECT
public:
    // Three minutes: longer than the gaps between movements at the default interval, short
    // enough that the indicator goes soon after the movements stop.
    static constexpr int kDefaultCloseAfterMs = 180 * 1000;

    explicit MutterRemoteDesktop(QDBusConnection session, int closeAfterMs = kDefaultCloseAfterMs,
                                 QObject* parent = nullptr);
    ~MutterRemoteDesktop() override;

    // Whether input can be posted: the service is on the bus and has not refused a session
    // since it appeared.
    bool available() const;
    // The object path of the started session, empty while none is (for the log and the tests).
    QString startedSession() const;

    // Posts a relative pointer motion / a press or release of the Linux button `code`, starting
    // the session first when needed. Returns at once; events keep their order. An event that the
    // session refuses because Mutter closed it is posted once more through a new session.
    void motion(double dx, double dy);
    void button(int code, bool pressed);

private Q_SLOTS:
    void onSessionClosed(const QDBusMessage& message);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Movements through a MutterRemoteDesktop: a relative step out and back 0.06 s later (standard),
// a motion by (0, 0), which moves nothing yet counts as input for Mutter (zen), and a left-button
// press and release (click). Each movement also declares user activity to the session.
class MutterJiggler final : public Jiggler {
public:
    MutterJiggler(MutterRemoteDesktop& desktop, SessionActivity& activity);
    void perform(JiggleMode mode, double distance, bool randomize) override;
    void declareActivity() override;

private:
    MutterRemoteDesktop& m_desktop;
    SessionActivity& m_activity;
    // Context of the pending return halves; declared last, so that they are cancelled first.
    QObject m_returns;
};

// Input may be posted while Mutter offers remote-desktop sessions and has not refused one.
class MutterTrust final : public AccessibilityTrust {
public:
    explicit MutterTrust(const MutterRemoteDesktop& desktop)
        : m_desktop(desktop) {}
    bool trusted() override { return m_desktop.available(); }

private:
    const MutterRemoteDesktop& m_desktop;
};

} // namespace morvane
