#pragma once

#include "Bundle.h"
#include "Fail.h"
#include "FileOps.h"
#include "InstallStep.h"
#include "Unpacker.h"
#include "UpdateInfo.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace morvane {

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
