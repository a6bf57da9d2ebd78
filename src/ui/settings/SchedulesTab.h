#pragma once

#include "GroupedForm.h"

#include <QUuid>

#include <vector>

class QPushButton;
class QVBoxLayout;

namespace morvane {

class Clock;
class ScheduleRow;
class SettingsStore;

// The "Horarios" tab: the master switch for schedules, one editable group per schedule and the
// button that adds one.
class SchedulesTab final : public GroupedForm {
    Q_OBJECT
public:
    SchedulesTab(SettingsStore& store, const Clock& clock, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    // One group per schedule, in list order. Rows are matched to schedules by identifier, so a
    // row (and whatever the user is typing into it) survives additions and removals of others.
    void refresh();
    void addSchedule();
    void removeSchedule(const QUuid& id);

    struct Entry {
        QUuid id;
        int occurrence;
        FormGroup* group;
        ScheduleRow* row;
    };

    SettingsStore& m_store;
    const Clock& m_clock;
    QPushButton* m_add;
    QWidget* m_list;
    QVBoxLayout* m_listLayout;
    std::vector<Entry> m_entries;
};

} // namespace morvane
