// Morvane: keeps the computer awake and its user counted as active, from the panel.
#include "Cli.h"
#include "ControlClient.h"
#include "WorkerProtocol.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace {

// Commands for the running instance: a core application and the session bus, nothing else (no
// display, no engine, no settings), so that key bindings and scripts get their answer at once.
int runClient(int argc, char** argv, const morvane::cli::Parsed& parsed) {
    using morvane::cli::Action;
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "morvane: %s\n", parsed.error.toLocal8Bit().constData());
        if (parsed.showUsage)
            std::fputs(morvane::cli::usage().toLocal8Bit().constData(), stderr);
        return morvane::cli::kExitUsage;
    }
    if (parsed.request.action == Action::help) {
        std::fputs(morvane::cli::usage().toLocal8Bit().constData(), stdout);
        return morvane::cli::kExitOk;
    }
    QCoreApplication app(argc, argv);
    if (parsed.request.action == Action::version) {
        std::printf("%s\n", morvane::cli::versionLine().toLocal8Bit().constData());
        return morvane::cli::kExitOk;
    }
    return morvane::cli::runCommand(parsed.request);
}

// The application lives in lib/libmorvane_app.so beside bin/ in the application folder, the
// updater's worker in lib/libmorvane_update.so (found through /proc/self/exe, so that links such as
// ~/.local/bin/morvane lead to the right folder).
int runModule(const char* name, const char* entryName, int argc, char** argv) {
    std::string exe(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    exe.resize(n > 0 ? std::size_t(n) : 0);
    const std::string folder = exe.substr(0, exe.find_last_of('/') + 1);
    const std::string module = folder + "../lib/" + name;
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "morvane: no se pudo cargar la aplicación (%s)\n", dlerror());
        return 1;
    }
    using Entry = int (*)(int, char**);
    const auto entry = reinterpret_cast<Entry>(dlsym(handle, entryName));
    if (!entry) {
        std::fprintf(stderr, "morvane: %s no es la aplicación (%s)\n", module.c_str(), dlerror());
        return 1;
    }
    return entry(argc, argv);
}

// Set for the process that probes the session itself when --diagnose found no Morvane running.
constexpr char kDiagnoseHere[] = "MORVANE_DIAGNOSE_HERE";

} // namespace

int main(int argc, char** argv) {
    // Started by the application for an update check or installation; not a command of its own.
    if (argc == 2 && std::strcmp(argv[1], morvane::kWorkerFlag) == 0)
        return runModule("libmorvane_update.so", "morvane_update_worker_main", argc, argv);

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const morvane::cli::Parsed parsed = morvane::cli::parse(arguments);
    const bool diagnose = parsed.error.isEmpty() && parsed.request.action == morvane::cli::Action::diagnose;
    if (diagnose && std::getenv(kDiagnoseHere)) {
        unsetenv(kDiagnoseHere);
        return runModule("libmorvane_app.so", "morvane_app_main", argc, argv);
    }
    if (!parsed.error.isEmpty() || parsed.request.action != morvane::cli::Action::runApp) {
        const int code = runClient(argc, argv, parsed);
        // Without a Morvane to ask, the application module probes the session: in a new process
        // image, since this one has had a core application and a bus connection already.
        if (diagnose && code == morvane::cli::kExitNotRunning) {
            std::fflush(nullptr);
            setenv(kDiagnoseHere, "1", 1);
            execv("/proc/self/exe", argv);
            std::fprintf(stderr, "morvane: no se pudo probar la sesión (%s)\n", std::strerror(errno));
            std::_Exit(1);
        }
        // Qt 6.4: while static destructors run, QtDBus's connection thread may still dispatch a
        // bus message and warn about metatypes already gone. The client holds nothing that needs
        // tearing down, so it leaves without them.
        std::fflush(nullptr);
        std::_Exit(code);
    }

    return runModule("libmorvane_app.so", "morvane_app_main", argc, argv);
}
