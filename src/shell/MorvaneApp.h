#pragma once

#include <QStringList>

class QCoreApplication;

namespace morvane {

// Installs Qt's own texts (the menus, button boxes and dialogs Qt draws itself) in the interface's
// language, Spanish, whatever the system's; answers false, changing nothing, where they are not
// installed (Debian's qt6-translations-l10n).
bool loadQtTranslations(QCoreApplication& app);

// The composition root: builds the shared objects over the Linux adapters and starts them in
// order (snapshots first, then the engine, the updater, the tray item and the first-launch window).
// Needs a QApplication; answers the process's exit status.
int runApplication(const QStringList& arguments);

} // namespace morvane
