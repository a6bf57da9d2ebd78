#pragma once

#include "Ports.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QTemporaryFile>

#include <memory>
#include <optional>

namespace morvane {

// KDE Plasma on Wayland: the frontmost application is KWin's active window, as a small KWin
// script of ours reports it. Loaded through KWin's scripting service, the script calls back on our
// own bus connection at every activation with the window's desktop file name (its Wayland app id,
// e.g. "org.kde.konsole"), else its window class; so asking costs nothing and never waits on KWin.
// Until the first report, and while KWin is away, no application is in front. Running
// applications come from `running`.
class KWinAppsProbe final : public QObject, public AppsProbe, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.morvane.KWinActiveWindow")
public:
    KWinAppsProbe(QDBusConnection bus, std::unique_ptr<AppsProbe> running);
    ~KWinAppsProbe() override;

    // Whether org.kde.KWin is on the session bus (one round trip).
    static bool available(const QDBusConnection& bus);
    // The object path the script reports to, and the script's name inside KWin.
    static const QString& reportPath();
    static const QString& scriptName();

    std::optional<QString> runningApp(const QString& list) override;
    std::optional<QString> frontmostAppName() override;

public Q_SLOTS:
    // Called by the script (and ignored from anyone else): `name` is empty when no window is
    // active.
    Q_SCRIPTABLE void activated(const QString& name);

private:
    void loadScript(int attemptsLeft);
    QString scriptSource() const;

    QDBusConnection m_bus;
    std::unique_ptr<AppsProbe> m_running;
    QDBusServiceWatcher m_watcher;
    QTemporaryFile m_script;
    QString m_kwinOwner; // the unique name KWin's calls come from
    std::optional<QString> m_frontmost;
    int m_generation = 0; // counts KWin's comings and goings
};

} // namespace morvane
