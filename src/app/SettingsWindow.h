#pragma once

#include "SettingsTabState.h"

#include <QPointer>
#include <QWidget>

#include <functional>

namespace morvane {

// The one settings window: created on the first show() and kept; closing only hides it.
class SettingsWindow final : public QObject {
    Q_OBJECT
public:
    using ContentFactory = std::function<QWidget*()>;
    SettingsWindow(SettingsTabState& tabs, ContentFactory makeContent, QObject* parent = nullptr);
    ~SettingsWindow() override;

    // Selects `tab` (also in an open window) and brings the window to the front.
    void show(SettingsTab tab);
    // The window, once created.
    QWidget* window() const { return m_window; }

private:
    SettingsTabState& m_tabs;
    ContentFactory m_makeContent;
    QPointer<QWidget> m_window;
};

} // namespace morvane
