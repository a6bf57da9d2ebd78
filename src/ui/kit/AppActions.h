#pragma once

#include "SettingsTabState.h"

#include <QString>

#include <functional>

namespace morvane {

// What the views ask of the application shell. The composition root fills these in; tests record
// the calls. Every member may be left empty (the button then does nothing).
struct AppActions {
    std::function<void()> closePopover;
    std::function<void(SettingsTab)> showSettings;
    std::function<void()> quit;
    // "Dar permiso…" / "Abrir ajustes": re-checks the input permission, then opens the help page
    // on granting it.
    std::function<void()> requestPermission;
    // "Restablecer permiso": the same help page, after forgetting what the program knew.
    std::function<void()> resetPermission;
    // "Reiniciar Morvane".
    std::function<void()> relaunch;
    // "Ver diagnóstico": the diagnosis in a small window.
    std::function<void()> showDiagnosis;
    // Gathers the diagnosis and hands its text, and whether everything checked works, to `done`
    // (later, on the main thread: some services are asked over the bus).
    std::function<void(std::function<void(const QString& text, bool ok)> done)> diagnose;
    // Whether Morvane has an icon on this desktop (a tray item, or the top bar's through its GNOME
    // Shell extension). Left empty: it has.
    std::function<bool()> hasIcon;
};

} // namespace morvane
