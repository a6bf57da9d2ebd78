// Download, verification and install against a local HTTPS server, in a temporary installation
// released with the project's own tools: the success path, every row of the failure table and the
// hostile archives, each failure leaving the installed application exactly as it was.

#include "Bundle.h"
#include "Manifest.h"
#include "UpdateTestSupport.h"
#include "Updater.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <unistd.h>

using namespace morvane;
using namespace morvane::test;

namespace {

const QString kInvalidSignature = QStringLiteral("Firma de la actualización inválida");
const QString kInvalidVersion = QStringLiteral("La versión descargada no es válida");
const QString kUnpackFailed = QStringLiteral("Falló libarchive");

// Kills this process's updater worker (found by its command line) and answers its pid.
qint64 killWorker() {
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1).toLongLong() == ::getpid() &&
            readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains("--update-worker")) {
            ::kill(pid.toInt(), SIGKILL);
            return pid.toLongLong();
        }
    }
    return 0;
}

class Install : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(inst.ok);
        server = std::make_unique<HttpsServer>(inst.serverRoot);
        ASSERT_TRUE(server->ok());
        urlBase = server->url(QString()).toString();
        notifier.store = &store;
        before = manifest::scan(inst.bundle);
        ASSERT_TRUE(before);
    }

    std::unique_ptr<Updater> updater(const std::function<void(UpdaterOptions&)>& tweak = {}) {
        UpdaterOptions options;
        options.feedUrl = server->url(QStringLiteral("software/morvane/appcast.json"));
        options.caCertificates = server->caPem();
        options.bundlePath = inst.bundle;
        options.systemRelease = QStringLiteral("6.1.0-18-amd64");
        options.unpackLimits.maxTotalBytes = 48 << 20;
        options.observe = [this](InstallStep s) { steps << stepName(s); };
        if (tweak)
            tweak(options);
        return std::make_unique<Updater>(
            store, notifier, [this](const QString& exe) { relaunched << exe; }, options);
    }

    // Installs `info` and waits for the outcome: a failure line, or a relaunch.
    bool installed(Updater& u, const UpdateInfo& info) {
        u.install(info);
        return waitUntil([&] { return !u.busy() || !relaunched.isEmpty(); }, 60000);
    }

    std::optional<Release> publish(qint64 build, const QString& version = QStringLiteral("1.5.0"),
                                   const QStringList& extra = {}) {
        BundleRecipe recipe;
        recipe.version = version;
        recipe.build = QString::number(build);
        recipe.publicKey = inst.key.publicBase64;
        return inst.publish(recipe, QStringLiteral("Morvane-%1.zip").arg(version), urlBase, extra);
    }

    // The installed application is the one that was there before, and nothing lies beside it.
    void expectUntouched(const std::string& what) {
        EXPECT_EQ(manifest::scan(inst.bundle), before) << what;
        EXPECT_EQ(entries(inst.installDir), QStringList{QStringLiteral("Morvane.app")}) << what;
        EXPECT_EQ(entries(inst.root.path()), (QStringList{"install", "scratch", "www"})) << what;
        EXPECT_TRUE(relaunched.isEmpty()) << what;
    }

    // Serves `archive` under a new name and describes it, signed by the publisher.
    UpdateInfo serveSigned(const QString& archive, qint64 build, const QString& name) {
        const QString served = inst.serverRoot + QLatin1Char('/') + name;
        QFile::remove(served);
        EXPECT_TRUE(QFile::copy(archive, served));
        return feedFor(served, inst.key, urlBase + name, build);
    }

    Installation inst;
    std::unique_ptr<HttpsServer> server;
    QString urlBase;
    MemoryDefaults defaults;
    SettingsStore store{defaults};
    FakeNotifier notifier;
    QStringList relaunched;
    QStringList steps;
    std::optional<std::vector<ManifestEntry>> before;
};

TEST_F(Install, InstallsANewerBuildInPlaceAndRelaunchesIt) {
    const auto rel =
        publish(58, QStringLiteral("1.5.0"), {QStringLiteral("--notes"), QStringLiteral("Arreglos varios")});
    ASSERT_TRUE(rel);
    ASSERT_TRUE(
        writeFile(inst.serverRoot + QStringLiteral("/software/morvane/appcast.json"), rel->feedJson) ||
        (QDir().mkpath(inst.serverRoot + QStringLiteral("/software/morvane")) &&
         writeFile(inst.serverRoot + QStringLiteral("/software/morvane/appcast.json"), rel->feedJson)));
    auto u = updater();
    u->check(false); // automatic, and installing automatically is the default
    ASSERT_TRUE(waitUntil(
        [&] { return !relaunched.isEmpty() || (!u->busy() && u->message() != "Buscando…"); }, 60000))
        << u->message().toStdString();
    ASSERT_EQ(relaunched, QStringList{inst.bundle + QStringLiteral("/bin/morvane")})
        << u->message().toStdString();

    EXPECT_TRUE(u->busy()); // until the process ends
    EXPECT_EQ(u->message(), QStringLiteral("Instalando…"));
    EXPECT_EQ(BundleInfo::read(inst.bundle)->build, QStringLiteral("58"));
    EXPECT_EQ(manifest::verifySameSigner(inst.bundle, inst.key.publicBase64), std::nullopt);
    EXPECT_EQ(entries(inst.installDir), QStringList{QStringLiteral("Morvane.app")});
    ASSERT_EQ(notifier.sent.size(), 1u);
    EXPECT_EQ(notifier.sent[0], (Note{"Morvane actualizado a 1.5.0", "Arreglos varios"}));
    EXPECT_EQ(steps,
              (QStringList{"downloaded", "authenticated", "workDirCreated", "archiveWritten", "unpacking",
                           "unpacked", "signerVerified", "flushed", "swapped", "removingOld", "cleanedUp"}));
}

TEST_F(Install, AcceptsAnUppercaseDigestAndSaysSoWithoutNotes) {
    const auto rel = publish(58);
    ASSERT_TRUE(rel);
    UpdateInfo info = rel->info;
    info.sha256 = info.sha256.toUpper();
    auto u = updater();
    ASSERT_TRUE(installed(*u, info));
    ASSERT_EQ(relaunched.size(), 1) << u->message().toStdString();
    ASSERT_EQ(notifier.sent.size(), 1u);
    EXPECT_EQ(notifier.sent[0], (Note{"Morvane actualizado a 1.5.0", "Se reinició con la versión nueva."}));
    EXPECT_FALSE(u->available()); // install() leaves it alone
}

TEST_F(Install, EachFailureHasItsLineAndLeavesTheApplicationAsItWas) {
    const auto genuine = publish(58);
    ASSERT_TRUE(genuine);
    const QString scratch = inst.scratch + QLatin1Char('/');
    const QString runningInfo = inst.bundle + QStringLiteral("/Info.json");
    const QByteArray originalInfo = readFile(runningInfo);
    const auto withRunningKey = [&](const QString& key) {
        return [&, key] {
            QByteArray info = originalInfo;
            writeFile(runningInfo, info.replace(inst.key.publicBase64.toLatin1(), key.toLatin1()));
        };
    };
    const SigningKey other = makeKey(inst.scratch, QStringLiteral("other"));

    // Archives made for single rows.
    writeFile(scratch + QStringLiteral("garbage.bin"), QByteArray(4096, 'g'));
    ASSERT_TRUE(
        craftZip(QStringLiteral("renamed"), genuine->archive, scratch + QStringLiteral("renamed.zip")));
    ASSERT_TRUE(craftZip(QStringLiteral("no-manifest"), genuine->archive,
                         scratch + QStringLiteral("no-manifest.zip")));
    ASSERT_TRUE(
        craftZip(QStringLiteral("tampered"), genuine->archive, scratch + QStringLiteral("tampered.zip")));
    BundleRecipe otherRecipe;
    otherRecipe.build = QStringLiteral("58");
    otherRecipe.publicKey = other.publicBase64;
    const QString otherBundle = scratch + QStringLiteral("other-src/Morvane.app");
    ASSERT_TRUE(layOutBundle(otherBundle, otherRecipe));
    const auto otherRel =
        release(otherBundle, other, urlBase + "x.zip", scratch + QStringLiteral("other-out"));
    ASSERT_TRUE(otherRel);
    const auto build59 = publish(59, QStringLiteral("1.6.0"));
    const auto build57 = publish(57, QStringLiteral("1.4.2-again"));
    BundleRecipe strange;
    strange.build = QStringLiteral("58");
    strange.identifier = QStringLiteral("app.other.Thing");
    strange.publicKey = inst.key.publicBase64;
    const auto otherIdentity = inst.publish(strange, QStringLiteral("identity.zip"), urlBase);
    ASSERT_TRUE(build59 && build57 && otherIdentity);

    struct Row {
        const char* name;
        std::function<UpdateInfo()> info;
        QString message;
        std::function<void()> before = nullptr;
        std::function<void(UpdaterOptions&)> tweak = nullptr;
    };
    const UpdateInfo g = genuine->info;
    const auto with = [g](const std::function<void(UpdateInfo&)>& edit) {
        return [g, edit] {
            UpdateInfo i = g;
            edit(i);
            return i;
        };
    };
    const std::vector<Row> rows{
        {"connection dropped", with([&](UpdateInfo& i) { i.url = urlBase + "drop"; }),
         "No se pudo descargar"},
        {"endless body", with([&](UpdateInfo& i) { i.url = urlBase + "endless"; }), "No se pudo descargar",
         nullptr, [](UpdaterOptions& o) { o.maxArchiveBytes = 1 << 20; }},
        {"plain http", with([&](UpdateInfo& i) { i.url.replace("https:", "http:"); }),
         "No se pudo descargar"},
        {"server trickling past the deadline", with([&](UpdateInfo& i) { i.url = urlBase + "trickle"; }),
         "No se pudo descargar", nullptr, [](UpdaterOptions& o) { o.deadlines.downloadMs = 500; }},
        {"digest of something else", with([](UpdateInfo& i) { i.sha256 = QString(64, 'a'); }),
         "El archivo descargado no coincide"},
        {"error page served instead",
         with([&](UpdateInfo& i) { i.url = urlBase + "status/404/missing.zip"; }),
         "El archivo descargado no coincide"},
        {"digest one digit short", with([](UpdateInfo& i) { i.sha256.chop(1); }),
         "El archivo descargado no coincide"},
        {"running bundle without a key", with([](UpdateInfo&) {}), kInvalidSignature,
         [&] {
             QByteArray info = originalInfo;
             info.replace("\"MorvaneUpdatePublicKey\"", "\"SomethingElse\"");
             writeFile(runningInfo, info);
         }},
        {"running key with a trailing newline", with([](UpdateInfo&) {}), kInvalidSignature,
         withRunningKey(inst.key.publicBase64 + "\\n")},
        {"running key not Base64", with([](UpdateInfo&) {}), kInvalidSignature, withRunningKey("***")},
        {"running key of 31 bytes", with([](UpdateInfo&) {}), kInvalidSignature,
         withRunningKey(QString::fromLatin1(QByteArray(31, 'k').toBase64()))},
        {"signature not Base64", with([](UpdateInfo& i) { i.signature = "not base64!"; }), kInvalidSignature},
        {"signature of 63 bytes", with([](UpdateInfo& i) { i.signature = QByteArray(63, 's').toBase64(); }),
         kInvalidSignature},
        {"signature of another file",
         with([&](UpdateInfo& i) { i.signature = signFile(inst.key, scratch + "garbage.bin"); }),
         kInvalidSignature},
        {"signed by another key",
         with([&](UpdateInfo& i) { i.signature = signFile(other, genuine->archive); }), kInvalidSignature},
        {"not an archive", [&] { return serveSigned(scratch + "garbage.bin", 58, "garbage.zip"); },
         kUnpackFailed},
        {"no Morvane.app", [&] { return serveSigned(scratch + "renamed.zip", 58, "renamed.zip"); },
         "El paquete no contiene la app"},
        {"manifest missing", [&] { return serveSigned(scratch + "no-manifest.zip", 58, "no-manifest.zip"); },
         "No se pudo verificar la firma"},
        {"bundle of another signer", [&] { return serveSigned(otherRel->archive, 58, "other.zip"); },
         "La actualización no está firmada por Brelix"},
        {"file changed after signing",
         [&] { return serveSigned(scratch + "tampered.zip", 58, "tampered.zip"); },
         "La actualización no está firmada por Brelix"},
        {"bundle build differs from the feed", with([&](UpdateInfo& i) { i = build59->info, i.build = 58; }),
         kInvalidVersion},
        {"same build as the running one", [&] { return build57->info; }, kInvalidVersion},
        {"other bundle identifier", [&] { return otherIdentity->info; }, kInvalidVersion},
    };
    for (const Row& row : rows) {
        steps.clear();
        if (row.before)
            row.before();
        auto u = updater(row.tweak);
        writeFile(runningInfo, originalInfo);
        const UpdateInfo info = row.info();
        ASSERT_TRUE(installed(*u, info)) << row.name;
        EXPECT_EQ(u->message(), row.message) << row.name;
        EXPECT_FALSE(u->busy()) << row.name;
        expectUntouched(row.name);
        EXPECT_TRUE(notifier.sent.empty()) << row.name;
    }
}

TEST_F(Install, RefusesASignedBundleWithoutARunnableExecutable) {
    const auto genuine = publish(58);
    ASSERT_TRUE(genuine);
    // The release tool refuses such bundles, so each is signed here by hand: bin/morvane changed,
    // and its manifest line with it (HASH: the file's own digest; nothing: no line).
    const QByteArray line = " x bin/morvane\n";
    const QByteArray dotHash = QCryptographicHash::hash(".", QCryptographicHash::Sha256).toHex();
    const std::vector<std::tuple<std::string, std::function<void(const QString&)>, QByteArray>> cases{
        {"missing", [](const QString& exe) { QFile::remove(exe); }, ""},
        {"not executable", [](const QString& exe) { QFile::setPermissions(exe, QFile::ReadOwner); },
         "HASH f bin/morvane\n"},
        {"a link to a folder", [](const QString& exe) { QFile::remove(exe), QFile::link(".", exe); },
         dotHash + " l bin/morvane\n"},
    };
    for (const auto& [name, change, newLine] : cases) {
        const QString dir =
            inst.scratch + QStringLiteral("/broken-%1").arg(qHash(QString::fromStdString(name)));
        const QString app = dir + QStringLiteral("/Morvane.app");
        const QString manifestFile = app + QStringLiteral("/Signature/Manifest");
        ASSERT_TRUE(QDir().mkpath(dir) && runProcess("bsdtar", {"-xf", genuine->archive, "-C", dir}).ok());
        change(app + QStringLiteral("/bin/morvane"));
        QByteArray manifest = readFile(manifestFile);
        const qsizetype at = manifest.indexOf(line) - 64;
        ASSERT_GE(at, 0);
        manifest.replace(at, 64 + line.size(), QByteArray(newLine).replace("HASH", manifest.mid(at, 64)));
        ASSERT_TRUE(writeFile(manifestFile, manifest));
        ASSERT_TRUE(writeFile(manifestFile + ".sig", signFile(inst.key, manifestFile).toLatin1() + '\n'));
        const QString archive = dir + QStringLiteral(".zip");
        ASSERT_TRUE(runProcess("bsdtar", {"--format", "zip", "-cf", archive, "-C", dir, "Morvane.app"}).ok());

        auto u = updater();
        ASSERT_TRUE(installed(*u, serveSigned(archive, 58, QFileInfo(archive).fileName()))) << name;
        EXPECT_EQ(u->message(), kInvalidVersion) << name;
        expectUntouched(name);
    }
}

// The running application is a client plus its module; a signed release without the module would
// install and then start nothing but the client.
TEST_F(Install, RefusesABundleWithoutTheApplicationModuleTheRunningOneHas) {
    ASSERT_TRUE(QDir().mkpath(inst.bundle + QStringLiteral("/lib")));
    ASSERT_TRUE(writeFile(inst.bundle + QStringLiteral("/lib/libmorvane_app.so"), "module"));
    before = manifest::scan(inst.bundle);
    const auto rel = publish(58);
    ASSERT_TRUE(rel);
    auto u = updater();
    ASSERT_TRUE(installed(*u, rel->info));
    EXPECT_EQ(u->message(), kInvalidVersion);
    expectUntouched("release without the module");
}

TEST_F(Install, ReportsTheSystemErrorWhenTheWorkingDirectoryCannotBeMade) {
    const auto rel = publish(58);
    ASSERT_TRUE(rel);
    auto u = updater();
    // The application was deleted, folder and all, while it ran.
    ASSERT_TRUE(QDir(inst.installDir).removeRecursively());
    ASSERT_TRUE(installed(*u, rel->info));
    EXPECT_EQ(u->message(), QStringLiteral("No such file or directory"));
    EXPECT_FALSE(QFileInfo::exists(inst.installDir));
}

TEST_F(Install, ReportsAFailedReplacementAndCleansUp) {
    const auto rel = publish(58);
    ASSERT_TRUE(rel);
    auto u = updater();
    // The bundle's folder stays, the bundle itself is gone: nothing to exchange with.
    ASSERT_TRUE(QDir(inst.bundle).removeRecursively());
    ASSERT_TRUE(installed(*u, rel->info));
    EXPECT_EQ(u->message(), QStringLiteral("No se pudo reemplazar la app: No such file or directory"));
    EXPECT_TRUE(entries(inst.installDir).isEmpty());
    EXPECT_TRUE(relaunched.isEmpty());
}

TEST_F(Install, IgnoresBadUrlsAndRepeatedRequests) {
    const auto rel = publish(58);
    ASSERT_TRUE(rel);
    auto u = updater();
    UpdateInfo bad = rel->info;
    for (const QString& url :
         {QString(), QStringLiteral("http://[broken"), QStringLiteral("relative/path.zip")}) {
        bad.url = url;
        u->install(bad);
        EXPECT_FALSE(u->busy()) << url.toStdString();
        EXPECT_TRUE(u->message().isEmpty()) << url.toStdString();
    }
    u->install(rel->info);
    EXPECT_EQ(u->message(), QStringLiteral("Descargando 1.5.0…"));
    UpdateInfo second = rel->info;
    second.version = QStringLiteral("9.9.9");
    u->install(second); // dropped: one installation at a time
    EXPECT_EQ(u->message(), QStringLiteral("Descargando 1.5.0…"));
    ASSERT_TRUE(waitUntil([&] { return !relaunched.isEmpty(); }, 60000));
    EXPECT_EQ(relaunched.size(), 1);
}

TEST_F(Install, RefusesHostileArchivesSignedByThePublisher) {
    const auto genuine = publish(58);
    ASSERT_TRUE(genuine);
    const std::vector<std::pair<QString, QString>> kinds{
        {"traversal", kUnpackFailed},        {"absolute", kUnpackFailed},
        {"symlink-out", kUnpackFailed},      {"symlink-absolute", kUnpackFailed},
        {"symlink-chain", kUnpackFailed},    {"symlink-chain-reversed", kUnpackFailed},
        {"hardlink", kUnpackFailed},         {"device", kUnpackFailed},
        {"duplicate", kUnpackFailed},        {"bomb", kUnpackFailed},
        {"trailing-garbage", kUnpackFailed}, {"truncated", kUnpackFailed},
        {"prefixed", kUnpackFailed},         {"subfolder", "El paquete no contiene la app"},
    };
    for (const auto& [kind, message] : kinds) {
        const QString crafted = inst.scratch + QLatin1Char('/') + kind + QStringLiteral(".zip");
        ASSERT_TRUE(craftZip(kind, genuine->archive, crafted));
        auto u = updater();
        ASSERT_TRUE(installed(*u, serveSigned(crafted, 58, kind + QStringLiteral(".zip"))))
            << kind.toStdString();
        EXPECT_EQ(u->message(), message) << kind.toStdString();
        expectUntouched(kind.toStdString());
    }
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/morvane-escaped-absolute")));

    // A feed that claims build 99 for the genuine (older) archive.
    UpdateInfo claimed = genuine->info;
    claimed.build = 99;
    auto u = updater();
    ASSERT_TRUE(installed(*u, claimed));
    EXPECT_EQ(u->message(), kInvalidVersion);
    expectUntouched("build 99 claimed");
}

// The work runs in a child process; one that cannot start or dies on the way ends the installation
// as a failure before the exchange, as an installation after it, and leaves nothing beside the app.
TEST_F(Install, AWorkerThatIsLostEndsTheInstallationByWhatItHadDone) {
    const auto rel = publish(58);
    ASSERT_TRUE(rel);
    auto u = updater([](UpdaterOptions& o) { o.workerCommand = {QStringLiteral("/nonexistent/morvane")}; });
    ASSERT_TRUE(installed(*u, rel->info));
    EXPECT_EQ(u->message(), QStringLiteral("No se pudo descargar"));
    expectUntouched("no worker");

    // Scripted workers (sh, with the installed bundle and a scratch folder as $0 and $1): nothing
    // after a refused line counts, a hung one is killed at its deadline, and the disk, not the
    // worker's last word, says whether the exchange happened (also below: one without its report).
    const auto fake = [&](const QString& script) {
        return [&, script](UpdaterOptions& o) {
            o.workerCommand = QStringList{"/bin/sh", "-c", script, inst.bundle, inst.scratch};
            o.deadlines.stepMs = 500;
        };
    };
    const QString interrupted = QStringLiteral("No se pudo reemplazar la app: la instalación se interrumpió");
    for (const auto& [script, message] :
         {std::pair{R"(read r; printf 'garbage\n{"step":"swapped"}\n{"installed":true}\n')",
                    QStringLiteral("No se pudo descargar")},
          {R"(read r; echo '{"step":"unpacked"}'; read go; exec sleep 600)", interrupted},
          {R"(read r; echo '{"step":"swapped"}'; read go)", interrupted}}) {
        u = updater(fake(script));
        ASSERT_TRUE(installed(*u, rel->info)) << script;
        EXPECT_EQ(u->message(), message) << script;
        expectUntouched(script);
    }

    qint64 killed = 0;
    auto killAt = [&](InstallStep at) {
        return [&, at](UpdaterOptions& o) {
            o.observe = [&, at](InstallStep s) {
                steps << stepName(s);
                if (s == at)
                    killed = killWorker();
            };
        };
    };
    u = updater(killAt(InstallStep::unpacked));
    ASSERT_TRUE(installed(*u, rel->info));
    EXPECT_GT(killed, 0);
    EXPECT_EQ(u->message(), interrupted);
    expectUntouched("worker killed after unpacking");

    killed = 0;
    u = updater(killAt(InstallStep::swapped));
    ASSERT_TRUE(installed(*u, rel->info));
    EXPECT_GT(killed, 0);
    EXPECT_EQ(relaunched, QStringList{inst.bundle + QStringLiteral("/bin/morvane")});
    EXPECT_EQ(BundleInfo::read(inst.bundle)->build, QStringLiteral("58"));
    EXPECT_EQ(entries(inst.installDir), QStringList{QStringLiteral("Morvane.app")});
    EXPECT_FALSE(steps.contains(QStringLiteral("cleanedUp")));

    const auto rel59 = publish(59, QStringLiteral("1.6.0"));
    ASSERT_TRUE(rel59 && QDir().mkpath(inst.scratch + "/new") &&
                runProcess("bsdtar", {"-xf", rel59->archive, "-C", inst.scratch + "/new"}).ok());
    relaunched.clear();
    u = updater(fake(R"(read r; mv "$0" "$1/old" && mv "$1/new/Morvane.app" "$0")"));
    ASSERT_TRUE(installed(*u, rel59->info));
    EXPECT_EQ(relaunched.size(), 1) << u->message().toStdString();
    EXPECT_EQ(BundleInfo::read(inst.bundle)->build, QStringLiteral("59"));
}

} // namespace
