#pragma once

#include <QStringList>

namespace morvane {

// The composition root: builds the shared objects over the Linux adapters and starts them in
// order (snapshots first, then the engine, the updater, the tray item and the first-launch window).
// Needs a QApplication; answers the process's exit status.
int runApplication(const QStringList& arguments);

} // namespace morvane
