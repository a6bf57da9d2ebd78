#include "InstallStep.h"

namespace morvane {

QString stepName(InstallStep step) {
    switch (step) {
    case InstallStep::downloaded:
        return QStringLiteral("downloaded");
    case InstallStep::authenticated:
        return QStringLiteral("authenticated");
    case InstallStep::workDirCreated:
        return QStringLiteral("workDirCreated");
    case InstallStep::archiveWritten:
        return QStringLiteral("archiveWritten");
    case InstallStep::unpacking:
        return QStringLiteral("unpacking");
    case InstallStep::unpacked:
        return QStringLiteral("unpacked");
    case InstallStep::signerVerified:
        return QStringLiteral("signerVerified");
    case InstallStep::flushed:
        return QStringLiteral("flushed");
    case InstallStep::swapped:
        return QStringLiteral("swapped");
    case InstallStep::removingOld:
        return QStringLiteral("removingOld");
    case InstallStep::cleanedUp:
        return QStringLiteral("cleanedUp");
    }
    return {};
}

std::optional<InstallStep> stepNamed(const QString& name) {
    for (int i = int(InstallStep::downloaded); i <= int(InstallStep::cleanedUp); ++i) {
        if (stepName(InstallStep(i)) == name)
            return InstallStep(i);
    }
    return std::nullopt;
}

} // namespace morvane
