#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace morvane {

class Termination;

// Start at login through the XDG autostart entry $XDG_CONFIG_HOME/autostart/morvane.desktop.
class LoginItem {
public:
    // Receives each error line; the default writes it to syslog (LOG_USER, LOG_ERR).
    using LogWriter = std::function<void(const QString& line)>;

    // `configHome` defaults to $XDG_CONFIG_HOME (or ~/.config); `executable` to this program, by
    // the launcher link that leads to it where one does (see launcherFor).
    explicit LoginItem(QString configHome = {}, QString executable = {}, LogWriter log = {});

    // Enabled when the entry exists and is not disabled (Hidden=true or
    // X-GNOME-Autostart-enabled=false).
    bool isEnabled() const;

    // Writes or removes the entry. A failure writes "Morvane: login item error " and the reason
    // to the log and changes nothing else.
    void set(bool on);

    QString entryPath() const;

    // The Exec= value that starts `executable` with no arguments, quoted and escaped so that
    // any path survives the desktop entry's string and argument rules.
    static QString execValue(const QString& executable);

    // The first of `links` that resolves to the same file as `executable`, else `executable`. An
    // installed program runs from inside its bundle, which an update swaps and a reinstall moves;
    // the link in a bin folder keeps leading to whatever bundle is installed.
    static QString launcherFor(const QString& executable, const QStringList& links);
    // ~/.local/bin/morvane, /usr/local/bin/morvane and /usr/bin/morvane: where the installers
    // place the link.
    static QStringList launcherLinks();

private:
    QString m_configHome;
    QString m_executable;
    LogWriter m_log;
};

// Starts `executable` again one second after this process has gone, then asks the application
// to quit. The quit happens even when the shell cannot be started.
namespace AppRelauncher {
void relaunch(const QString& executable);
// Same, quitting through `termination` instead of the application object.
void relaunch(const QString& executable, Termination& termination);
} // namespace AppRelauncher

} // namespace morvane
