#pragma once

#include "AppActions.h"

#include <QTabWidget>

namespace morvane {

class Clock;
class Engine;
class LoginModel;
class SettingsStore;
class SettingsTabState;
class Updater;

// The settings window's content: the four tabs, fixed at 560 × 520, with the selected tab bound
// both ways to `tabs`.
class SettingsView final : public QTabWidget {
    Q_OBJECT
public:
    static constexpr QSize kSize{560, 520};
    // The interval limits of the "Movimiento" tab, in seconds.
    static constexpr double kMinInterval = 5;
    static constexpr double kMaxInterval = 86400;

    SettingsView(SettingsTabState& tabs, SettingsStore& store, Engine& engine, Updater& updater,
                 LoginModel& login, const Clock& clock, AppActions actions, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refreshIcons();

    SettingsTabState& m_tabs;
};

} // namespace morvane
