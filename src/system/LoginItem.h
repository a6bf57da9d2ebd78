#pragma once

#include <QString>

namespace morvane {

// Start at login through the XDG autostart entry $XDG_CONFIG_HOME/autostart/morvane.desktop.
class LoginItem {
public:
    // `configHome` defaults to $XDG_CONFIG_HOME (or ~/.config); `executable` to this program.
    explicit LoginItem(QString configHome = {}, QString executable = {});

    // Enabled when the entry exists and is not disabled (Hidden=true or
    // X-GNOME-Autostart-enabled=false).
    bool isEnabled() const;

    // Writes or removes the entry. A failure writes "Morvane: login item error " and the reason
    // to the system log and changes nothing else.
    void set(bool on);

    QString entryPath() const;

private:
    QString m_configHome;
    QString m_executable;
};

// Starts `executable` again one second after this process has gone, then asks the application
// to quit. The quit happens even when the shell cannot be started.
namespace AppRelauncher {
void relaunch(const QString& executable);
}

} // namespace morvane
