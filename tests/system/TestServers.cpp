#include "TestServers.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <unistd.h>

#include <X11/Xlib.h>

namespace morvane::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

int run(const QString& program, const QStringList& arguments, int timeoutMs, QByteArray* output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForStarted(timeoutMs))
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

namespace {

void stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

bool displayAnswers(const QString& display) {
    Display* d = XOpenDisplay(display.toLocal8Bit().constData());
    if (!d)
        return false;
    XCloseDisplay(d);
    return true;
}

} // namespace

XServer::XServer(bool windowManager) {
    // Display numbers are taken per process; several test processes run at once, so try a few.
    for (int attempt = 0; attempt < 40 && !m_ok; ++attempt) {
        const int number = 100 + int((QCoreApplication::applicationPid() + attempt * 7) % 400);
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        const QString display = QStringLiteral(":%1").arg(number);
        m_xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {display, QStringLiteral("-noreset"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                      QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x1024x24")});
        if (!m_xvfb.waitForStarted(5000))
            return;
        const bool up =
            waitUntil([&] { return m_xvfb.state() != QProcess::Running || displayAnswers(display); }, 10000);
        if (up && m_xvfb.state() == QProcess::Running) {
            m_display = display;
            m_ok = true;
        } else {
            stop(m_xvfb);
        }
    }
    if (!m_ok)
        return;
    m_previousDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", m_display.toLocal8Bit());
    if (windowManager) {
        // openbox sets _NET_SUPPORTING_WM_CHECK before it manages windows; a window mapped in that
        // gap can stay unmanaged for good. Its --startup command runs once it is really ready.
        QTemporaryDir marker;
        const QString ready = marker.filePath(QStringLiteral("ready"));
        m_wm.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_wm.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable"), QStringLiteral("--startup"),
                                               QStringLiteral("touch ") + ready});
        m_ok = waitUntil([&] { return QFile::exists(ready); }, 15000);
    }
}

XServer::~XServer() {
    stop(m_wm);
    stop(m_xvfb);
}

PrivateBus::PrivateBus() {
    m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(5000))
        return;
    waitUntil([&] { return m_daemon.canReadLine() || m_daemon.state() != QProcess::Running; });
    m_address = QString::fromLocal8Bit(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    stop(m_daemon);
}

QDBusConnection PrivateBus::connect(const QString& name) const {
    return QDBusConnection::connectToBus(m_address, name);
}

DBusMock::DBusMock(const PrivateBus& bus, const QStringList& arguments, const QString& busName,
                   bool systemBus)
    : m_connection(bus.connect(QStringLiteral("mock-control-") + busName))
    , m_busName(busName) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(systemBus ? QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS")
                         : QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               bus.address());
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    QStringList args{QStringLiteral("-m"), QStringLiteral("dbusmock")};
    if (systemBus)
        args << QStringLiteral("--system");
    args << arguments;
    // The distribution's interpreter: a pyenv python on PATH would not have python3-dbusmock.
    m_process.start(QStringLiteral("/usr/bin/python3"), args);
    if (!m_process.waitForStarted(5000))
        return;
    m_ok = waitUntil(
               [&] {
                   return m_process.state() != QProcess::Running ||
                          m_connection.interface()->isServiceRegistered(m_busName).value();
               },
               15000) &&
           m_process.state() == QProcess::Running;
}

DBusMock::~DBusMock() {
    stop(m_process);
    QDBusConnection::disconnectFromBus(m_connection.name());
}

bool DBusMock::addMethod(const QString& path, const QString& interface, const QString& name,
                         const QString& inSig, const QString& outSig, const QString& code) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        m_busName, path, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("AddMethod"));
    m << interface << name << inSig << outSig << code;
    return m_connection.call(m).type() == QDBusMessage::ReplyMessage;
}

QList<std::pair<QString, QVariantList>> DBusMock::calls(const QString& path) const {
    QList<std::pair<QString, QVariantList>> out;
    QDBusMessage m = QDBusMessage::createMethodCall(
        m_busName, path, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("GetCalls"));
    const QDBusMessage reply = m_connection.call(m);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return out;
    // a(tsav): timestamp, method name, arguments
    const QDBusArgument arg = reply.arguments().first().value<QDBusArgument>();
    arg.beginArray();
    while (!arg.atEnd()) {
        quint64 stamp = 0;
        QString method;
        QVariantList args;
        arg.beginStructure();
        arg >> stamp >> method;
        arg.beginArray();
        while (!arg.atEnd()) {
            QDBusVariant v;
            arg >> v;
            args << v.variant();
        }
        arg.endArray();
        arg.endStructure();
        out.append({method, args});
    }
    arg.endArray();
    return out;
}

void DBusMock::clearCalls(const QString& path) {
    m_connection.call(QDBusMessage::createMethodCall(
        m_busName, path, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("ClearCalls")));
}

bool DBusMock::emitSignal(const QString& path, const QString& interface, const QString& name,
                          const QString& signature, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        m_busName, path, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("EmitSignal"));
    m << interface << name << signature << QVariant::fromValue(args);
    return m_connection.call(m).type() == QDBusMessage::ReplyMessage;
}

bool DBusMock::setProperty(const QString& path, const QString& interface, const QString& name,
                           const QVariant& value) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        m_busName, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    m << interface << name << QVariant::fromValue(QDBusVariant(value));
    return m_connection.call(m).type() == QDBusMessage::ReplyMessage;
}

std::unique_ptr<DBusMock> DBusMock::fromTemplate(const PrivateBus& bus, const QString& name,
                                                 const QString& path, const QString& methods) {
    auto dir = std::make_unique<QTemporaryDir>();
    const QString file = dir->filePath(QStringLiteral("mock_template.py"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return nullptr;
    out.write(QStringLiteral("BUS_NAME = '%1'\nMAIN_OBJ = '%2'\nMAIN_IFACE = BUS_NAME\nSYSTEM_BUS = False\n"
                             "def load(mock, parameters):\n    mock.AddMethods(MAIN_IFACE, %3)\n")
                  .arg(name, path, methods)
                  .toUtf8());
    out.close();
    auto mock = std::make_unique<DBusMock>(bus, QStringList{QStringLiteral("-t"), file}, name);
    mock->m_templateDir = std::move(dir);
    return mock;
}

PulseServer::PulseServer() {
    if (!m_dir.isValid())
        return;
    const QString socket = m_dir.filePath(QStringLiteral("native"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.remove(QStringLiteral("DISPLAY"));
    m_daemon.setProcessEnvironment(env);
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.start(
        QStringLiteral("pulseaudio"),
        {QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
         QStringLiteral("--load=module-null-sink sink_name=null"),
         QStringLiteral("--load=module-native-protocol-unix socket=%1 auth-anonymous=1").arg(socket)});
    if (!m_daemon.waitForStarted(5000))
        return;
    m_server = QStringLiteral("unix:") + socket;
    m_previousServer = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", m_server.toLocal8Bit());
    m_ok =
        waitUntil([&] { return run(QStringLiteral("pactl"), {QStringLiteral("info")}, 2000) == 0; }, 10000);
}

PulseServer::~PulseServer() {
    stopPlaying();
    stop(m_daemon);
}

bool PulseServer::startPlaying() {
    // pacat reading /dev/zero plays silence for as long as it runs: the sink is RUNNING meanwhile.
    m_player.setStandardInputFile(QStringLiteral("/dev/zero"));
    m_player.start(QStringLiteral("pacat"), {QStringLiteral("--playback"), QStringLiteral("--raw")});
    return m_player.waitForStarted(5000);
}

void PulseServer::stopPlaying() {
    stop(m_player);
}

HeadlessSway::HeadlessSway() {
    if (!m_dir.isValid())
        return;
    QFile config(m_dir.filePath(QStringLiteral("config")));
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write("output HEADLESS-1 resolution 800x600\n");
    config.close();
    QStringList command{QStringLiteral("sway"), QStringLiteral("-c"), config.fileName()};
    if (geteuid() == 0) {
        if (chown(QFile::encodeName(m_dir.path()).constData(), 65534, 65534) != 0)
            return;
        command = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                              QStringLiteral("--clear-groups")} +
                  command;
        command.prepend(QStringLiteral("setpriv"));
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    env.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("SWAYSOCK"));
    m_sway.setProcessEnvironment(env);
    m_sway.setStandardOutputFile(QProcess::nullDevice());
    m_sway.setStandardErrorFile(QProcess::nullDevice());
    m_sway.start(command.takeFirst(), command);
    if (!m_sway.waitForStarted(5000))
        return;
    test::waitUntil(
        [&] {
            const QDir dir(m_dir.path());
            const QStringList ipc = dir.entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
            if (!ipc.isEmpty() && dir.exists(QStringLiteral("wayland-1")))
                m_ipc = dir.filePath(ipc.first());
            return !m_ipc.isEmpty() || m_sway.state() != QProcess::Running;
        },
        10000);
}

HeadlessSway::~HeadlessSway() {
    stop();
}

bool HeadlessSway::ok() const {
    return !m_ipc.isEmpty() && m_sway.state() == QProcess::Running;
}

void HeadlessSway::stop() {
    if (m_sway.state() == QProcess::NotRunning)
        return;
    m_sway.terminate();
    if (!m_sway.waitForFinished(3000)) {
        m_sway.kill();
        m_sway.waitForFinished(3000);
    }
}

RealProgram::RealProgram(const QString& executable, const QByteArray& prefs,
                         const QList<std::pair<QString, QString>>& env)
    : m_executable(executable)
    , m_env(QProcessEnvironment::systemEnvironment()) {
    QDir().mkpath(m_config.filePath(QStringLiteral("morvane")));
    QFile conf(m_config.filePath(QStringLiteral("morvane/morvane.conf")));
    if (conf.open(QIODevice::WriteOnly)) {
        QByteArray quoted = prefs;
        conf.write("[General]\nonboarded=true\nprefs.v1=\"" + quoted.replace('"', "\\\"") + "\"\n");
    }
    m_env.remove(QStringLiteral("DISPLAY"));
    m_env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    m_env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    for (const auto& [name, value] : env)
        m_env.insert(name, value);
    m_app.setProcessEnvironment(m_env);
    m_app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_app.setStandardOutputFile(QProcess::nullDevice());
}

RealProgram::~RealProgram() {
    m_app.terminate();
    m_app.waitForFinished(5000);
}

int RealProgram::run(const QStringList& arguments, QString* out) const {
    QProcess client;
    client.setProcessEnvironment(m_env);
    client.start(m_executable, arguments);
    const bool done = client.waitForFinished(20000) && client.exitStatus() == QProcess::NormalExit;
    if (out)
        *out = QString::fromUtf8(client.readAllStandardOutput());
    return done ? client.exitCode() : -1;
}

} // namespace morvane::test
