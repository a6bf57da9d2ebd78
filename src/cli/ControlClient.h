#pragma once

#include "Cli.h"

namespace morvane::cli {

// Sends `request` (a command, not runApp/help/version) to the Morvane running in this session over
// the session bus, prints what it answers (--status, --diagnose) or why it failed, and answers the
// process exit code. --diagnose prints nothing when no Morvane runs: the caller then probes the
// session itself. Needs a QCoreApplication and nothing else: no display, no engine, no settings.
int runCommand(const Request& request);

// "Morvane <version>" of the application folder this executable runs from ("dev" outside one).
QString versionLine();

} // namespace morvane::cli
