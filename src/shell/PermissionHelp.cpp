#include "PermissionHelp.h"

#include "Ports.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace morvane::PermissionHelp {

QString pagePath(const QString& bundlePath) {
    const QString relative = QStringLiteral("share/morvane/permiso.html");
    if (!bundlePath.isEmpty())
        return QDir(bundlePath).filePath(relative);
    // bin/morvane inside the folder: the page is one level up.
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/..")).filePath(relative);
}

bool open(AccessibilityTrust& trust, const QString& bundlePath) {
    trust.trusted();
    const QString page = pagePath(bundlePath);
    if (!QFileInfo(page).isFile())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath()));
}

} // namespace morvane::PermissionHelp
