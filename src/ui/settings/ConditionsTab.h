#pragma once

#include "GroupedForm.h"

#include <optional>

class QLabel;
class QTimer;

namespace morvane {

class Engine;
class SettingsStore;
class SymbolLabel;

// The "Condiciones" tab: what must hold for a movement, what forbids one, whether the engine
// could move right now and whether the session registers its movements.
class ConditionsTab final : public GroupedForm {
    Q_OBJECT
public:
    ConditionsTab(SettingsStore& store, Engine& engine, QWidget* parent = nullptr);

    // The CPU load as the footer shows it: whole percent truncated toward zero ("23%"), or an em
    // dash while there is no measurement.
    static QString cpuText(std::optional<double> cpuUsage);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refreshFooter();
    void refreshState();
    void refreshActivity();

    Engine& m_engine;
    FormGroup* m_required;
    SymbolLabel* m_stateSymbol;
    QLabel* m_stateText;
    SymbolLabel* m_activitySymbol;
    QLabel* m_activityText;
    QTimer* m_stateLater;
};

} // namespace morvane
