#pragma once

#include <QString>

#include <optional>

namespace morvane {

// The application folder: Morvane.app/ with Info.json, the executable bin/morvane and the
// publisher's signed manifest of every other file.
namespace bundle {
inline constexpr char kAppName[] = "Morvane.app";
inline constexpr char kInfo[] = "Info.json";
inline constexpr char kExecutable[] = "bin/morvane";
// The application itself, which bin/morvane loads to run it (bin/morvane alone is the command-line
// client).
inline constexpr char kAppModule[] = "lib/libmorvane_app.so";
// The updater's network, archive and signature work, which bin/morvane loads only in the short-lived
// worker process the application starts for a check or an installation.
inline constexpr char kUpdateModule[] = "lib/libmorvane_update.so";
inline constexpr char kManifest[] = "Signature/Manifest";
inline constexpr char kManifestSignature[] = "Signature/Manifest.sig";

// Info.json files larger than this are not read.
inline constexpr qint64 kMaxInfoBytes = 64 * 1024;

// The folder this process runs from: the parent of the executable's directory when that holds
// Info.json; empty for a build that does not run from a bundle.
QString locateRunning();
} // namespace bundle

// The Info dictionary of a bundle. A value is present only when its key holds JSON text.
struct BundleInfo {
    std::optional<QString> identifier; // "CFBundleIdentifier"
    std::optional<QString> version;    // "CFBundleShortVersionString"
    std::optional<QString> build;      // "CFBundleVersion"
    std::optional<QString> publicKey;  // "MorvaneUpdatePublicKey"

    bool operator==(const BundleInfo&) const = default;

    // Reads `<bundlePath>/Info.json`: nothing unless it is a regular file (not a symlink) of sane
    // size holding a JSON object.
    static std::optional<BundleInfo> read(const QString& bundlePath);
};

// What the updater knows of the bundle this process runs from, read once at start.
struct RunningBundle {
    QString path; // empty: not running from a bundle
    QString version = QStringLiteral("dev");
    qint64 build = 0;
    std::optional<QString> identifier;
    std::optional<QString> publicKey;

    bool operator==(const RunningBundle&) const = default;

    // Reads `<path>/Info.json`; a missing or unreadable one gives the fallbacks.
    static RunningBundle read(const QString& path);
};

} // namespace morvane
