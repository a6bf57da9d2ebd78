#include "MutterRemoteDesktop.h"

#include "DBusUtil.h"
#include "RelativeStep.h"
#include "SessionActivity.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QTimer>

#include <linux/input-event-codes.h>

#include <deque>

namespace morvane {

using namespace dbus;

namespace {

const QString kService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kPath = QStringLiteral("/org/gnome/Mutter/RemoteDesktop");
const QString kSessionInterface = QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session");

// Events wait this many at most for a session to start; older ones are dropped first.
constexpr std::size_t kMaxWaiting = 32;

struct PointerEvent {
    bool isButton = false;
    double dx = 0;
    double dy = 0;
    int code = 0;
    bool pressed = false;
    bool retried = false;
};

} // namespace

struct MutterRemoteDesktop::Impl {
    Impl(MutterRemoteDesktop* owner, QDBusConnection bus, int closeAfterMs)
        : q(owner)
        , session(std::move(bus))
        , watcher(kService, session, QDBusServiceWatcher::WatchForOwnerChange) {
        closeTimer.setSingleShot(true);
        closeTimer.setInterval(closeAfterMs);
    }

    enum class Stage { none, opening, started };

    MutterRemoteDesktop* q;
    QDBusConnection session;
    QDBusServiceWatcher watcher;
    QTimer closeTimer;
    bool present = false;
    bool refused = false;
    Stage stage = Stage::none;
    QString path;
    // Bumped whenever the session is dropped, so that replies about an older one are ignored.
    int generation = 0;
    std::deque<PointerEvent> waiting;

    template <typename Done> void callAsync(const QDBusMessage& message, Done done) {
        auto* pending = new QDBusPendingCallWatcher(session.asyncCall(message, kCallTimeoutMs), q);
        QObject::connect(pending, &QDBusPendingCallWatcher::finished, q,
                         [this, done, asked = generation](QDBusPendingCallWatcher* call) {
                             call->deleteLater();
                             if (asked == generation)
                                 done(call->reply());
                         });
    }

    // A session could not be had. Mutter leaving the bus is not a refusal: the owner change
    // that follows tells the rest.
    void refuse(const QDBusMessage& reply) {
        waiting.clear();
        drop();
        const QDBusError error(reply);
        if (error.type() == QDBusError::ServiceUnknown || error.type() == QDBusError::NoReply ||
            error.type() == QDBusError::Disconnected)
            return;
        refused = true;
        qWarning().noquote() << "morvane: GNOME remote desktop refused a session:"
                             << (error.message().isEmpty() ? error.name() : error.message());
    }

    // Forgets the session without stopping it (it is gone, or about to be).
    void drop() {
        if (!path.isEmpty())
            session.disconnect(kService, path, kSessionInterface, QStringLiteral("Closed"), q,
                               SLOT(onSessionClosed(QDBusMessage)));
        path.clear();
        stage = Stage::none;
        ++generation;
    }

    void stop() {
        if (!path.isEmpty())
            session.send(methodCall(kService, path, kSessionInterface, QStringLiteral("Stop")));
        drop();
    }

    void open() {
        stage = Stage::opening;
        callAsync(methodCall(kService, kPath, QStringLiteral("org.gnome.Mutter.RemoteDesktop"),
                             QStringLiteral("CreateSession")),
                  [this](const QDBusMessage& reply) {
                      const std::optional<QString> created = pathReply(reply);
                      if (!created) {
                          refuse(reply);
                          return;
                      }
                      path = *created;
                      session.connect(kService, path, kSessionInterface, QStringLiteral("Closed"), q,
                                      SLOT(onSessionClosed(QDBusMessage)));
                      callAsync(methodCall(kService, path, kSessionInterface, QStringLiteral("Start")),
                                [this](const QDBusMessage& started) {
                                    if (started.type() != QDBusMessage::ReplyMessage) {
                                        refuse(started);
                                        return;
                                    }
                                    stage = Stage::started;
                                    while (!waiting.empty()) {
                                        send(waiting.front());
                                        waiting.pop_front();
                                    }
                                });
                  });
    }

    void post(const PointerEvent& event) {
        if (!present || refused)
            return;
        closeTimer.start();
        if (stage == Stage::started) {
            send(event);
            return;
        }
        waiting.push_back(event);
        if (waiting.size() > kMaxWaiting)
            waiting.pop_front();
        if (stage == Stage::none)
            open();
    }

    void send(const PointerEvent& event) {
        QDBusMessage message = methodCall(kService, path, kSessionInterface,
                                          event.isButton ? QStringLiteral("NotifyPointerButton")
                                                         : QStringLiteral("NotifyPointerMotionRelative"));
        if (event.isButton)
            message << event.code << event.pressed;
        else
            message << event.dx << event.dy;
        auto* pending = new QDBusPendingCallWatcher(session.asyncCall(message, kCallTimeoutMs), q);
        QObject::connect(pending, &QDBusPendingCallWatcher::finished, q,
                         [this, event, sentTo = generation](QDBusPendingCallWatcher* call) {
                             call->deleteLater();
                             if (!call->isError())
                                 return;
                             // The session ended before its Closed signal reached us (the user
                             // stopped it, or Mutter went away): the event goes once more, through
                             // a new session, after the ones already waiting for it.
                             if (sentTo == generation)
                                 drop();
                             if (!event.retried) {
                                 PointerEvent again = event;
                                 again.retried = true;
                                 post(again);
                             }
                         });
    }
};

MutterRemoteDesktop::MutterRemoteDesktop(QDBusConnection session, int closeAfterMs, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Impl>(this, std::move(session), closeAfterMs)) {
    connect(&d->closeTimer, &QTimer::timeout, this, [this] { d->stop(); });
    connect(&d->watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                // A restarted Mutter knows nothing of the old session, nor of a refusal.
                d->drop();
                d->present = !newOwner.isEmpty();
                d->refused = false;
                if (d->present && !d->waiting.empty())
                    d->open();
                else
                    d->waiting.clear();
            });
    if (QDBusConnectionInterface* bus = d->session.isConnected() ? d->session.interface() : nullptr) {
        const QDBusReply<bool> registered = bus->isServiceRegistered(kService);
        d->present = registered.isValid() && registered.value();
    }
}

MutterRemoteDesktop::~MutterRemoteDesktop() {
    d->stop();
}

bool MutterRemoteDesktop::available() const {
    return d->present && !d->refused;
}

QString MutterRemoteDesktop::startedSession() const {
    return d->stage == Impl::Stage::started ? d->path : QString();
}

void MutterRemoteDesktop::motion(double dx, double dy) {
    d->post(PointerEvent{.dx = dx, .dy = dy});
}

void MutterRemoteDesktop::button(int code, bool pressed) {
    d->post(PointerEvent{.isButton = true, .code = code, .pressed = pressed});
}

void MutterRemoteDesktop::onSessionClosed(const QDBusMessage& message) {
    if (message.path() != d->path)
        return;
    const bool wasOpening = d->stage == Impl::Stage::opening;
    d->drop();
    // Events waiting for a session that closed before it started go to a new one.
    if (wasOpening && !d->waiting.empty())
        d->open();
}

MutterJiggler::MutterJiggler(MutterRemoteDesktop& desktop, SessionActivity& activity)
    : m_desktop(desktop)
    , m_activity(activity) {}

void MutterJiggler::perform(JiggleMode mode, double distance, bool randomize) {
    switch (mode) {
    case JiggleMode::standard: {
        // Relative steps: Wayland tells no client where the pointer is. At a screen edge Mutter
        // clamps the step out, so the way back may leave the pointer up to one step inside.
        const RelativeStep out = relativeStep(distance, randomize);
        m_desktop.motion(out.dx, out.dy);
        QTimer::singleShot(kStepReturnMs, &m_returns, [this, out] { m_desktop.motion(-out.dx, -out.dy); });
        break;
    }
    case JiggleMode::zen:
        m_desktop.motion(0, 0);
        break;
    case JiggleMode::click:
        m_desktop.button(BTN_LEFT, true);
        m_desktop.button(BTN_LEFT, false);
        break;
    }
    declareActivity();
}

void MutterJiggler::declareActivity() {
    m_activity.declare();
}

} // namespace morvane
