// The updater's worker as a module: bin/morvane loads it only when started as the worker, so that
// the network, TLS, archive and crypto libraries reach no other process.
#include "UpdateWorker.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT int morvane_update_worker_main(int argc, char** argv) {
    return morvane::runUpdateWorker(argc, argv);
}
