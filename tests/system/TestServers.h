#pragma once

// Real servers for the adapter tests, each started by the test process itself and stopped with
// it: an X server (Xvfb, with openbox as window manager), a private D-Bus daemon, python-dbusmock
// services on it, and a PulseAudio server with a null sink.

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

#include <functional>
#include <memory>

namespace morvane::test {

// Runs the Qt event loop until `condition` holds or `timeoutMs` passes; answers the condition.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// Starts a program and waits for it to exit; answers its exit code (-1 when it could not run).
int run(const QString& program, const QStringList& arguments, int timeoutMs = 10000,
        QByteArray* output = nullptr);

// Xvfb -noreset on a free display number, with openbox managing windows when asked; sets DISPLAY
// for this process while it lives.
class XServer {
public:
    explicit XServer(bool windowManager = true);
    ~XServer();
    bool ok() const { return m_ok; }
    QString display() const { return m_display; }

private:
    QProcess m_xvfb;
    QProcess m_wm;
    QString m_display;
    QByteArray m_previousDisplay;
    bool m_ok = false;
};

// A private dbus-daemon with the session configuration.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    bool ok() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }
    // A new named connection to this bus.
    QDBusConnection connect(const QString& name) const;

private:
    QProcess m_daemon;
    QString m_address;
};

// `python3 -m dbusmock` on a private bus. Either a template (`--template logind`) or a plain mock
// (name, path, interface) whose methods the test adds through addMethod().
class DBusMock {
public:
    DBusMock(const PrivateBus& bus, const QStringList& arguments, const QString& busName,
             bool systemBus = false);
    ~DBusMock();
    bool ok() const { return m_ok; }

    // A mock started from a template written for it, so that `methods` (python-dbusmock's
    // AddMethods list for the interface named like the service, "[('GetActive', '', 'b',
    // 'ret = True')]") answer from the moment `name` is on the bus.
    static std::unique_ptr<DBusMock> fromTemplate(const PrivateBus& bus, const QString& name,
                                                  const QString& path, const QString& methods);

    // org.freedesktop.DBus.Mock on `path`.
    bool addMethod(const QString& path, const QString& interface, const QString& name, const QString& inSig,
                   const QString& outSig, const QString& code);
    // Each call as (method name, arguments).
    QList<std::pair<QString, QVariantList>> calls(const QString& path) const;
    void clearCalls(const QString& path);
    // Emits a D-Bus signal from the mock object at `path`.
    bool emitSignal(const QString& path, const QString& interface, const QString& name,
                    const QString& signature, const QVariantList& args);
    // Sets a property through org.freedesktop.DBus.Properties (the mock emits PropertiesChanged).
    bool setProperty(const QString& path, const QString& interface, const QString& name,
                     const QVariant& value);

private:
    QDBusConnection m_connection;
    QProcess m_process;
    QString m_busName;
    bool m_ok = false;
    std::unique_ptr<QTemporaryDir> m_templateDir; // read by dbusmock only after it took the name
};

// pulseaudio with a null sink as the default, on a private socket; sets PULSE_SERVER while it lives.
class PulseServer {
public:
    PulseServer();
    ~PulseServer();
    bool ok() const { return m_ok; }
    QString server() const { return m_server; }
    // Plays silence into the default sink until stopPlaying() or destruction.
    bool startPlaying();
    void stopPlaying();

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QProcess m_player;
    QString m_server;
    QByteArray m_previousServer;
    bool m_ok = false;
};

// A headless sway (wlroots) with one 800x600 output, in a runtime directory of its own. sway refuses
// to run as root (it checks that root cannot be regained), so under root, as in CI, it runs as
// nobody in a runtime directory handed to nobody.
class HeadlessSway {
public:
    HeadlessSway();
    ~HeadlessSway();

    bool ok() const;
    QString runtimeDir() const { return m_dir.path(); }
    QString waylandSocket() const { return m_dir.filePath(QStringLiteral("wayland-1")); }
    QString ipcSocket() const { return m_ipc; }
    void stop();

private:
    QTemporaryDir m_dir;
    QProcess m_sway;
    QString m_ipc;
};

// The built program as a user runs it on a Wayland desktop the test started: `prefs` (the settings
// record's JSON) in a configuration folder of its own, the session's buses and display in its
// environment. It runs as the application while this object lives, and answers its own command line.
class RealProgram {
public:
    RealProgram(const QString& executable, const QByteArray& prefs,
                const QList<std::pair<QString, QString>>& env);
    ~RealProgram();
    void start() { m_app.start(m_executable, {}); }
    QProcess& app() { return m_app; }
    // `morvane arguments` as a client: its exit code (-1 when it did not finish) and its output.
    int run(const QStringList& arguments, QString* out = nullptr) const;

private:
    QString m_executable;
    QTemporaryDir m_config;
    QProcessEnvironment m_env;
    QProcess m_app;
};

} // namespace morvane::test
