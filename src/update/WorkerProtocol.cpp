#include "WorkerProtocol.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <climits>

namespace morvane {

namespace {

QByteArray lineOf(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> objectOf(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

// A whole number within 64 bits, as UpdateInfo reads the build.
std::optional<qint64> integerOf(const QJsonValue& v) {
    if (!v.isDouble() || v.toInteger(0) != v.toInteger(1))
        return std::nullopt;
    return v.toInteger();
}

std::optional<QString> optionalTextOf(const QJsonValue& v, bool& ok) {
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    ok = ok && v.isString();
    return v.toString();
}

QJsonObject runningToJson(const RunningBundle& r) {
    QJsonObject o{{QStringLiteral("path"), r.path},
                  {QStringLiteral("version"), r.version},
                  {QStringLiteral("build"), r.build}};
    if (r.identifier)
        o.insert(QStringLiteral("identifier"), *r.identifier);
    if (r.publicKey)
        o.insert(QStringLiteral("publicKey"), *r.publicKey);
    return o;
}

std::optional<RunningBundle> runningFromJson(const QJsonObject& o) {
    const QJsonValue path = o.value(QStringLiteral("path"));
    const QJsonValue version = o.value(QStringLiteral("version"));
    const auto build = integerOf(o.value(QStringLiteral("build")));
    bool ok = path.isString() && version.isString() && build;
    RunningBundle r;
    r.path = path.toString();
    r.version = version.toString();
    r.build = build.value_or(0);
    r.identifier = optionalTextOf(o.value(QStringLiteral("identifier")), ok);
    r.publicKey = optionalTextOf(o.value(QStringLiteral("publicKey")), ok);
    return ok ? std::optional(r) : std::nullopt;
}

} // namespace

QByteArray WorkerRequest::toLine() const {
    QJsonObject o{
        {QStringLiteral("kind"), kind == Kind::check ? QStringLiteral("check") : QStringLiteral("install")},
        {QStringLiteral("url"), url.toString(QUrl::FullyEncoded)},
        {QStringLiteral("ca"), QString::fromLatin1(caCertificates)},
        {QStringLiteral("timeoutMs"), timeoutMs},
        {QStringLiteral("maxBytes"), maxBytes},
    };
    if (kind == Kind::install) {
        o.insert(QStringLiteral("info"), QJsonDocument::fromJson(info.toJson()).object());
        o.insert(QStringLiteral("running"), runningToJson(running));
        o.insert(QStringLiteral("limits"),
                 QJsonObject{{QStringLiteral("maxTotalBytes"), limits.maxTotalBytes},
                             {QStringLiteral("maxEntries"), limits.maxEntries},
                             {QStringLiteral("maxDepth"), limits.maxDepth}});
    }
    return lineOf(o);
}

std::optional<WorkerRequest> WorkerRequest::fromLine(const QByteArray& line) {
    const auto o = objectOf(line);
    if (!o)
        return std::nullopt;
    WorkerRequest r;
    const QString kind = o->value(QStringLiteral("kind")).toString();
    if (kind != QLatin1String("check") && kind != QLatin1String("install"))
        return std::nullopt;
    r.kind = kind == QLatin1String("check") ? Kind::check : Kind::install;
    const QJsonValue url = o->value(QStringLiteral("url"));
    const QJsonValue ca = o->value(QStringLiteral("ca"));
    const auto timeout = integerOf(o->value(QStringLiteral("timeoutMs")));
    const auto maxBytes = integerOf(o->value(QStringLiteral("maxBytes")));
    if (!url.isString() || !ca.isString() || !timeout || *timeout < 0 || *timeout > INT_MAX || !maxBytes)
        return std::nullopt;
    r.url = QUrl(url.toString(), QUrl::StrictMode);
    r.caCertificates = ca.toString().toLatin1();
    r.timeoutMs = int(*timeout);
    r.maxBytes = *maxBytes;
    if (r.kind == Kind::check)
        return r;

    const auto info =
        UpdateInfo::fromJson(QJsonDocument(o->value(QStringLiteral("info")).toObject()).toJson());
    const auto running = runningFromJson(o->value(QStringLiteral("running")).toObject());
    const QJsonObject limits = o->value(QStringLiteral("limits")).toObject();
    const auto total = integerOf(limits.value(QStringLiteral("maxTotalBytes")));
    const auto entries = integerOf(limits.value(QStringLiteral("maxEntries")));
    const auto depth = integerOf(limits.value(QStringLiteral("maxDepth")));
    if (!info || !running || !total || !entries || !depth || *depth < 0 || *depth > INT_MAX)
        return std::nullopt;
    r.info = *info;
    r.running = *running;
    r.limits = UnpackLimits{*total, *entries, int(*depth)};
    return r;
}

QByteArray WorkerEvent::toLine() const {
    switch (kind) {
    case Kind::feed:
        return lineOf({{QStringLiteral("feed"),
                        feed ? QJsonValue(QString::fromLatin1(feed->toBase64())) : QJsonValue()}});
    case Kind::size:
        return lineOf({{QStringLiteral("size"), size}});
    case Kind::step:
        return lineOf({{QStringLiteral("step"), stepName(step)}});
    case Kind::installing:
        return lineOf({{QStringLiteral("installing"), true}});
    case Kind::failed:
        return lineOf({{QStringLiteral("failed"), text}});
    case Kind::installed:
        return lineOf({{QStringLiteral("installed"), true}});
    }
    return {};
}

std::optional<WorkerEvent> WorkerEvent::fromLine(const QByteArray& line) {
    const auto o = objectOf(line);
    if (!o || o->size() != 1)
        return std::nullopt;
    const QString key = o->begin().key();
    const QJsonValue v = o->begin().value();
    WorkerEvent e;
    if (key == QLatin1String("feed") && (v.isNull() || v.isString())) {
        e.kind = Kind::feed;
        if (v.isString()) {
            const auto decoded = QByteArray::fromBase64Encoding(v.toString().toLatin1(),
                                                                QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                return std::nullopt;
            e.feed = *decoded;
        }
        return e;
    }
    if (const auto size = integerOf(v); key == QLatin1String("size") && size && *size >= 0) {
        e.kind = Kind::size;
        e.size = *size;
        return e;
    }
    if (key == QLatin1String("step")) {
        const auto step = stepNamed(v.toString());
        if (!step)
            return std::nullopt;
        e.kind = Kind::step;
        e.step = *step;
        return e;
    }
    if (key == QLatin1String("failed") && v.isString()) {
        e.kind = Kind::failed;
        e.text = v.toString();
        return e;
    }
    if (key == QLatin1String("installing") && v == QJsonValue(true)) {
        e.kind = Kind::installing;
        return e;
    }
    if (key == QLatin1String("installed") && v == QJsonValue(true)) {
        e.kind = Kind::installed;
        return e;
    }
    return std::nullopt;
}

} // namespace morvane
