#pragma once

#include "GroupedForm.h"

class QLabel;
class QPushButton;

namespace morvane {

class SettingsStore;
class Updater;

// The "Actualizaciones" group of the General tab: the two update settings, the updater's message
// and its two buttons.
class UpdatesSection final : public FormGroup {
    Q_OBJECT
public:
    UpdatesSection(SettingsStore& store, Updater& updater, QWidget* parent = nullptr);

private:
    void refresh();

    Updater& m_updater;
    QLabel* m_message;
    QPushButton* m_install;
    QPushButton* m_check;
};

} // namespace morvane
