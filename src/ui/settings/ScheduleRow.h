#pragma once

#include "Schedule.h"

#include <QWidget>

#include <functional>

class QGraphicsOpacityEffect;
class QLabel;
class QLineEdit;

namespace morvane {

class Clock;
class DayButton;
class SettingsStore;
class Switch;
class TimeField;

// Edits one schedule of the settings in place: its switch, name, weekdays and hours. The row is
// bound to the `occurrence`-th schedule with identifier `id` (0 unless the list repeats an
// identifier) and writes every edit to that entry at once.
class ScheduleRow final : public QWidget {
    Q_OBJECT
public:
    ScheduleRow(SettingsStore& store, const Clock& clock, const QUuid& id, int occurrence,
                std::function<void()> onDelete, QWidget* parent = nullptr);

    // Shows `schedule`, the current value of the bound entry. Fields the user is editing keep
    // their caret: only values that differ are replaced.
    void setSchedule(const Schedule& schedule);

    // The weekdays in display order, Monday first (1 = Sunday … 7 = Saturday), and their letters.
    static const std::array<std::pair<int, QString>, 7>& days();

private:
    // Applies `change` to the bound entry in one assignment of the settings; nothing when the
    // entry is gone.
    void edit(const std::function<void(Schedule&)>& change);

    SettingsStore& m_store;
    const Clock& m_clock;
    QUuid m_id;
    int m_occurrence;
    Switch* m_enabled;
    QLineEdit* m_name;
    std::array<DayButton*, 7> m_days{};
    TimeField* m_start;
    TimeField* m_end;
    QLabel* m_nextDay;
    QGraphicsOpacityEffect* m_fade;
};

} // namespace morvane
