#pragma once

// Helpers shared by the updater tests: processes, signing keys, bundles laid out and released
// with the project's own tools, and a local HTTPS server with a certificate authority made for
// the test.

#include "FakePorts.h"
#include "UpdateInfo.h"

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <optional>

namespace morvane::test {

struct ProcessResult {
    int exitCode = -1;
    QByteArray output; // standard output and error, merged
    bool ok() const { return exitCode == 0; }
};

// Runs a program to completion (60 s at most) with the test's environment plus `env`.
ProcessResult runProcess(const QString& program, const QStringList& arguments, const QStringList& env = {});

// Runs the event loop until `condition` holds or `timeoutMs` passes; answers the condition.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 30000);

QString sourcePath(const QString& relative);
QString testAppPath();

QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);
// Names in a directory, sorted, without "." and "..".
QStringList entries(const QString& dir);

// An Ed25519 key made with openssl genpkey.
struct SigningKey {
    QString pem;
    QString publicBase64; // raw 32-byte key, as Info.json holds it
};
SigningKey makeKey(const QString& dir, const QString& name);
// Base64 of the Ed25519 signature of `file`, made with openssl pkeyutl.
QString signFile(const SigningKey& key, const QString& file);

// What goes into a test bundle's Info.json; an empty text leaves its key out.
struct BundleRecipe {
    QString version = QStringLiteral("1.4.2");
    QString build = QStringLiteral("57");
    QString identifier = QStringLiteral("app.morvane.Morvane");
    QString publicKey;
};
// Lays out `dir` (…/Morvane.app) with tools/MorvaneBundle.cmake and the test app as bin/morvane.
bool layOutBundle(const QString& dir, const BundleRecipe& recipe);

// The archive and feed tools/morvane-release made.
struct Release {
    QString archive;
    QByteArray feedJson;
    UpdateInfo info;
};
std::optional<Release> release(const QString& bundleDir, const SigningKey& key, const QString& url,
                               const QString& outDir, const QStringList& extra = {});

// A feed entry for `archive` signed with `key`: the way the tests publish crafted archives.
UpdateInfo feedFor(const QString& archive, const SigningKey& key, const QString& url, qint64 build,
                   const QString& version = QStringLiteral("1.5.0"));

// tests/update/craft_zip.py: a hostile variant of a genuine archive.
bool craftZip(const QString& kind, const QString& genuine, const QString& out, const QStringList& extra = {});

// The local HTTPS server (tests/update/https_server.py) serving `root`, with a certificate from
// a certificate authority made for this server alone.
class HttpsServer {
public:
    explicit HttpsServer(const QString& root);
    ~HttpsServer();
    bool ok() const { return m_port > 0; }
    QUrl url(const QString& path) const;
    // The certificate authority's certificate (PEM), the one the updater must trust.
    QByteArray caPem() const;
    QString caFile() const { return m_dir.filePath(QStringLiteral("ca.pem")); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

// A directory holding an installed bundle of build `build` (released with `key` and unpacked from
// its archive, as a user would have it), plus the server root and scratch space.
struct Installation {
    QTemporaryDir root;
    QString installDir; // holds Morvane.app and nothing else
    QString bundle;     // installDir/Morvane.app
    QString serverRoot;
    QString scratch;
    SigningKey key;

    bool ok = false;
    Installation(qint64 build = 57, const QString& version = QStringLiteral("1.4.2"));
    // Releases a bundle of `recipe` into the server root; the feed goes to feedName.
    std::optional<Release> publish(const BundleRecipe& recipe, const QString& archiveName,
                                   const QString& urlBase, const QStringList& extra = {});
};

} // namespace morvane::test
