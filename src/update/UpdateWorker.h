#pragma once

namespace morvane {

// The updater's worker process (see WorkerProtocol.h): reads one request on standard input, runs
// it, reports on standard output, and answers the exit status. It ends at once when the
// application that started it is gone. Creates its own QCoreApplication.
int runUpdateWorker(int argc, char** argv);

} // namespace morvane
