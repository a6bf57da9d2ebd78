#pragma once

// Pictures of the interface without a user: started with "--snapshot DIR" (and optionally
// "--dark" anywhere), the program renders the popover and each settings tab to PNG files in DIR
// and quits, without starting the engine, the updater or the tray item.

#include <QString>
#include <QStringList>

#include <functional>

namespace morvane {

class Clock;
class Engine;
class LoginModel;
class SettingsStore;
class Updater;

namespace Snapshot {

// Every picture is rendered at this device pixel ratio, whatever the screen.
inline constexpr double kScale = 2.0;

// Whether `arguments` (the program first, as QCoreApplication::arguments() gives them) ask for
// snapshots: their first "--snapshot" after the program is followed by a directory.
bool requested(const QStringList& arguments);
// The same from main()'s arguments, for deciding the platform before the application exists.
bool requested(int argc, char** argv);

// When `arguments` ask for snapshots: applies the light or dark appearance ("--dark"), creates
// the directory (relative paths against the current directory), writes menu.png,
// pref-general.png, pref-movimiento.png, pref-condiciones.png and pref-horarios.png in that order,
// and answers true; the caller then quits. Otherwise does nothing and answers false. The objects
// are shown as they are: nothing here starts the engine or the updater. Needs a QApplication.
bool runIfRequested(const QStringList& arguments, SettingsStore& store, Engine& engine, Updater& updater,
                    LoginModel& login, const Clock& clock);

// Renders the five pictures into the existing directory `dir` in the current appearance, calling
// `written` with each file's path once it is saved. A picture that cannot be saved is skipped.
void render(const QString& dir, SettingsStore& store, Engine& engine, Updater& updater, LoginModel& login,
            const Clock& clock, const std::function<void(const QString& path)>& written = {});

} // namespace Snapshot
} // namespace morvane
