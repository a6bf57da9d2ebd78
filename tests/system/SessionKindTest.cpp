// Which kind of session the environment and the bus describe.

#include "SessionKind.h"

#include <gtest/gtest.h>

using namespace morvane;

namespace {

struct Case {
    const char* what;
    SessionEnvironment env;
    SessionKind expected;
};

SessionEnvironment env(const char* type, const char* wayland, const char* x, const char* desktop = "",
                       bool mutter = false, bool kwin = false, const char* sway = "") {
    return {QString::fromUtf8(type),
            QString::fromUtf8(wayland),
            QString::fromUtf8(x),
            QString::fromUtf8(desktop),
            QString::fromUtf8(sway),
            mutter,
            kwin};
}

} // namespace

TEST(SessionKind, FromEnvironmentAndBus) {
    const Case cases[] = {
        {"plain X11", env("x11", "", ":0", "XFCE"), SessionKind::x11},
        {"X11 without a type", env("", "", ":0"), SessionKind::x11},
        {"nothing at all", env("", "", ""), SessionKind::none},
        {"a text console", env("tty", "", ""), SessionKind::none},
        {"X11 type, no display left", env("x11", "", ""), SessionKind::none},
        {"nested compositor inside X11", env("x11", "wayland-1", ":0", "", true), SessionKind::x11},
        {"GNOME by its names", env("wayland", "wayland-0", ":0", "GNOME", true), SessionKind::gnomeWayland},
        {"Ubuntu's GNOME", env("wayland", "wayland-0", ":0", "ubuntu:GNOME", true),
         SessionKind::gnomeWayland},
        {"Mutter under another desktop name", env("wayland", "wayland-0", "", "Pantheon", true),
         SessionKind::gnomeWayland},
        {"GNOME while Mutter restarts", env("wayland", "wayland-0", ":0", "GNOME"),
         SessionKind::gnomeWayland},
        {"GNOME on X11 stays X11", env("x11", "", ":0", "GNOME", true), SessionKind::x11},
        {"KDE by KWin's name", env("wayland", "wayland-0", ":1", "KDE", false, true),
         SessionKind::kdeWayland},
        {"KDE by its desktop name", env("wayland", "wayland-0", "", "KDE"), SessionKind::kdeWayland},
        {"sway from a console", env("tty", "wayland-1", "", "", false, false, "/run/user/1000/sway-ipc.sock"),
         SessionKind::wlrootsWayland},
        {"sway by its desktop name", env("wayland", "wayland-1", "", "sway"), SessionKind::wlrootsWayland},
        {"river", env("wayland", "wayland-1", "", "river"), SessionKind::wlrootsWayland},
        {"Hyprland", env("wayland", "wayland-1", "", "hyprland"), SessionKind::wlrootsWayland},
        {"Wayland type without a socket name", env("wayland", "", "", "GNOME", true),
         SessionKind::gnomeWayland},
        {"an unknown compositor", env("wayland", "wayland-0", ":0", "weston"), SessionKind::otherWayland},
        {"desktop names are whole entries", env("wayland", "wayland-0", "", "GNOME-Flashback-ish"),
         SessionKind::otherWayland},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sessionKind(c.env), c.expected) << c.what;
}
