// The installer's verification and unpacking of a 20 MiB update archive, beside the same work done
// with the command-line tools (sha256sum, openssl pkeyutl -verify, bsdtar -x) on the same file.
// Reported: wall time per run, and peak memory (resident set growth for ours, the largest child's
// maximum resident set for the tools) against the archive's size.

#include "FileOps.h"
#include "Installer.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

using namespace morvane;

namespace {

// The release tool, found from this file's place in the source tree.
QString releaseTool() {
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../tools/morvane-release");
}

// Runs a command; answers its exit status, and its maximum resident set in KiB through `maxRssKiB`.
int spawn(const QStringList& command, long* maxRssKiB = nullptr, const QString& stdoutPath = {}) {
    std::vector<QByteArray> args;
    for (const QString& a : command)
        args.push_back(QFile::encodeName(a));
    std::vector<char*> argv;
    for (QByteArray& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = stdoutPath.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(stdoutPath);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return -1;
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    if (maxRssKiB)
        *maxRssKiB = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long statusKiB(const char* field) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

void resetPeakRss() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

QByteArray randomBytes(qsizetype n) {
    QByteArray b(n, Qt::Uninitialized);
    QRandomGenerator rng(42 + n);
    rng.fillRange(reinterpret_cast<quint32*>(b.data()), n / 4);
    return b;
}

bool write(const QString& path, const QByteArray& bytes, bool executable = false) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    if (executable)
        f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    return true;
}

// One release of about 20 MiB, signed with a fresh key, and an installed bundle of an older build.
struct Fixture {
    QTemporaryDir dir;
    QString archive;
    QString publicPem;
    UpdateInfo info;
    RunningBundle running;
    bool ok = false;

    Fixture() {
        const QString d = dir.path() + QLatin1Char('/');
        const QString key = d + QStringLiteral("key.pem");
        publicPem = d + QStringLiteral("public.pem");
        if (spawn({QStringLiteral("openssl"), QStringLiteral("genpkey"), QStringLiteral("-algorithm"),
                   QStringLiteral("ed25519"), QStringLiteral("-out"), key}) != 0 ||
            spawn({QStringLiteral("openssl"), QStringLiteral("pkey"), QStringLiteral("-in"), key,
                   QStringLiteral("-pubout"), QStringLiteral("-out"), publicPem}) != 0 ||
            spawn({releaseTool(), QStringLiteral("--public-key"), key}, nullptr,
                  d + QStringLiteral("pub.txt")) != 0)
            return;
        QFile pubFile(d + QStringLiteral("pub.txt"));
        pubFile.open(QIODevice::ReadOnly);
        const QByteArray publicKey = pubFile.readAll().trimmed();

        // An application's mix: mostly machine code and libraries (incompressible here), plus
        // many small text resources.
        const QString app = d + QStringLiteral("src/Morvane.app/");
        const QByteArray infoJson = "{\n    \"CFBundleIdentifier\": \"app.morvane.Morvane\",\n"
                                    "    \"CFBundleShortVersionString\": \"2.0.0\",\n"
                                    "    \"CFBundleVersion\": \"2\",\n    \"MorvaneUpdatePublicKey\": \"" +
                                    publicKey + "\"\n}\n";
        bool written = write(app + QStringLiteral("Info.json"), infoJson) &&
                       write(app + QStringLiteral("bin/morvane"), randomBytes(25 << 19), true);
        for (int i = 0; i < 5; ++i)
            written =
                written && write(app + QStringLiteral("lib/libpart%1.so").arg(i), randomBytes(3 << 19), true);
        for (int i = 0; i < 400; ++i)
            written = written && write(app + QStringLiteral("share/text/%1.txt").arg(i),
                                       QByteArray("Morvane mantiene la pantalla activa. ").repeated(300 + i));
        if (!written ||
            spawn({releaseTool(), QStringLiteral("--bundle"), app, QStringLiteral("--key"), key,
                   QStringLiteral("--url"), QStringLiteral("https://updates.morvane.app/Morvane-2.0.0.zip"),
                   QStringLiteral("--out"), d + QStringLiteral("dist")}) != 0)
            return;
        archive = d + QStringLiteral("dist/Morvane-2.0.0.zip");
        QFile feed(d + QStringLiteral("dist/appcast.json"));
        feed.open(QIODevice::ReadOnly);
        const auto parsed = UpdateInfo::fromJson(feed.readAll());
        if (!parsed)
            return;
        info = *parsed;

        const QString installed = d + QStringLiteral("install/Morvane.app");
        write(installed + QStringLiteral("/Info.json"), QByteArray(infoJson).replace("\"2\"", "\"1\""));
        running = RunningBundle::read(installed);
        ok = running.build == 1;
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void Update_VerifyAndUnpack(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("fixture could not be made");
        return;
    }
    long peakKiB = 0;
    for (auto _ : state) {
        resetPeakRss();
        const long baseKiB = statusKiB("VmRSS:");
        QFile file(f.archive);
        file.open(QIODevice::ReadOnly);
        PrepareJob job{file.readAll(), f.info, f.running, {}, {}};
        file.close();
        const Prepared prepared = prepare(job);
        peakKiB = std::max(peakKiB, statusKiB("VmHWM:") - baseKiB);
        if (prepared.fail) {
            state.SkipWithError(prepared.fail->text.toUtf8().constData());
            return;
        }
        state.PauseTiming();
        prepared.workDir->remove();
        state.ResumeTiming();
    }
    const double archiveMiB = QFileInfo(f.archive).size() / 1048576.0;
    state.counters["archive_MiB"] = archiveMiB;
    state.counters["peak_MiB"] = peakKiB / 1024.0;
    state.counters["peak_x_archive"] = peakKiB / 1024.0 / archiveMiB;
}
BENCHMARK(Update_VerifyAndUnpack)
    ->Name("Update/VerifyAndUnpack")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void Update_CommandLineBaseline(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("fixture could not be made");
        return;
    }
    const QString out = f.dir.path() + QStringLiteral("/baseline");
    long peakKiB = 0;
    for (auto _ : state) {
        QDir().mkpath(out);
        long sumRss = 0, verifyRss = 0, tarRss = 0;
        const bool ok =
            spawn({QStringLiteral("sha256sum"), f.archive}, &sumRss) == 0 &&
            spawn({QStringLiteral("openssl"), QStringLiteral("pkeyutl"), QStringLiteral("-verify"),
                   QStringLiteral("-pubin"), QStringLiteral("-inkey"), f.publicPem, QStringLiteral("-rawin"),
                   QStringLiteral("-in"), f.archive, QStringLiteral("-sigfile"),
                   f.archive + QStringLiteral(".sig")},
                  &verifyRss) == 0 &&
            spawn({QStringLiteral("bsdtar"), QStringLiteral("-xf"), f.archive, QStringLiteral("-C"), out},
                  &tarRss) == 0;
        if (!ok) {
            state.SkipWithError("a command-line tool failed");
            return;
        }
        peakKiB = std::max({peakKiB, sumRss, verifyRss, tarRss});
        state.PauseTiming();
        QDir(out).removeRecursively();
        state.ResumeTiming();
    }
    const double archiveMiB = QFileInfo(f.archive).size() / 1048576.0;
    state.counters["archive_MiB"] = archiveMiB;
    state.counters["peak_MiB"] = peakKiB / 1024.0;
    state.counters["peak_x_archive"] = peakKiB / 1024.0 / archiveMiB;
}
BENCHMARK(Update_CommandLineBaseline)
    ->Name("Update/Baseline/sha256sum+openssl+bsdtar")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
