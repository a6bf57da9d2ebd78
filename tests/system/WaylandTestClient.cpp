#include "WaylandTestClient.h"

#include "xdg-shell-client-protocol.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <wayland-client.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace morvane::test {

namespace {

const QString kRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kIdleMonitor = QStringLiteral("org.gnome.Mutter.IdleMonitor");
const QString kDisplayName = QStringLiteral("morvane-test");

bool registered(const QDBusConnection& bus, const QString& name) {
    const QDBusReply<bool> reply = bus.interface()->isServiceRegistered(name);
    return reply.isValid() && reply.value();
}

} // namespace

HeadlessMutter::HeadlessMutter(const PrivateBus& bus)
    : m_bus(bus)
    , m_control(bus.connect(QStringLiteral("mutter-test-control"))) {
    start();
}

HeadlessMutter::~HeadlessMutter() {
    stop();
    QDBusConnection::disconnectFromBus(m_control.name());
}

bool HeadlessMutter::start() {
    if (!m_runtime.isValid() || !m_bus.ok())
        return false;
    QFile::setPermissions(m_runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_bus.address());
    // Settings in memory: the test must not write the user's dconf database.
    env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("mutter"),
                    {QStringLiteral("--headless"), QStringLiteral("--wayland"), QStringLiteral("--no-x11"),
                     QStringLiteral("--wayland-display"), kDisplayName, QStringLiteral("--virtual-monitor"),
                     QStringLiteral("1280x800")});
    if (!m_process.waitForStarted(5000))
        return false;
    return waitUntil(
               [&] {
                   return m_process.state() != QProcess::Running ||
                          (registered(m_control, kRemoteDesktop) && registered(m_control, kIdleMonitor) &&
                           QFile::exists(socketPath()));
               },
               20000) &&
           ok();
}

void HeadlessMutter::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    // Until the bus has seen the names go, a new Mutter could not take them.
    waitUntil([&] { return !registered(m_control, kRemoteDesktop); }, 5000);
}

QString HeadlessMutter::socketPath() const {
    return QDir(m_runtime.path()).filePath(kDisplayName);
}

qint64 HeadlessMutter::idletimeMs() const {
    const QDBusMessage reply = m_control.call(
        QDBusMessage::createMethodCall(kIdleMonitor, QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
                                       kIdleMonitor, QStringLiteral("GetIdletime")));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return -1;
    return qint64(reply.arguments().constFirst().toULongLong());
}

QStringList HeadlessMutter::remoteDesktopSessions() const {
    const QString base = QStringLiteral("/org/gnome/Mutter/RemoteDesktop/Session");
    const QDBusMessage reply = m_control.call(QDBusMessage::createMethodCall(
        kRemoteDesktop, base, QStringLiteral("org.freedesktop.DBus.Introspectable"),
        QStringLiteral("Introspect")));
    QStringList out;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return out;
    static const QRegularExpression child(QStringLiteral("<node name=\"([^\"]+)\"/>"));
    for (const auto& match : child.globalMatch(reply.arguments().constFirst().toString()))
        out << base + QLatin1Char('/') + match.captured(1);
    return out;
}

HeadlessKWin::HeadlessKWin(const PrivateBus& bus) {
    const QDir dir(m_dir.path());
    for (const char* folder : {"runtime", "data/applications", "config", "cache"})
        dir.mkpath(QString::fromLatin1(folder));
    QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!bus.ok())
        return;
    // KService finds no application at all without an XDG applications menu, and then KWin grants
    // fake input to nobody (Plasma 6). Every Plasma desktop has one; this one takes in every entry.
    QFile menu(dir.filePath(QStringLiteral("config/menus/applications.menu")));
    if (!dir.mkpath(QStringLiteral("config/menus")) || !menu.open(QIODevice::WriteOnly) ||
        menu.write("<Menu><Name>Applications</Name><DefaultAppDirs/><DefaultDirectoryDirs/>"
                   "<Include><All/></Include></Menu>\n") < 0)
        return;
    menu.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Plasma 6's KWin crashes when it finds a Plasma session's variables already set.
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM", "XDG_CURRENT_DESKTOP",
          "KDE_FULL_SESSION", "KDE_SESSION_VERSION", "XDG_MENU_PREFIX"})
        env.remove(QString::fromLatin1(name));
    // Its settings (kwinrc, kglobalshortcutsrc) and application index stay in the test's folders.
    for (const char* folder : {"DATA", "CONFIG", "CACHE"})
        env.insert(QStringLiteral("XDG_%1_HOME").arg(QLatin1String(folder)),
                   dir.filePath(QString::fromLatin1(folder).toLower()));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    env.insert(QStringLiteral("KWIN_COMPOSE"), QStringLiteral("Q")); // QPainter: no GPU here
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QStringList arguments{QStringLiteral("--virtual"), QStringLiteral("--no-lockscreen"),
                                QStringLiteral("--socket"),  QStringLiteral("wayland-kde"),
                                QStringLiteral("--width"),   QStringLiteral("1280"),
                                QStringLiteral("--height"),  QStringLiteral("800")};
    // The packaged binary carries a file capability that an unprivileged container refuses to
    // execute; Plasma 5.27's KWin then runs from a copy. Plasma 6's looks for its platform plugin
    // beside its executable, so it runs only from its own path (as root, the capability is no bar).
    const QString packaged = QStringLiteral("/usr/bin/kwin_wayland");
    m_process.start(packaged, arguments);
    if (!m_process.waitForStarted(5000)) {
        const QString copy = dir.filePath(QStringLiteral("kwin_wayland"));
        if (!QFile::copy(packaged, copy))
            return;
        m_process.start(copy, arguments);
    }
    const QDBusConnection control = bus.connect(QStringLiteral("kwin-test-control"));
    m_ok = m_process.waitForStarted(5000) &&
           waitUntil(
               [&] {
                   return m_process.state() != QProcess::Running ||
                          (registered(control, QStringLiteral("org.kde.KWin")) &&
                           registered(control, QStringLiteral("org.kde.kglobalaccel")) &&
                           QFile::exists(socketPath()));
               },
               20000) &&
           m_process.state() == QProcess::Running;
}

HeadlessKWin::~HeadlessKWin() {
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(3000);
}

bool HeadlessKWin::allowFakeInput(const QString& executable, bool allowed) {
    // KWin rereads its application folders by itself; a connection is judged when it is made.
    QFile entry(m_dir.filePath(QStringLiteral("data/applications/morvane-test.desktop")));
    if (!allowed)
        return !entry.exists() || entry.remove();
    const QByteArray text = "[Desktop Entry]\nType=Application\nName=Test\nExec=\"" +
                            QFile::encodeName(executable) +
                            "\"\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n";
    return entry.open(QIODevice::WriteOnly) && entry.write(text) == text.size();
}

struct PointerClient::Impl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_buffer* buffer = nullptr;
    void* pixels = nullptr;
    std::size_t pixelBytes = 0;
    int width = 1280;
    int height = 800;
    bool shown = false;
    std::vector<Event> events;
    std::optional<QPointF> position;

    void showBuffer() {
        const int stride = width * 4;
        pixelBytes = std::size_t(stride) * std::size_t(height);
        const int fd = memfd_create("morvane-test-buffer", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, off_t(pixelBytes)) != 0) {
            if (fd >= 0)
                close(fd);
            return;
        }
        pixels = mmap(nullptr, pixelBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (pixels == MAP_FAILED) {
            pixels = nullptr;
            close(fd);
            return;
        }
        std::memset(pixels, 0xff, pixelBytes);
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, int(pixelBytes));
        buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
        wl_shm_pool_destroy(pool);
        close(fd);
        wl_surface_attach(surface, buffer, 0, 0);
        wl_surface_damage(surface, 0, 0, width, height);
        wl_surface_commit(surface);
        shown = true;
    }
};

namespace {

using Impl = PointerClient::Impl;

QPointF fromFixed(wl_fixed_t x, wl_fixed_t y) {
    return QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y));
}

void onEnter(void* data, wl_pointer*, uint32_t, wl_surface*, wl_fixed_t x, wl_fixed_t y) {
    auto* d = static_cast<Impl*>(data);
    d->position = fromFixed(x, y);
    d->events.push_back({PointerClient::Event::enter, *d->position});
}
void onLeave(void* data, wl_pointer*, uint32_t, wl_surface*) {
    static_cast<Impl*>(data)->position.reset();
}
void onMotion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    auto* d = static_cast<Impl*>(data);
    d->position = fromFixed(x, y);
    d->events.push_back({PointerClient::Event::motion, *d->position});
}
void onButton(void* data, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
    auto* d = static_cast<Impl*>(data);
    d->events.push_back(
        {PointerClient::Event::button, QPointF(), button, state == WL_POINTER_BUTTON_STATE_PRESSED});
}
void onAxis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
// Bound at version 1: the later events (frame, axis sources) never come. Filled member by member:
// each libwayland release adds members (axis_relative_direction in 1.22).
const wl_pointer_listener kPointerListener = [] {
    wl_pointer_listener listener{};
    listener.enter = onEnter;
    listener.leave = onLeave;
    listener.motion = onMotion;
    listener.button = onButton;
    listener.axis = onAxis;
    return listener;
}();

// A virtual pointer appears only with the first remote-desktop session: ask for the pointer when
// the seat says it has one.
void onCapabilities(void* data, wl_seat* seat, uint32_t caps) {
    auto* d = static_cast<Impl*>(data);
    if ((caps & WL_SEAT_CAPABILITY_POINTER) && !d->pointer) {
        d->pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(d->pointer, &kPointerListener, d);
    }
}
const wl_seat_listener kSeatListener{.capabilities = onCapabilities, .name = nullptr};

void onPing(void*, xdg_wm_base* base, uint32_t serial) {
    xdg_wm_base_pong(base, serial);
}
const xdg_wm_base_listener kWmBaseListener{.ping = onPing};

void onSurfaceConfigure(void* data, xdg_surface* surface, uint32_t serial) {
    auto* d = static_cast<Impl*>(data);
    xdg_surface_ack_configure(surface, serial);
    if (!d->shown)
        d->showBuffer();
}
const xdg_surface_listener kSurfaceListener{.configure = onSurfaceConfigure};

void onToplevelConfigure(void* data, xdg_toplevel*, int32_t width, int32_t height, wl_array*) {
    auto* d = static_cast<Impl*>(data);
    if (width > 0 && height > 0 && !d->shown) {
        d->width = width;
        d->height = height;
    }
}
void onToplevelClose(void*, xdg_toplevel*) {}
const xdg_toplevel_listener kToplevelListener{.configure = onToplevelConfigure,
                                              .close = onToplevelClose,
                                              .configure_bounds = nullptr,
                                              .wm_capabilities = nullptr};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* d = static_cast<Impl*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        d->compositor =
            static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        d->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
        d->wmBase = static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !d->seat)
        d->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener{.global = onGlobal, .global_remove = onGlobalRemove};

} // namespace

PointerClient::PointerClient(const QString& socketPath, const QString& appId)
    : d(std::make_unique<Impl>()) {
    d->display = wl_display_connect(QFile::encodeName(socketPath).constData());
    if (!d->display)
        return;
    d->registry = wl_display_get_registry(d->display);
    wl_registry_add_listener(d->registry, &kRegistryListener, d.get());
    wl_display_roundtrip(d->display);
    if (!d->compositor || !d->shm || !d->wmBase || !d->seat)
        return;
    xdg_wm_base_add_listener(d->wmBase, &kWmBaseListener, d.get());
    wl_seat_add_listener(d->seat, &kSeatListener, d.get());
    d->surface = wl_compositor_create_surface(d->compositor);
    d->xdgSurface = xdg_wm_base_get_xdg_surface(d->wmBase, d->surface);
    xdg_surface_add_listener(d->xdgSurface, &kSurfaceListener, d.get());
    d->toplevel = xdg_surface_get_toplevel(d->xdgSurface);
    xdg_toplevel_add_listener(d->toplevel, &kToplevelListener, d.get());
    if (!appId.isEmpty())
        xdg_toplevel_set_app_id(d->toplevel, appId.toUtf8().constData());
    xdg_toplevel_set_fullscreen(d->toplevel, nullptr);
    wl_surface_commit(d->surface);
    for (int i = 0; i < 10 && !d->shown; ++i)
        wl_display_roundtrip(d->display);
    wl_display_roundtrip(d->display);
}

PointerClient::~PointerClient() {
    if (!d->display)
        return;
    if (d->pointer)
        wl_pointer_destroy(d->pointer);
    if (d->buffer)
        wl_buffer_destroy(d->buffer);
    if (d->toplevel)
        xdg_toplevel_destroy(d->toplevel);
    if (d->xdgSurface)
        xdg_surface_destroy(d->xdgSurface);
    if (d->surface)
        wl_surface_destroy(d->surface);
    if (d->seat)
        wl_seat_destroy(d->seat);
    if (d->wmBase)
        xdg_wm_base_destroy(d->wmBase);
    if (d->shm)
        wl_shm_destroy(d->shm);
    if (d->compositor)
        wl_compositor_destroy(d->compositor);
    if (d->registry)
        wl_registry_destroy(d->registry);
    wl_display_disconnect(d->display);
    if (d->pixels)
        munmap(d->pixels, d->pixelBytes);
}

bool PointerClient::ok() const {
    return d->display && d->shown && wl_display_get_error(d->display) == 0;
}

void PointerClient::pump() {
    if (!d->display)
        return;
    while (wl_display_prepare_read(d->display) != 0)
        wl_display_dispatch_pending(d->display);
    wl_display_flush(d->display);
    pollfd ready{wl_display_get_fd(d->display), POLLIN, 0};
    if (poll(&ready, 1, 0) > 0)
        wl_display_read_events(d->display);
    else
        wl_display_cancel_read(d->display);
    wl_display_dispatch_pending(d->display);
}

const std::vector<PointerClient::Event>& PointerClient::events() const {
    return d->events;
}

std::optional<QPointF> PointerClient::position() const {
    return d->position;
}

} // namespace morvane::test
