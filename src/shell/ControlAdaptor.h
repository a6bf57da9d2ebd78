#pragma once

#include "AppActions.h"
#include "Engine.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>

class QTimer;

namespace morvane {

class AppService;
class Clock;
class SettingsStore;

// The running program's scriptable interface, on the object AppService exports: switching, timers,
// pauses, the popover, the settings window and quitting, and the engine's published state as
// read-only properties announced through org.freedesktop.DBus.Properties.PropertiesChanged. The
// status line is computed when read; it is announced when its form changes (see
// Engine::statusForm()), not for each second of its countdown.
// Every method calls the engine operation the popover's control for it calls. Instants are
// milliseconds since 1970 (UTC), 0 when absent. Bad arguments answer InvalidArgs and change nothing.
class ControlAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.morvane.Morvane")
    Q_PROPERTY(bool enabled READ enabled)
    Q_PROPERTY(QString status READ status)
    Q_PROPERTY(qlonglong stopAt READ stopAt)
    Q_PROPERTY(qlonglong pausedUntil READ pausedUntil)
    Q_PROPERTY(qlonglong startAt READ startAt)
    Q_PROPERTY(QString blockingReason READ blockingReason)
    Q_PROPERTY(QString verified READ verified)
    Q_PROPERTY(qlonglong lastVerified READ lastVerified)
    Q_PROPERTY(QString icon READ icon)
    Q_PROPERTY(QString label READ label)
public:
    // Lives as a child of `service`; create it before AppService::claim() so that the interface is
    // complete from the moment the name is taken.
    ControlAdaptor(AppService& service, QDBusConnection bus, Engine& engine, SettingsStore& store,
                   const Clock& clock);

    // The shell's actions (settings window, quit, closing the popover), known once it is built.
    void setActions(AppActions actions) { m_actions = std::move(actions); }
    // Whether Morvane's GNOME Shell extension shows the panel's countdown (it owns the panel name).
    void setPanelShown(bool shown);

    bool enabled() const;
    QString status() const;
    qlonglong stopAt() const;
    qlonglong pausedUntil() const;
    qlonglong startAt() const;
    // The reason the latest tick found movement forbidden; empty while not blocked. No probe runs.
    QString blockingReason() const;
    // Whether the session registers the movements: "verified", "unverified" or "unknown".
    QString verified() const;
    // When the last movement the session registered was made; 0 before the first.
    qlonglong lastVerified() const;
    // The tray icon's state: "off", "on", "blocked" or "working".
    QString icon() const;
    // The countdown the tray shows beside its icon ("1:05:00"), from the present; empty when none.
    QString label() const;

public Q_SLOTS:
    // The header switch's toggle, only when it would switch the way asked.
    void SwitchOn();
    void SwitchOff();
    void Toggle();
    // On now, off `seconds` later (positive; cut to a century).
    void ActivateFor(qlonglong seconds, const QDBusMessage& call);
    // On now, off at the next "HH:MM" of the day (24 h), as the popover's "Hasta las" row.
    void ActivateUntil(const QString& time, const QDBusMessage& call);
    // Off now, back on after `seconds` (positive; cut to a century).
    void Pause(qlonglong seconds, const QDBusMessage& call);
    void CancelTimers();
    void OpenPopover();
    // "general" (or empty), "movimiento", "condiciones" or "horarios".
    void OpenSettings(const QString& tab, const QDBusMessage& call);
    // Quits once the answer is out.
    void Quit();
    // The popover's status line, then its timer lines, in its words, then the line saying whether
    // the session registers the movements.
    QStringList StatusLines() const;
    // The diagnosis report (see Diagnosis.h); answered once the session's services have replied.
    QString Diagnose(const QDBusMessage& call);

private:
    // The properties as last announced.
    struct Published {
        bool enabled = false;
        Engine::StatusForm status;
        qlonglong stopAt = 0;
        qlonglong pausedUntil = 0;
        qlonglong startAt = 0;
        QString blockingReason;
        QString verified;
        qlonglong lastVerified = 0;
        QString icon;
        QString label;
        bool operator==(const Published&) const = default;
    };
    Published published() const;
    void announceChanges();
    // Answers `call` with InvalidArgs; the caller returns without acting.
    void refuse(const QDBusMessage& call, const QString& why);
    // Whole positive seconds, cut to the longest duration a command may ask for; 0 when refused.
    double acceptedSeconds(qlonglong seconds, const QDBusMessage& call);

    AppService& m_service;
    QDBusConnection m_bus;
    Engine& m_engine;
    SettingsStore& m_store;
    const Clock& m_clock;
    AppActions m_actions;
    Published m_published;
    // Runs while a countdown is published and the GNOME Shell extension shows it, so that the label
    // is announced each second; nothing else draws it from the bus.
    QTimer* m_labelTimer = nullptr;
    bool m_panelShown = false;
};

} // namespace morvane
