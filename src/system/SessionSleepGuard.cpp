#include "SessionSleepGuard.h"

#include "DBusUtil.h"
#include "X11Display.h"

#include <QDBusMessage>

// Xlib's macros (None, Bool, Status, True...) would break Qt's headers: include it last.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace morvane {

using namespace dbus;

namespace {

const QString kInhibitReason = QStringLiteral("Morvane mantiene la pantalla activa");

// gnome-session's inhibit flag for "the session must not be marked idle".
constexpr uint kGnomeInhibitIdle = 8;

} // namespace

SessionSleepGuard::SessionSleepGuard(QDBusConnection session)
    : m_session(std::move(session)) {}

SessionSleepGuard::~SessionSleepGuard() {
    if (m_active)
        release();
}

void SessionSleepGuard::set(bool on) {
    if (on && !m_active)
        take();
    else if (!on && m_active)
        release();
}

void SessionSleepGuard::take() {
    for (const QString& path : kScreenSaverPaths) {
        QDBusMessage m = methodCall(kScreenSaver, path, kScreenSaver, QStringLiteral("Inhibit"));
        m << QStringLiteral("Morvane") << kInhibitReason;
        const QDBusMessage reply = m_session.call(m, QDBus::Block, kCallTimeoutMs);
        if (const auto cookie = uintReply(reply)) {
            m_screenSaverCookie = cookie;
            m_screenSaverPath = path;
            break;
        }
        if (!isUnknownTarget(QDBusError(reply)))
            break;
    }

    QDBusMessage gnome = methodCall(kGnomeSession, QStringLiteral("/org/gnome/SessionManager"), kGnomeSession,
                                    QStringLiteral("Inhibit"));
    gnome << QStringLiteral("Morvane") << uint(0) << kInhibitReason << kGnomeInhibitIdle;
    m_gnomeCookie = uintReply(m_session.call(gnome, QDBus::Block, kCallTimeoutMs));

    m_xSuspended = suspendX(true);
    m_active = m_screenSaverCookie || m_gnomeCookie || m_xSuspended;
}

void SessionSleepGuard::release() {
    // Nobody waits for the answers: a release that fails leaves nothing we could do about it.
    if (m_screenSaverCookie) {
        QDBusMessage m =
            methodCall(kScreenSaver, m_screenSaverPath, kScreenSaver, QStringLiteral("UnInhibit"));
        m << *m_screenSaverCookie;
        m_session.send(m);
        m_screenSaverCookie.reset();
    }
    if (m_gnomeCookie) {
        QDBusMessage m = methodCall(kGnomeSession, QStringLiteral("/org/gnome/SessionManager"), kGnomeSession,
                                    QStringLiteral("Uninhibit"));
        m << *m_gnomeCookie;
        m_session.send(m);
        m_gnomeCookie.reset();
    }
    if (m_xSuspended) {
        suspendX(false);
        m_xSuspended = false;
    }
    m_active = false;
}

bool SessionSleepGuard::suspendX(bool suspend) {
    if (!m_xTried) {
        m_xTried = true;
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            auto x = std::make_unique<X11Display>();
            int event = 0, error = 0, major = 0, minor = 0;
            // Suspend came with version 1.1 of MIT-SCREEN-SAVER. Asking an older server would be a
            // protocol error, and Xlib's default error handler ends the process.
            if (*x && XScreenSaverQueryExtension(x->get(), &event, &error) &&
                XScreenSaverQueryVersion(x->get(), &major, &minor) &&
                (major > 1 || (major == 1 && minor >= 1)))
                m_x = std::move(x);
        }
    }
    if (!m_x)
        return false;
    // The server counts suspensions per client and drops ours when this connection closes.
    XScreenSaverSuspend(m_x->get(), suspend ? True : False);
    XFlush(m_x->get());
    return true;
}

} // namespace morvane
