#include "Bundle.h"

#include "FileOps.h"
#include "Versions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace bundle {

QString locateRunning() {
    if (!QCoreApplication::instance())
        return {};
    QDir dir(QCoreApplication::applicationDirPath());
    if (dir.dirName() != QLatin1String("bin") || !dir.cdUp())
        return {};
    if (!QFileInfo(dir.filePath(QLatin1String(kInfo))).isFile())
        return {};
    return dir.absolutePath();
}

} // namespace bundle

namespace {

std::optional<QString> textOf(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

// The whole file, or nothing when it is not a regular file of at most `limit` bytes; a final
// symlink is not followed.
std::optional<QByteArray> readSmallFile(const QString& path, qint64 limit) {
    return fileops::readRegularFile(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK), limit);
}

} // namespace

std::optional<BundleInfo> BundleInfo::read(const QString& bundlePath) {
    if (bundlePath.isEmpty())
        return std::nullopt;
    const auto bytes =
        readSmallFile(bundlePath + QLatin1Char('/') + QLatin1String(bundle::kInfo), bundle::kMaxInfoBytes);
    if (!bytes)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    BundleInfo info;
    info.identifier = textOf(o, "CFBundleIdentifier");
    info.version = textOf(o, "CFBundleShortVersionString");
    info.build = textOf(o, "CFBundleVersion");
    info.publicKey = textOf(o, "MorvaneUpdatePublicKey");
    return info;
}

RunningBundle RunningBundle::read(const QString& path) {
    RunningBundle running;
    running.path = path;
    if (const auto info = BundleInfo::read(path)) {
        if (info->version)
            running.version = *info->version;
        running.build = versions::buildNumber(info->build);
        running.identifier = info->identifier;
        running.publicKey = info->publicKey;
    }
    return running;
}

} // namespace morvane
