#pragma once

#include <QString>

#include <functional>
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
// The step of that name; nothing for any other text.
std::optional<InstallStep> stepNamed(const QString& name);

using StepObserver = std::function<void(InstallStep)>;

} // namespace morvane
