#pragma once

#include "Prefs.h"

#include <QWidget>

#include <cstdint>

class QLabel;
class QLineEdit;

namespace morvane {

class SettingsStore;

// A duration in whole minutes entered as hours and minutes: "[ h] h [ m] min". Each part is an
// integer field in the user's locale; a typed value is clamped (hours 0 … 99, minutes 0 … 59) and
// the other part kept, so the field can produce at most 5999 minutes. Text that is no number
// puts the stored value back.
class DurationField final : public QWidget {
    Q_OBJECT
public:
    explicit DurationField(QWidget* parent = nullptr);

    // Shows `minutes`; never emits. A part the user is typing into keeps its text until it is
    // committed, so a refresh in the middle of typing loses nothing.
    void setMinutes(std::int64_t minutes);
    std::int64_t minutes() const { return m_minutes; }

    // `total` with its hours part replaced by `hours` clamped to 0 … 99.
    static std::int64_t withHours(std::int64_t total, std::int64_t hours);
    // `total` with its minutes part replaced by `minutes` clamped to 0 … 59.
    static std::int64_t withMinutes(std::int64_t total, std::int64_t minutes);

Q_SIGNALS:
    // The user committed a part (Enter or leaving the field) and the total became `minutes`.
    void minutesEdited(std::int64_t minutes);
    // Enter was pressed in either part, after its value was committed.
    void submitted();

protected:
    void changeEvent(QEvent* event) override;

private:
    void commit(QLineEdit* edit);
    void showPart(QLineEdit* edit, std::int64_t value);
    void tintUnits();

    std::int64_t m_minutes = 0;
    QLineEdit* m_hours;
    QLineEdit* m_mins;
    QLabel* m_hoursUnit;
    QLabel* m_minsUnit;
};

// `field` shows the settings field `minutes` and writes the user's edits to it.
void bindDuration(DurationField* field, SettingsStore& store, std::int64_t Prefs::*minutes);

} // namespace morvane
