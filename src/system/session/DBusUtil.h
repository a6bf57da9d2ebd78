#pragma once

// Names and small helpers shared by the D-Bus adapters: replies are checked for their exact
// types, since a service on the session bus may be anything that took the name.

#include <QDBusError>
#include <QDBusMessage>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>

namespace morvane::dbus {

inline const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
// KDE serves the interface on both paths; some older services only on the short one.
inline const std::array<QString, 2> kScreenSaverPaths{QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                      QStringLiteral("/ScreenSaver")};
inline const QString kGnomeScreenSaver = QStringLiteral("org.gnome.ScreenSaver");
inline const QString kGnomeSession = QStringLiteral("org.gnome.SessionManager");
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// Local services answer in milliseconds; a hung one must not stall the engine for long.
inline constexpr int kCallTimeoutMs = 1000;

// A call to the desktop's own running service, never one the bus would start on demand.
QDBusMessage methodCall(const QString& service, const QString& path, const QString& interface,
                        const QString& method);

// The object or method is missing at this path (the service itself answered).
bool isUnknownTarget(const QDBusError& error);

// The first argument of a method reply; nothing for an error or an empty reply.
std::optional<QVariant> firstArgument(const QDBusMessage& reply);

// The first argument when it is exactly a uint32 / an object path.
std::optional<uint> uintReply(const QDBusMessage& reply);
std::optional<QString> pathReply(const QDBusMessage& reply);

// The value when it is exactly a boolean.
std::optional<bool> boolValue(const QVariant& value);

// The value inside the reply to Properties.Get.
std::optional<QVariant> propertyReply(const QDBusMessage& reply);

// A Properties.Get call for `interface`.`name`.
QDBusMessage propertyGet(const QString& service, const QString& path, const QString& interface,
                         const QString& name);

} // namespace morvane::dbus
