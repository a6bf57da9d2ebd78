#pragma once

#include <QString>

namespace morvane {

class AccessibilityTrust;

// The page that explains how Morvane gets permission to post input on this desktop, shipped in
// the application folder (share/morvane/permiso.html).
namespace PermissionHelp {

// The page's path for the bundle at `bundlePath`, or beside the running executable.
QString pagePath(const QString& bundlePath);

// Asks `trust` once more (the engine picks the answer up on its next check), then opens the page
// with the desktop's handler. False when the page is missing or nothing could open it.
bool open(AccessibilityTrust& trust, const QString& bundlePath);

} // namespace PermissionHelp
} // namespace morvane
