#include "Installer.h"

#include "Bundle.h"
#include "Crypto.h"
#include "Manifest.h"
#include "Versions.h"

#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace morvane {

namespace {

void observe(const PrepareJob& job, InstallStep step) {
    if (job.observe)
        job.observe(step);
}

Fail invalidSignature() {
    return {QStringLiteral("Firma de la actualización inválida")};
}

// Whether `path` inside the new Morvane.app is a regular file (with an execute bit when asked),
// reached (through symlinks, if any) without leaving the bundle.
bool reachesFile(int workDirFd, const char* path, bool executable) {
    const int bundleFd = ::openat(workDirFd, bundle::kAppName, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (bundleFd < 0)
        return false;
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const auto fd = static_cast<int>(::syscall(SYS_openat2, bundleFd, path, &how, sizeof how));
    struct stat st {};
    bool found = false;
    if (fd >= 0) {
        found = ::fstat(fd, &st) == 0;
        ::close(fd);
    } else {
        // Before Linux 5.6; the unpacker has already refused every link that leaves the bundle.
        found = errno == ENOSYS && ::fstatat(bundleFd, path, &st, 0) == 0;
    }
    ::close(bundleFd);
    return found && S_ISREG(st.st_mode) && (!executable || (st.st_mode & 0111) != 0);
}

// Whether the relaunch will start the application: bin/morvane runnable, and each module the
// running bundle has (the application, the updater's worker) there too: without them the relaunch
// would find only the client, or an application that can never update again.
bool canRelaunch(int workDirFd, const QString& runningBundle) {
    if (!reachesFile(workDirFd, bundle::kExecutable, true))
        return false;
    for (const char* module : {bundle::kAppModule, bundle::kUpdateModule}) {
        const bool runningHasModule =
            !runningBundle.isEmpty() &&
            QFileInfo(runningBundle + QLatin1Char('/') + QLatin1String(module)).isFile();
        if (runningHasModule && !reachesFile(workDirFd, module, false))
            return false;
    }
    return true;
}

} // namespace

static std::optional<Fail> authenticate(const PrepareJob& job) {
    // A feed digest that is not 64 hexadecimal digits can match nothing.
    const QByteArray wanted = job.info.sha256.toLatin1().toLower();
    if (!crypto::strictHex(wanted, 32) || crypto::sha256Hex(job.archive) != wanted)
        return Fail{QStringLiteral("El archivo descargado no coincide")};

    const auto key =
        job.running.publicKey ? crypto::strictBase64(job.running.publicKey->toLatin1(), 32) : std::nullopt;
    if (!key)
        return invalidSignature();
    const auto signature = crypto::strictBase64(job.info.signature.toLatin1(), 64);
    if (!signature || !crypto::ed25519Verify(*key, *signature, job.archive))
        return invalidSignature();
    return std::nullopt;
}

static std::optional<Fail> unpackAndCheck(const PrepareJob& job, const fileops::WorkDir& workDir) {
    // Unpacked straight from memory; update.zip stays beside it as the record of what came in.
    if (const auto error = fileops::writeNewFile(workDir.fd(), "update.zip", job.archive))
        return Fail{*error};
    observe(job, InstallStep::archiveWritten);

    const UnpackError unpacked =
        unpackZip(job.archive, workDir.fd(), job.limits, [&job] { observe(job, InstallStep::unpacking); });
    if (unpacked != UnpackError::none)
        return Fail{QStringLiteral("Falló libarchive")};
    observe(job, InstallStep::unpacked);

    // Directly inside, and a real folder: a symlink named like the app does not count.
    struct stat st {};
    if (::fstatat(workDir.fd(), bundle::kAppName, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
        return Fail{QStringLiteral("El paquete no contiene la app")};
    const QString newBundle = workDir.path() + QLatin1Char('/') + QLatin1String(bundle::kAppName);

    if (auto fail = manifest::verifySameSigner(newBundle, job.running.publicKey))
        return fail;
    observe(job, InstallStep::signerVerified);

    const auto info = BundleInfo::read(newBundle);
    const auto build = info && info->build ? versions::readInteger(*info->build) : std::nullopt;
    if (!build || *build != job.info.build || !(job.running.build < *build) ||
        info->identifier != job.running.identifier || !canRelaunch(workDir.fd(), job.running.path))
        return Fail{QStringLiteral("La versión descargada no es válida")};
    return std::nullopt;
}

Prepared prepare(const PrepareJob& job) {
    Prepared result;
    if ((result.fail = authenticate(job)))
        return result;
    observe(job, InstallStep::authenticated);

    // Beside the installed bundle, on the same file system, so that installing is one exchange
    // of two names.
    if (job.running.path.isEmpty()) {
        result.fail = Fail{fileops::errorText(ENOENT)};
        return result;
    }
    QString error;
    auto workDir = fileops::WorkDir::create(QFileInfo(job.running.path).absolutePath(), &error);
    if (!workDir) {
        result.fail = Fail{error};
        return result;
    }
    observe(job, InstallStep::workDirCreated);

    if ((result.fail = unpackAndCheck(job, *workDir))) {
        // Nothing of a refused archive stays beside the application.
        workDir->remove();
        return result;
    }
    result.newBundle = workDir->path() + QLatin1Char('/') + QLatin1String(bundle::kAppName);
    result.workDir = std::move(workDir);
    return result;
}

} // namespace morvane
