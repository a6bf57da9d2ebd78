#include "UpdateTestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

#include <gtest/gtest.h>

namespace morvane::test {

namespace {
const QString kPython = QStringLiteral("/usr/bin/python3");
}

ProcessResult runProcess(const QString& program, const QStringList& arguments, const QStringList& env) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : env)
        e.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(e);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    ProcessResult r;
    if (!p.waitForStarted(10000))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.output = p.readAll();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

QString sourcePath(const QString& relative) {
    return QStringLiteral(MORVANE_SOURCE_DIR "/") + relative;
}

QString testAppPath() {
    return QStringLiteral(MORVANE_TESTAPP);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QStringList entries(const QString& dir) {
    QStringList names = QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    return names;
}

SigningKey makeKey(const QString& dir, const QString& name) {
    SigningKey key;
    key.pem = dir + QLatin1Char('/') + name + QStringLiteral(".pem");
    const auto made =
        runProcess(QStringLiteral("openssl"), {QStringLiteral("genpkey"), QStringLiteral("-algorithm"),
                                               QStringLiteral("ed25519"), QStringLiteral("-out"), key.pem});
    EXPECT_TRUE(made.ok()) << made.output.toStdString();
    const auto pub = runProcess(sourcePath(QStringLiteral("tools/morvane-release")),
                                {QStringLiteral("--public-key"), key.pem});
    EXPECT_TRUE(pub.ok()) << pub.output.toStdString();
    key.publicBase64 = QString::fromLatin1(pub.output.trimmed());
    return key;
}

QString signFile(const SigningKey& key, const QString& file) {
    const QString out = file + QStringLiteral(".sigbin");
    const auto r =
        runProcess(QStringLiteral("openssl"),
                   {QStringLiteral("pkeyutl"), QStringLiteral("-sign"), QStringLiteral("-inkey"), key.pem,
                    QStringLiteral("-rawin"), QStringLiteral("-in"), file, QStringLiteral("-out"), out});
    EXPECT_TRUE(r.ok()) << r.output.toStdString();
    const QByteArray sig = readFile(out);
    QFile::remove(out);
    return QString::fromLatin1(sig.toBase64());
}

bool layOutBundle(const QString& dir, const BundleRecipe& recipe) {
    const auto r =
        runProcess(QStringLiteral(MORVANE_CMAKE),
                   {QStringLiteral("-DBUNDLE=") + dir, QStringLiteral("-DEXECUTABLE=") + testAppPath(),
                    QStringLiteral("-DVERSION=") + recipe.version, QStringLiteral("-DBUILD=") + recipe.build,
                    QStringLiteral("-DIDENTIFIER=") + recipe.identifier,
                    QStringLiteral("-DPUBLIC_KEY=") + recipe.publicKey, QStringLiteral("-P"),
                    sourcePath(QStringLiteral("tools/MorvaneBundle.cmake"))});
    EXPECT_TRUE(r.ok()) << r.output.toStdString();
    return r.ok();
}

std::optional<Release> release(const QString& bundleDir, const SigningKey& key, const QString& url,
                               const QString& outDir, const QStringList& extra) {
    QStringList args{QStringLiteral("--bundle"), bundleDir, QStringLiteral("--key"), key.pem,
                     QStringLiteral("--url"),    url,       QStringLiteral("--out"), outDir};
    args += extra;
    const auto r = runProcess(sourcePath(QStringLiteral("tools/morvane-release")), args);
    if (!r.ok()) {
        ADD_FAILURE() << "morvane-release: " << r.output.toStdString();
        return std::nullopt;
    }
    const QList<QByteArray> lines = r.output.trimmed().split('\n');
    Release rel;
    rel.archive = QString::fromLocal8Bit(lines.value(0));
    rel.feedJson = readFile(QString::fromLocal8Bit(lines.value(1)));
    const auto info = UpdateInfo::fromJson(rel.feedJson);
    if (!info) {
        ADD_FAILURE() << "unreadable feed: " << rel.feedJson.toStdString();
        return std::nullopt;
    }
    rel.info = *info;
    return rel;
}

UpdateInfo feedFor(const QString& archive, const SigningKey& key, const QString& url, qint64 build,
                   const QString& version) {
    UpdateInfo info;
    info.version = version;
    info.build = build;
    info.url = url;
    const auto sum = runProcess(QStringLiteral("sha256sum"), {archive});
    info.sha256 = QString::fromLatin1(sum.output.left(64));
    info.signature = signFile(key, archive);
    return info;
}

bool craftZip(const QString& kind, const QString& genuine, const QString& out, const QStringList& extra) {
    const auto r = runProcess(
        kPython,
        QStringList{sourcePath(QStringLiteral("tests/update/craft_zip.py")), kind, genuine, out} + extra);
    EXPECT_TRUE(r.ok()) << r.output.toStdString();
    return r.ok();
}

HttpsServer::HttpsServer(const QString& root) {
    const QString d = m_dir.path() + QLatin1Char('/');
    writeFile(d + QStringLiteral("server.ext"), "subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                                                "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
    const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    const auto ca = runProcess(
        QStringLiteral("openssl"),
        QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
            QStringList{QStringLiteral("-keyout"), d + QStringLiteral("ca.key"), QStringLiteral("-out"),
                        d + QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                        QStringLiteral("-subj"), QStringLiteral("/CN=Morvane updater test CA")});
    const auto csr = runProcess(QStringLiteral("openssl"),
                                QStringList{QStringLiteral("req")} + ec +
                                    QStringList{QStringLiteral("-keyout"), d + QStringLiteral("server.key"),
                                                QStringLiteral("-out"), d + QStringLiteral("server.csr"),
                                                QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")});
    const auto cert =
        runProcess(QStringLiteral("openssl"),
                   {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                    d + QStringLiteral("server.csr"), QStringLiteral("-CA"), d + QStringLiteral("ca.pem"),
                    QStringLiteral("-CAkey"), d + QStringLiteral("ca.key"), QStringLiteral("-CAcreateserial"),
                    QStringLiteral("-out"), d + QStringLiteral("server.pem"), QStringLiteral("-days"),
                    QStringLiteral("2"), QStringLiteral("-extfile"), d + QStringLiteral("server.ext")});
    if (!ca.ok() || !csr.ok() || !cert.ok()) {
        ADD_FAILURE() << "test certificates: " << ca.output.toStdString() << csr.output.toStdString()
                      << cert.output.toStdString();
        return;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(kPython, {sourcePath(QStringLiteral("tests/update/https_server.py")), root,
                              d + QStringLiteral("server.pem"), d + QStringLiteral("server.key")});
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && !m_process.canReadLine() && m_process.state() != QProcess::NotRunning)
        m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    const QByteArray line = m_process.readLine().trimmed();
    if (line.startsWith("PORT "))
        m_port = line.mid(5).toInt();
    if (m_port <= 0)
        ADD_FAILURE() << "the test HTTPS server did not start";
}

HttpsServer::~HttpsServer() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.closeWriteChannel(); // it stops when its input closes
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
}

QUrl HttpsServer::url(const QString& path) const {
    return QUrl(QStringLiteral("https://127.0.0.1:%1/%2").arg(m_port).arg(path));
}

QByteArray HttpsServer::caPem() const {
    return readFile(caFile());
}

Installation::Installation(qint64 build, const QString& version) {
    if (!root.isValid())
        return;
    const QString r = root.path() + QLatin1Char('/');
    installDir = r + QStringLiteral("install");
    bundle = installDir + QStringLiteral("/Morvane.app");
    serverRoot = r + QStringLiteral("www");
    scratch = r + QStringLiteral("scratch");
    for (const QString& d : {installDir, serverRoot, scratch})
        QDir().mkpath(d);
    key = makeKey(scratch, QStringLiteral("publisher"));
    BundleRecipe recipe;
    recipe.version = version;
    recipe.build = QString::number(build);
    recipe.publicKey = key.publicBase64;
    const QString staged = scratch + QStringLiteral("/installed-src/Morvane.app");
    if (!layOutBundle(staged, recipe))
        return;
    const auto rel = release(staged, key, QStringLiteral("https://unused.invalid/a.zip"),
                             scratch + QStringLiteral("/installed-release"));
    if (!rel)
        return;
    const auto unzip = runProcess(QStringLiteral("bsdtar"),
                                  {QStringLiteral("-xf"), rel->archive, QStringLiteral("-C"), installDir});
    ok = unzip.ok() && QFile::exists(bundle + QStringLiteral("/Signature/Manifest"));
    EXPECT_TRUE(ok) << unzip.output.toStdString();
}

std::optional<Release> Installation::publish(const BundleRecipe& recipe, const QString& archiveName,
                                             const QString& urlBase, const QStringList& extra) {
    const QString staged = scratch + QStringLiteral("/src-") + archiveName + QStringLiteral("/Morvane.app");
    QDir(staged).removeRecursively();
    if (!layOutBundle(staged, recipe))
        return std::nullopt;
    const QString out = scratch + QStringLiteral("/out-") + archiveName;
    auto rel = release(staged, key, urlBase + archiveName, out, extra);
    if (!rel)
        return std::nullopt;
    const QString served = serverRoot + QLatin1Char('/') + archiveName;
    QFile::remove(served);
    if (!QFile::copy(rel->archive, served))
        return std::nullopt;
    rel->archive = served;
    return rel;
}

} // namespace morvane::test
