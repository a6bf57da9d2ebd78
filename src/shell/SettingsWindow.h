#pragma once

#include "SettingsTabState.h"

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

namespace morvane {

// The one settings window: created on show() and destroyed, widgets and all, when the user closes
// it (rebuilding it takes a few milliseconds; keeping it would hold its memory for the rest of the
// session). It comes back where it was, on the tab it showed.
class SettingsWindow final : public QObject {
    Q_OBJECT
public:
    using ContentFactory = std::function<QWidget*()>;
    SettingsWindow(SettingsTabState& tabs, ContentFactory makeContent, QObject* parent = nullptr);
    ~SettingsWindow() override;

    // Selects `tab` (also in an open window) and brings the window to the front.
    void show(SettingsTab tab);
    // The window while it exists.
    QWidget* window() const { return m_window; }

Q_SIGNALS:
    // The window is about to be created, or was closed.
    void openChanged(bool open);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SettingsTabState& m_tabs;
    ContentFactory m_makeContent;
    QPointer<QWidget> m_window;
    std::optional<QPoint> m_position; // where the user left the last window
};

} // namespace morvane
