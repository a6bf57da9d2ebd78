#include "UpdateInfo.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace morvane {

namespace {

std::optional<QString> requiredText(const QJsonObject& o, const QString& key, bool& ok) {
    const QJsonValue v = o.value(key);
    if (!v.isString()) {
        ok = false;
        return std::nullopt;
    }
    return v.toString();
}

std::optional<QString> optionalText(const QJsonObject& o, const QString& key, bool& ok) {
    const QJsonValue v = o.value(key);
    if (v.isUndefined() || v.isNull())
        return std::nullopt;
    if (!v.isString()) {
        ok = false;
        return std::nullopt;
    }
    return v.toString();
}

} // namespace

QByteArray UpdateInfo::toJson() const {
    QJsonObject o{
        {QStringLiteral("version"), version},
        {QStringLiteral("build"), build},
        {QStringLiteral("url"), url},
        {QStringLiteral("sha256"), sha256},
        {QStringLiteral("signature"), signature},
    };
    if (notes)
        o.insert(QStringLiteral("notes"), *notes);
    if (minimumSystem)
        o.insert(QStringLiteral("minimumSystem"), *minimumSystem);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<UpdateInfo> UpdateInfo::fromJson(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();

    // A whole number only: 58 and 58.0 read, 58.5, "58" and anything beyond 64 bits do not.
    // toInteger() answers its fallback for those, and no value equals two different fallbacks.
    const QJsonValue build = o.value(QStringLiteral("build"));
    if (!build.isDouble() || build.toInteger(0) != build.toInteger(1))
        return std::nullopt;

    bool ok = true;
    UpdateInfo info;
    info.build = build.toInteger();
    info.version = requiredText(o, QStringLiteral("version"), ok).value_or(QString());
    info.url = requiredText(o, QStringLiteral("url"), ok).value_or(QString());
    info.sha256 = requiredText(o, QStringLiteral("sha256"), ok).value_or(QString());
    info.signature = requiredText(o, QStringLiteral("signature"), ok).value_or(QString());
    info.notes = optionalText(o, QStringLiteral("notes"), ok);
    info.minimumSystem = optionalText(o, QStringLiteral("minimumSystem"), ok);
    if (!ok)
        return std::nullopt;
    return info;
}

} // namespace morvane
