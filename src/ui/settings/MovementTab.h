#pragma once

#include "AppActions.h"
#include "GroupedForm.h"

class QLabel;
class QPushButton;
class QSlider;

namespace morvane {

class Clock;
class Engine;
class SettingsStore;
class Stepper;
class SymbolLabel;

// The "Movimiento" tab: how often and how the engine moves, and the input permission.
class MovementTab final : public GroupedForm {
    Q_OBJECT
public:
    // The interval slider's positions: 0 stands for `minI`, kIntervalPositions for `maxI`.
    static constexpr int kIntervalPositions = 10000;

    // `minI` ≤ `maxI`, both positive: the interval limits in seconds.
    MovementTab(SettingsStore& store, Engine& engine, const Clock& clock, AppActions actions, double minI,
                double maxI, QWidget* parent = nullptr);

    // Where `interval` lies between the limits on a logarithmic scale, 0 … 1.
    static double logPosition(double interval, double minI, double maxI);
    // The interval at logarithmic position `x` (0 … 1), snapped to the grid of its range: 5 s
    // below a minute, 15 s below ten minutes, a minute below an hour, 5 min below six hours,
    // half an hour above.
    static double intervalAt(double x, double minI, double maxI);
    // The stepper's next value from `interval` in `direction` (±1): 5 s steps below a minute,
    // 60 s steps from a minute up, kept within the limits.
    static double stepped(double interval, int direction, double minI, double maxI);

private:
    void refreshInterval();
    void refreshPermission();

    SettingsStore& m_store;
    Engine& m_engine;
    double m_minI;
    double m_maxI;
    QLabel* m_intervalText;
    Stepper* m_stepper;
    SymbolLabel* m_permissionSymbol;
    QLabel* m_permissionText;
    QPushButton* m_openSettings;
    QWidget* m_permissionHelp;
};

} // namespace morvane
