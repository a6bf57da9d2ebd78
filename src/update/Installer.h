#pragma once

#include "Fail.h"
#include "FileOps.h"
#include "Unpacker.h"
#include "UpdateInfo.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace morvane {

// The points an installation passes, in order. Reported to an observer (diagnostics, and the
// tests that interrupt an installation at each of them).
enum class InstallStep {
    downloaded,    // the archive is in memory
    authenticated, // digest and signature hold
    workDirCreated,
    archiveWritten, // update.zip
    unpacking,      // the first file is out
    unpacked,
    signerVerified,
    flushed,     // the new bundle is on disk
    swapped,     // the new bundle is installed, the old one is in the working directory
    removingOld, // the first entry of the old bundle is gone
    cleanedUp,   // the working directory is gone
};

// The step's name in lowercase camel case ("workDirCreated").
QString stepName(InstallStep step);

using StepObserver = std::function<void(InstallStep)>;

// What the installer knows of the bundle this process runs from, read once at start.
struct RunningBundle {
    QString path; // empty: not running from a bundle
    QString version = QStringLiteral("dev");
    qint64 build = 0;
    std::optional<QString> identifier;
    std::optional<QString> publicKey;

    // Reads `<path>/Info.json`; a missing or unreadable one gives the fallbacks.
    static RunningBundle read(const QString& path);
};

// Everything the verification and unpacking need, copied into the worker.
struct PrepareJob {
    QByteArray archive;
    UpdateInfo info;
    RunningBundle running;
    UnpackLimits limits;
    StepObserver observe;
};

// A verified new bundle waiting in its working directory, or the failure that stopped it.
struct Prepared {
    std::optional<Fail> fail;
    std::shared_ptr<fileops::WorkDir> workDir;
    QString newBundle;
};

// Digest, signature, working directory beside the installed bundle, update.zip, unpacking, the
// bundle's presence, the same-signer check, and the build, identity and runnable-executable checks,
// in that order; the first failure stops it and removes the working directory. Blocking: run it off
// the main thread.
Prepared prepare(const PrepareJob& job);

} // namespace morvane
