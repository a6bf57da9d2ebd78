#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

struct org_kde_kwin_fake_input;
struct wl_display;
struct wl_seat;
struct zwlr_virtual_pointer_manager_v1;

namespace morvane {

// A Wayland client connection of our own to the session's compositor, independent of the Qt
// platform plugin (Qt may well be on XWayland). It binds the globals the Wayland adapters use and
// keeps their events flowing through a QSocketNotifier on the display's fd, so nothing ever waits
// on the compositor from the engine's tick.
//
// Idle time is followed through an idle timeout of one second (by default): ext-idle-notify-v1 where offered,
// else org_kde_kwin_idle (KWin, wlroots before 0.16). "Idle" means no input for a second, so the
// last input happened one second before the idle event; "resumed" means input now.
//
// KWin only announces org_kde_kwin_fake_input to clients it trusts (see KWinInput.h); where it
// does, the connection binds it and states why it wants it, which KWin 5.27 accepts unasked.
class WlrClient : public QObject {
    Q_OBJECT
public:
    // Connects to `socket` (a name in $XDG_RUNTIME_DIR or a path; empty: $WAYLAND_DISPLAY) and
    // waits for the globals; null when no compositor answers. `idleTimeoutMs` replaces the one
    // second of the idle timeout (an observer of the seat may want a longer one).
    static std::unique_ptr<WlrClient> connect(const QString& socket = {}, int idleTimeoutMs = 1000);
    ~WlrClient() override;

    // Whether the connection still works (a compositor that went away or killed us answers false).
    bool alive() const;
    wl_display* display() const { return m_display; }
    wl_seat* seat() const { return m_seat; }
    // Null where the compositor does not offer zwlr_virtual_pointer_manager_v1.
    zwlr_virtual_pointer_manager_v1* virtualPointers() const { return m_virtualPointers; }
    // Null where KWin does not let this program post input through org_kde_kwin_fake_input.
    org_kde_kwin_fake_input* fakeInput() const { return m_fakeInput; }
    bool hasIdleProtocol() const;
    // Whether simulateActivity() reaches the compositor (it offers org_kde_kwin_idle).
    bool canSimulateActivity() const;

    // Seconds since the seat's last input, to within the one-second idle timeout; 0 when the
    // compositor offers no idle protocol. Reads whatever the compositor sent meanwhile first.
    double idleSeconds();
    // Calls `edge` after each idle and each resumed event, once the event is taken in (see
    // idleSeconds()); a later call replaces it.
    void onIdleEdge(std::function<void()> edge);
    // Counts as user activity on our org_kde_kwin_idle timeout. KWin 5.27 resets every idle
    // timer of the seat on it (its screen dimming and locking included); wlroots only ours.
    void simulateActivity();

    // Sends what is queued and reads what arrived, without blocking.
    void pump();

    // Bound by the registry listener.
    struct Globals;

private:
    friend struct RegistryHandler;
    explicit WlrClient(wl_display* display);
    void setUpIdle();

    wl_display* m_display = nullptr;
    wl_seat* m_seat = nullptr;
    zwlr_virtual_pointer_manager_v1* m_virtualPointers = nullptr;
    org_kde_kwin_fake_input* m_fakeInput = nullptr;
    std::unique_ptr<Globals> m_globals;
};

} // namespace morvane
