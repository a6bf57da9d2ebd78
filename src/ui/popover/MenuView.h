#pragma once

#include "AppActions.h"
#include "Instant.h"
#include "Prefs.h"
#include "Schedule.h"
#include "Symbols.h"

#include <QList>
#include <QString>
#include <QTimeZone>
#include <QWidget>

#include <array>
#include <optional>

class QAbstractButton;
class QGridLayout;
class QLabel;
class QPushButton;

namespace morvane {

class Clock;
class DurationField;
class Engine;
class SettingsStore;
class StateBadge;
class Updater;

// One "Activar por" chip: its label and how long it switches Morvane on.
struct QuickDuration {
    QString label;
    double seconds = 0;
    bool operator==(const QuickDuration&) const = default;
};

// The popover's content: state, permission, activity and update banners, running timers, the quick actions
// "Activar por", "Programar" and "Pausar", and a footer with the movement count, settings and
// quit. Built once, 310 pixels wide and as tall as its content; every change of the engine, the
// settings or the updater updates its widgets in place. It keeps nothing of its own: every value
// it shows is read from those three objects.
class MenuView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 310;

    // One line of the timers block.
    struct Line {
        Symbol icon;
        QString text;
        bool operator==(const Line&) const = default;
    };

    // The engine state the timer lines are made of.
    struct TimerState {
        Instant now;
        OptInstant stopAt;
        OptInstant startAt;
        OptInstant plannedStopAt;
        OptInstant pausedUntil;
        std::optional<Schedule> activeSchedule;
    };

    MenuView(Engine& engine, SettingsStore& store, Updater& updater, const Clock& clock,
             QList<QuickDuration> quick, AppActions actions, QWidget* parent = nullptr);

    // The "Activar por" chips the application offers, from 15 minutes to 8 hours.
    static QList<QuickDuration> defaultQuick();
    // The "Pausar" chips.
    static QList<QuickDuration> pauseChips();

    // The timer lines, in order: timer end, planned run, pause, then the running schedule's end
    // or else the next schedule start. At most one line of each kind; times in `zone`.
    static QList<Line> timerLines(const TimerState& state, const Prefs& prefs, const QTimeZone& zone);
    // The same for the engine's current state and the user's time zone.
    QList<Line> timerLines() const;

    // Plans a run from the next "Encender a las" time and, when "Apagar a las" is ticked, to the
    // first "Apagar a las" time after that start.
    void programar();

    // 310 wide; as tall as the content at that width.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // The preferred height changed (a banner, a timer line or a row appeared or went away).
    void preferredSizeChanged(QSize size);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildPermissionBanner();
    QWidget* buildUpdateBanner();
    QWidget* buildTimers();
    QWidget* buildActivateSection();
    QWidget* buildProgramSection();
    QWidget* buildPauseSection();
    QWidget* buildFooter();
    QWidget* section(const QString& title, const QList<QWidget*>& rows);
    void setTabOrder();

    void refresh();
    void refreshIfShown();
    void refreshHeader();
    void refreshTimers();
    void refreshFooter();
    void elideStatus();
    // Keeps the view exactly as tall as its content needs at its fixed width.
    void fitToContent();
    void applyColors();

    Engine& m_engine;
    SettingsStore& m_store;
    Updater& m_updater;
    const Clock& m_clock;
    QList<QuickDuration> m_quick;
    AppActions m_actions;

    StateBadge* m_badge = nullptr;
    QLabel* m_status = nullptr;
    bool m_stale = false; // a change arrived while the popover was closed
    QAbstractButton* m_switch = nullptr;
    QWidget* m_permission = nullptr;
    QWidget* m_activity = nullptr; // the session does not register the movements
    QWidget* m_update = nullptr;
    QLabel* m_updateText = nullptr;
    QPushButton* m_install = nullptr;
    QWidget* m_timers = nullptr;
    // One row per kind of timer line; rows not needed are hidden, never deleted.
    struct LineRow {
        QWidget* row = nullptr;
        QLabel* icon = nullptr;
        QLabel* text = nullptr;
        std::optional<Symbol> shown;
    };
    std::array<LineRow, 4> m_lines;
    QAbstractButton* m_cancelTimers = nullptr;
    DurationField* m_activateFor = nullptr;
    QPushButton* m_activateForButton = nullptr;
    DurationField* m_pauseFor = nullptr;
    QPushButton* m_pauseForButton = nullptr;
    QLabel* m_footer = nullptr;
    QList<QLabel*> m_secondaryLabels;
    // Icons tinted from the palette, redrawn when the appearance changes.
    QList<std::pair<QLabel*, Symbol>> m_symbolLabels;
    QList<std::pair<QAbstractButton*, Symbol>> m_symbolButtons;
    QSize m_announcedSize;
};

} // namespace morvane
