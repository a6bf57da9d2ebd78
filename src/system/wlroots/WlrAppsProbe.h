#pragma once

#include "Ports.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace morvane {

// sway: the frontmost application is the focused window of sway's tree, asked over its IPC socket
// ($SWAYSOCK): its Wayland app_id, or its X11 class under XWayland. Running applications come
// from `running` (whatever the session's other probe offers). One kept connection, reopened when
// sway restarts; a reply slower than a quarter second counts as no answer.
class WlrAppsProbe final : public AppsProbe {
public:
    WlrAppsProbe(QString swaySocket, std::unique_ptr<AppsProbe> running);
    ~WlrAppsProbe() override;
    std::optional<QString> runningApp(const QString& list) override;
    std::optional<QString> frontmostAppName() override;

    // The focused window's name in a get_tree reply; nothing when none is focused or it has none.
    static std::optional<QString> focusedName(const QByteArray& tree);

private:
    std::optional<QByteArray> getTree();
    void disconnect();

    QString m_path;
    std::unique_ptr<AppsProbe> m_running;
    int m_fd = -1; // the kept connection, -1 while closed
};

} // namespace morvane
