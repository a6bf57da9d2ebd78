#pragma once

#include "Instant.h"
#include "TrayIcon.h"

#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>

#include <functional>

class QDBusServiceWatcher;
class QSystemTrayIcon;

namespace morvane {

class Clock;
class DBusMenu;
class Engine;
class Popover;
class SettingsStore;
class StatusNotifierItem;

// The tray item: its icon and countdown follow the engine and the settings; a left click opens
// or closes the popover, a right click (or a left click with Ctrl held) switches the engine.
// A StatusNotifierItem where the panel runs a watcher, the XEmbed tray elsewhere, and nothing
// (but a note in the log) while there is no tray host; the item appears once one does. While
// Morvane's GNOME Shell extension is active, it is the top bar's Morvane, and no tray item is offered.
class StatusController final : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> openSettings; // the menu's "Preferencias"
        std::function<void()> quit;         // the menu's "Salir"
    };
    // `clock` dates the tooltip's activity line when a host reads it: the engine's own time stands
    // still while it rests.
    StatusController(Engine& engine, SettingsStore& store, Popover& popover, const Clock& clock,
                     Actions actions, QDBusConnection bus, QObject* parent = nullptr);
    ~StatusController() override;

    // Creates the tray item and follows the engine and the settings; called once.
    void setup();
    // Brings icon and title up to date; sends nothing when both are unchanged.
    void refresh();
    // A click on the item at `at` (global coordinates; a null point means "unknown").
    void leftClick(QPoint at);
    void rightClick();
    // Opens the popover if it is closed, closes it if it is shown.
    void toggle(QPoint at);

    // What the item shows now.
    TrayState shownState() const { return m_state; }
    const QString& shownTitle() const { return m_title; }
    // The tooltip as the XEmbed icon shows it and a StatusNotifierItem host reads it (without its
    // "Morvane" title), computed from the engine's present state and the clock at each call.
    QString shownToolTip() const;
    // Which host the item lives in.
    // gnomeShell: Morvane's GNOME Shell extension shows it in the top bar, over the bus.
    enum class Host { none, statusNotifier, xembed, gnomeShell };
    Host host() const { return m_host; }
    StatusNotifierItem* statusNotifierItem() const { return m_sni; }

Q_SIGNALS:
    void hostChanged();

protected:
    // Fills the XEmbed icon's tooltip in just before Qt shows it.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void chooseHost();
    void showInHost();
    // The countdown to the timer's end at `now` (" 1:05:00"), or nothing.
    QString countdown(const Instant& now) const;
    QString title() const;
    // Runs the label's one-second update while a tray item shows a countdown (`title` not empty):
    // the engine does not tick every second while no window is open.
    void followLabel(const QString& title);
    // The tooltip's first words: "Apagado", "Activo" or the reason movement is held.
    QString stateWords() const;
    // Whether the session registers the movements, with the age of the last registered one.
    QString activityLine() const;
    // What changes when the tooltip changes for another reason than the passing of time.
    QString toolTipKey() const;
    QPoint fallbackAnchor() const;

    Engine& m_engine;
    SettingsStore& m_store;
    Popover& m_popover;
    const Clock& m_clock;
    Actions m_actions;
    QDBusConnection m_bus;
    DBusMenu* m_menu = nullptr;
    StatusNotifierItem* m_sni = nullptr;
    QSystemTrayIcon* m_xembed = nullptr;
    QDBusServiceWatcher* m_panel = nullptr;
    Host m_host = Host::none;
    bool m_loggedNoHost = false;
    bool m_setUp = false;
    TrayState m_state = TrayState::off;
    QString m_title;
    QTimer m_labelTicks;
    QString m_tipKey;
};

} // namespace morvane
