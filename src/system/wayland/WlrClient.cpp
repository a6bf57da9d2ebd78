#include "WlrClient.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "fake-input-client-protocol.h"
#include "idle-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <QElapsedTimer>
#include <QSocketNotifier>

#include <wayland-client.h>

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace morvane {

namespace {

// Long enough that ordinary use does not flood us with idle/resumed pairs, short enough that the
// engine learns of the user's input within a tick.
constexpr quint32 kDefaultIdleTimeoutMs = 1000;
// The timeout kept only to declare activity through (when ext-idle-notify does the watching): long
// enough that it never fires.
constexpr quint32 kSimulatorTimeoutMs = 24 * 3600 * 1000;

} // namespace

struct WlrClient::Globals {
    wl_registry* registry = nullptr;
    ext_idle_notifier_v1* idleNotifier = nullptr;
    ext_idle_notification_v1* idleNotification = nullptr;
    org_kde_kwin_idle* kdeIdle = nullptr;
    org_kde_kwin_idle_timeout* kdeTimeout = nullptr;   // watched (no ext-idle-notify)
    org_kde_kwin_idle_timeout* kdeSimulator = nullptr; // declared on (beside ext-idle-notify)
    std::unique_ptr<QSocketNotifier> notifier;

    QElapsedTimer clock;
    quint32 idleTimeoutMs = kDefaultIdleTimeoutMs;
    bool idle = false;
    qint64 lastInputMs = 0; // on `clock`
    std::function<void()> edge;
    // An edge came while reading events; told once the reading is over, never from inside it.
    bool edgePending = false;

    void markIdle() {
        idle = true;
        lastInputMs = clock.elapsed() - qint64(idleTimeoutMs);
        edgePending = true;
    }
    void markResumed() {
        idle = false;
        lastInputMs = clock.elapsed();
        edgePending = true;
    }
};

namespace {

WlrClient* self(void* data) {
    return static_cast<WlrClient*>(data);
}

template <typename T> T* bind(wl_registry* registry, uint32_t name, const wl_interface* interface) {
    // Every request we use exists in version 1 of its interface.
    return static_cast<T*>(wl_registry_bind(registry, name, interface, 1));
}

} // namespace

// The registry listener needs the private members; it lives in a struct the class befriends by
// name (Globals), so the callbacks below reach them through it.
struct RegistryHandler {
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
        WlrClient* client = self(data);
        WlrClient::Globals& g = *client->m_globals;
        if (!client->m_seat && std::strcmp(interface, wl_seat_interface.name) == 0)
            client->m_seat = bind<wl_seat>(registry, name, &wl_seat_interface);
        else if (!client->m_virtualPointers &&
                 std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
            client->m_virtualPointers = bind<zwlr_virtual_pointer_manager_v1>(
                registry, name, &zwlr_virtual_pointer_manager_v1_interface);
        else if (!g.idleNotifier && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
            g.idleNotifier = bind<ext_idle_notifier_v1>(registry, name, &ext_idle_notifier_v1_interface);
        else if (!g.kdeIdle && std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
            g.kdeIdle = bind<org_kde_kwin_idle>(registry, name, &org_kde_kwin_idle_interface);
        else if (!client->m_fakeInput && std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
            client->m_fakeInput =
                bind<org_kde_kwin_fake_input>(registry, name, &org_kde_kwin_fake_input_interface);
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}
};

namespace {

const wl_registry_listener kRegistryListener{&RegistryHandler::global, &RegistryHandler::globalRemove};

void onExtIdled(void* data, ext_idle_notification_v1*) {
    static_cast<WlrClient::Globals*>(data)->markIdle();
}
void onExtResumed(void* data, ext_idle_notification_v1*) {
    static_cast<WlrClient::Globals*>(data)->markResumed();
}
const ext_idle_notification_v1_listener kExtIdleListener{&onExtIdled, &onExtResumed};

void onKdeIdle(void* data, org_kde_kwin_idle_timeout*) {
    static_cast<WlrClient::Globals*>(data)->markIdle();
}
void onKdeResumed(void* data, org_kde_kwin_idle_timeout*) {
    static_cast<WlrClient::Globals*>(data)->markResumed();
}
const org_kde_kwin_idle_timeout_listener kKdeIdleListener{&onKdeIdle, &onKdeResumed};

} // namespace

std::unique_ptr<WlrClient> WlrClient::connect(const QString& socket, int idleTimeoutMs) {
    const QByteArray name = socket.toLocal8Bit();
    wl_display* display = wl_display_connect(socket.isEmpty() ? nullptr : name.constData());
    if (!display)
        return nullptr;
    std::unique_ptr<WlrClient> client(new WlrClient(display));
    // One round trip announces the globals; binding them needs no second one.
    if (wl_display_roundtrip(display) < 0)
        return nullptr;
    client->m_globals->idleTimeoutMs = quint32(std::max(idleTimeoutMs, 1));
    client->setUpIdle();
    if (client->m_fakeInput)
        org_kde_kwin_fake_input_authenticate(client->m_fakeInput, "Morvane",
                                             "Mueve el puntero para mantener activa la sesión");
    wl_display_flush(display);
    auto* notifier = new QSocketNotifier(wl_display_get_fd(display), QSocketNotifier::Read);
    client->m_globals->notifier.reset(notifier);
    QObject::connect(notifier, &QSocketNotifier::activated, client.get(), [self = client.get()] {
        self->pump();
        Globals& g = *self->m_globals;
        if (std::exchange(g.edgePending, false) && g.edge)
            g.edge();
    });
    return client;
}

WlrClient::WlrClient(wl_display* display)
    : m_display(display)
    , m_globals(std::make_unique<Globals>()) {
    m_globals->clock.start();
    m_globals->markResumed();
    m_globals->registry = wl_display_get_registry(display);
    wl_registry_add_listener(m_globals->registry, &kRegistryListener, this);
}

WlrClient::~WlrClient() {
    Globals& g = *m_globals;
    g.notifier.reset();
    if (g.idleNotification)
        ext_idle_notification_v1_destroy(g.idleNotification);
    if (g.idleNotifier)
        ext_idle_notifier_v1_destroy(g.idleNotifier);
    if (g.kdeTimeout)
        org_kde_kwin_idle_timeout_release(g.kdeTimeout);
    if (g.kdeSimulator)
        org_kde_kwin_idle_timeout_release(g.kdeSimulator);
    if (g.kdeIdle)
        org_kde_kwin_idle_destroy(g.kdeIdle);
    if (m_virtualPointers)
        zwlr_virtual_pointer_manager_v1_destroy(m_virtualPointers);
    if (m_fakeInput)
        org_kde_kwin_fake_input_destroy(m_fakeInput);
    if (m_seat)
        wl_seat_destroy(m_seat);
    wl_registry_destroy(g.registry);
    wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

void WlrClient::setUpIdle() {
    Globals& g = *m_globals;
    if (!m_seat)
        return;
    if (g.idleNotifier) {
        g.idleNotification =
            ext_idle_notifier_v1_get_idle_notification(g.idleNotifier, g.idleTimeoutMs, m_seat);
        ext_idle_notification_v1_add_listener(g.idleNotification, &kExtIdleListener, &g);
        // Its events are never asked for: without a listener they are dropped.
        if (g.kdeIdle)
            g.kdeSimulator = org_kde_kwin_idle_get_idle_timeout(g.kdeIdle, m_seat, kSimulatorTimeoutMs);
    } else if (g.kdeIdle) {
        g.kdeTimeout = org_kde_kwin_idle_get_idle_timeout(g.kdeIdle, m_seat, g.idleTimeoutMs);
        org_kde_kwin_idle_timeout_add_listener(g.kdeTimeout, &kKdeIdleListener, &g);
    }
}

bool WlrClient::alive() const {
    return wl_display_get_error(m_display) == 0;
}

bool WlrClient::hasIdleProtocol() const {
    return m_globals->idleNotification || m_globals->kdeTimeout;
}

double WlrClient::idleSeconds() {
    pump();
    Globals& g = *m_globals;
    // The caller learns the new state from the answer.
    g.edgePending = false;
    if (!hasIdleProtocol() || !alive() || !g.idle)
        return 0;
    return double(std::max<qint64>(0, g.clock.elapsed() - g.lastInputMs)) / 1000.0;
}

void WlrClient::onIdleEdge(std::function<void()> edge) {
    m_globals->edge = std::move(edge);
}

bool WlrClient::canSimulateActivity() const {
    return m_globals->kdeTimeout || m_globals->kdeSimulator;
}

void WlrClient::simulateActivity() {
    org_kde_kwin_idle_timeout* timeout =
        m_globals->kdeSimulator ? m_globals->kdeSimulator : m_globals->kdeTimeout;
    if (timeout && alive()) {
        org_kde_kwin_idle_timeout_simulate_user_activity(timeout);
        wl_display_flush(m_display);
    }
}

void WlrClient::pump() {
    if (!alive()) {
        // A dead connection stays readable forever; stop listening rather than spin.
        if (m_globals->notifier)
            m_globals->notifier->setEnabled(false);
        return;
    }
    while (wl_display_prepare_read(m_display) != 0)
        wl_display_dispatch_pending(m_display);
    wl_display_flush(m_display);
    pollfd fd{wl_display_get_fd(m_display), POLLIN, 0};
    if (poll(&fd, 1, 0) > 0)
        wl_display_read_events(m_display);
    else
        wl_display_cancel_read(m_display);
    wl_display_dispatch_pending(m_display);
}

} // namespace morvane
