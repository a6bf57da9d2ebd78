#include "DBusUtil.h"

#include <QDBusObjectPath>
#include <QDBusVariant>

namespace morvane::dbus {

QDBusMessage methodCall(const QString& service, const QString& path, const QString& interface,
                        const QString& method) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
    m.setAutoStartService(false);
    return m;
}

bool isUnknownTarget(const QDBusError& error) {
    return error.type() == QDBusError::UnknownObject || error.type() == QDBusError::UnknownMethod ||
           error.type() == QDBusError::UnknownInterface;
}

std::optional<QVariant> firstArgument(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst();
}

std::optional<uint> uintReply(const QDBusMessage& reply) {
    const auto value = firstArgument(reply);
    if (!value || value->metaType().id() != QMetaType::UInt)
        return std::nullopt;
    return value->toUInt();
}

std::optional<QString> pathReply(const QDBusMessage& reply) {
    const auto value = firstArgument(reply);
    if (!value || value->metaType() != QMetaType::fromType<QDBusObjectPath>())
        return std::nullopt;
    return qvariant_cast<QDBusObjectPath>(*value).path();
}

std::optional<bool> boolValue(const QVariant& value) {
    if (value.metaType().id() != QMetaType::Bool)
        return std::nullopt;
    return value.toBool();
}

std::optional<QVariant> propertyReply(const QDBusMessage& reply) {
    const auto value = firstArgument(reply);
    if (!value || value->metaType() != QMetaType::fromType<QDBusVariant>())
        return std::nullopt;
    return qvariant_cast<QDBusVariant>(*value).variant();
}

QDBusMessage propertyGet(const QString& service, const QString& path, const QString& interface,
                         const QString& name) {
    QDBusMessage m = QDBusMessage::createMethodCall(service, path, kProperties, QStringLiteral("Get"));
    m << interface << name;
    return m;
}

} // namespace morvane::dbus
