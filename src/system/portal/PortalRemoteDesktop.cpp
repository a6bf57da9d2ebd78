#include "PortalRemoteDesktop.h"

#include "DefaultsStore.h"
#include "PortalRequest.h"
#include "RelativeStep.h"
#include "SessionActivity.h"
#include "WlrClient.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTimer>

#include <linux/input-event-codes.h>

namespace morvane {

namespace {

const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
constexpr uint kPointerDevice = 2;
// Keep the grant until the user revokes it (persist_mode 2, interface version 2 and later).
constexpr uint kPersistUntilRevoked = 2;
} // namespace

const QString& PortalRemoteDesktop::restoreTokenKey() {
    static const QString key = QStringLiteral("remoteDesktop.restoreToken");
    return key;
}

PortalRemoteDesktop::PortalRemoteDesktop(QDBusConnection bus, DefaultsStore& store)
    : m_bus(std::move(bus))
    , m_store(store) {
    m_version = PortalRequest::property(m_bus, kRemoteDesktop, QStringLiteral("version")).toUInt();
    // A grant kept from an earlier run resumes without a dialog; without one we wait for the
    // user to ask, rather than greet every start with a consent dialog.
    if (m_version >= 2 && !m_store.value(restoreTokenKey()).toString().isEmpty())
        requestConsent();
}

PortalRemoteDesktop::~PortalRemoteDesktop() {
    closeSession();
}

bool PortalRemoteDesktop::available(const QDBusConnection& bus) {
    return bus.isConnected() &&
           (PortalRequest::property(bus, kRemoteDesktop, QStringLiteral("AvailableDeviceTypes")).toUInt() &
            kPointerDevice);
}

void PortalRemoteDesktop::setState(State state) {
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

void PortalRemoteDesktop::requestConsent() {
    if (m_state != State::idle)
        return;
    setState(State::asking);
    const QVariantMap options{{QStringLiteral("session_handle_token"), PortalRequest::newToken()}};
    PortalRequest::call(m_bus, kRemoteDesktop, QStringLiteral("CreateSession"), {}, options, this,
                        [this](uint response, const QVariantMap& results) {
                            m_session = results.value(QStringLiteral("session_handle")).toString();
                            if (response != PortalRequest::kSuccess || m_session.isEmpty()) {
                                closeSession();
                                return;
                            }
                            m_bus.connect(PortalRequest::service(), m_session, kSessionInterface,
                                          QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
                            selectDevices();
                        });
}

void PortalRemoteDesktop::selectDevices() {
    QVariantMap options{{QStringLiteral("types"), kPointerDevice}};
    if (m_version >= 2) {
        options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        const QString token = m_store.value(restoreTokenKey()).toString();
        if (!token.isEmpty())
            options.insert(QStringLiteral("restore_token"), token);
    }
    PortalRequest::call(m_bus, kRemoteDesktop, QStringLiteral("SelectDevices"),
                        {QVariant::fromValue(QDBusObjectPath(m_session))}, options, this,
                        [this](uint response, const QVariantMap&) {
                            if (response != PortalRequest::kSuccess)
                                closeSession();
                            else
                                startSession();
                        });
}

void PortalRemoteDesktop::startSession() {
    PortalRequest::call(m_bus, kRemoteDesktop, QStringLiteral("Start"),
                        {QVariant::fromValue(QDBusObjectPath(m_session)), QString()}, {}, this,
                        [this](uint response, const QVariantMap& results) {
                            // A token is single-use: the portal hands out a new one with every start, and one
                            // that led to a refusal must not be offered again.
                            const QString token = results.value(QStringLiteral("restore_token")).toString();
                            m_store.setValue(restoreTokenKey(),
                                             response == PortalRequest::kSuccess ? token : QString());
                            if (response != PortalRequest::kSuccess ||
                                !(results.value(QStringLiteral("devices")).toUInt() & kPointerDevice)) {
                                closeSession();
                                return;
                            }
                            setState(State::started);
                        });
}

void PortalRemoteDesktop::onSessionClosed() {
    // The user ended the session from the desktop (KDE offers it in the panel).
    m_bus.disconnect(PortalRequest::service(), m_session, kSessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onSessionClosed()));
    m_session.clear();
    setState(State::idle);
}

void PortalRemoteDesktop::closeSession() {
    if (!m_session.isEmpty()) {
        m_bus.disconnect(PortalRequest::service(), m_session, kSessionInterface, QStringLiteral("Closed"),
                         this, SLOT(onSessionClosed()));
        m_bus.call(QDBusMessage::createMethodCall(PortalRequest::service(), m_session, kSessionInterface,
                                                  QStringLiteral("Close")),
                   QDBus::NoBlock);
        m_session.clear();
    }
    setState(State::idle);
}

void PortalRemoteDesktop::notify(const QString& method, const QVariantList& values) {
    if (m_state != State::started)
        return;
    QDBusMessage message = QDBusMessage::createMethodCall(
        PortalRequest::service(), PortalRequest::objectPath(), kRemoteDesktop, method);
    message.setArguments(QVariantList{QVariant::fromValue(QDBusObjectPath(m_session)), QVariantMap()} +
                         values);
    m_bus.call(message, QDBus::NoBlock);
}

void PortalRemoteDesktop::motion(double dx, double dy) {
    notify(QStringLiteral("NotifyPointerMotion"), {dx, dy});
}

void PortalRemoteDesktop::leftButton(bool pressed) {
    notify(QStringLiteral("NotifyPointerButton"), {int(BTN_LEFT), uint(pressed ? 1 : 0)});
}

PortalJiggler::PortalJiggler(PortalRemoteDesktop& portal, SessionActivity* activity, WlrClient* wayland)
    : m_portal(portal)
    , m_activity(activity)
    , m_wayland(wayland) {}

void PortalJiggler::perform(JiggleMode mode, double distance, bool randomize) {
    if (m_portal.state() == PortalRemoteDesktop::State::started) {
        switch (mode) {
        case JiggleMode::standard: {
            const RelativeStep out = relativeStep(distance, randomize);
            m_portal.motion(out.dx, out.dy);
            QTimer::singleShot(kStepReturnMs, &m_returns, [this, out] { m_portal.motion(-out.dx, -out.dy); });
            break;
        }
        case JiggleMode::zen:
            m_portal.motion(0, 0);
            break;
        case JiggleMode::click:
            m_portal.leftButton(true);
            m_portal.leftButton(false);
            break;
        }
    } else if (mode != JiggleMode::zen && !m_askedOnce) {
        // Zen needs no consent: the declaration below reaches the compositor's idle timers by itself.
        m_askedOnce = true;
        m_portal.requestConsent();
    }
    declareActivity();
}

void PortalJiggler::declareActivity() {
    if (m_wayland)
        m_wayland->simulateActivity();
    if (m_activity)
        m_activity->declare();
}

} // namespace morvane
