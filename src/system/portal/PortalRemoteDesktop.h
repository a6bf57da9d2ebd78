#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace morvane {

class DefaultsStore;
class SessionActivity;
class WlrClient;

// A pointer-only session of the desktop portal's RemoteDesktop interface (KDE Plasma, and any
// portal backend that offers it). The desktop asks the user once for consent; with a portal of
// interface version 2 we ask for a persistent grant and keep its restore token under
// "remoteDesktop.restoreToken", so later starts resume without a dialog where the backend
// supports it. Until the portal says the session started, no input can be posted.
class PortalRemoteDesktop final : public QObject {
    Q_OBJECT
public:
    enum class State { idle, asking, started };
    static const QString& restoreTokenKey();

    PortalRemoteDesktop(QDBusConnection bus, DefaultsStore& store);
    ~PortalRemoteDesktop() override;

    // Whether the session bus has a portal whose RemoteDesktop offers a pointer (one round trip).
    static bool available(const QDBusConnection& bus);

    // Starts the consent flow unless a session is starting or running: CreateSession,
    // SelectDevices, Start. A stored restore token goes along, so the desktop may skip its dialog.
    void requestConsent();
    State state() const { return m_state; }

    // Relative pointer motion and left-button events; dropped unless the session runs.
    void motion(double dx, double dy);
    void leftButton(bool pressed);

Q_SIGNALS:
    void stateChanged(State state);

private Q_SLOTS:
    void onSessionClosed();

private:
    void setState(State state);
    void selectDevices();
    void startSession();
    void closeSession();
    void notify(const QString& method, const QVariantList& values);

    QDBusConnection m_bus;
    DefaultsStore& m_store;
    uint m_version = 1;
    State m_state = State::idle;
    QString m_session;
};

// Input is allowed while the portal session runs.
class PortalTrust final : public AccessibilityTrust {
public:
    explicit PortalTrust(PortalRemoteDesktop& portal)
        : m_portal(portal) {}
    bool trusted() override { return m_portal.state() == PortalRemoteDesktop::State::started; }

private:
    PortalRemoteDesktop& m_portal;
};

// Movements through the portal session: a relative motion out and back 60 ms later, a motion of
// zero, a left click. Without a running session nothing is posted; the first movement asked for
// then (a zen movement, which the engine sends without asking trust) starts the consent flow.
class PortalJiggler final : public Jiggler {
public:
    // `activity` and `wayland` (for its idle-timer activity) may be null.
    PortalJiggler(PortalRemoteDesktop& portal, SessionActivity* activity, WlrClient* wayland);
    void perform(JiggleMode mode, double distance, bool randomize) override;
    void declareActivity() override;

private:
    PortalRemoteDesktop& m_portal;
    SessionActivity* m_activity;
    WlrClient* m_wayland;
    bool m_askedOnce = false;
    QObject m_returns;
};

} // namespace morvane
