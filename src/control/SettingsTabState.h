#pragma once

#include <QObject>

#include <array>

namespace morvane {

// The tabs of the settings window, in display order.
enum class SettingsTab { general, movement, conditions, schedules };
inline constexpr std::array<SettingsTab, 4> kAllSettingsTabs{SettingsTab::general, SettingsTab::movement,
                                                             SettingsTab::conditions, SettingsTab::schedules};

// The selected settings tab: written by SettingsWindow::show and by the tab bar, read by the view.
class SettingsTabState final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    static SettingsTabState& shared();

    SettingsTab tab() const { return m_tab; }
    // Announces only a real change.
    void setTab(SettingsTab tab) {
        if (tab == m_tab)
            return;
        m_tab = tab;
        Q_EMIT changed();
    }

Q_SIGNALS:
    void changed();

private:
    SettingsTab m_tab = SettingsTab::general;
};

} // namespace morvane
