// DBusNotifier against python-dbusmock's notification daemon on a private bus.
#include "DBusNotifier.h"
#include "FakePorts.h"
#include "SettingsStore.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>

namespace morvane {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

template <typename T> T demarshal(const QVariant& value) {
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<T>(value.value<QDBusArgument>());
    return value.value<T>();
}

struct Notification {
    QString appName;
    uint replacesId = 99;
    QString icon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int timeout = 0;
};

class NotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.ok());
        daemon = std::make_unique<test::DBusMock>(
            bus, QStringList{QStringLiteral("-t"), QStringLiteral("notification_daemon")}, kService);
        ASSERT_TRUE(daemon->ok());
        connection = bus.connect(QStringLiteral("notifier"));
        ASSERT_TRUE(connection.isConnected());
        notifier = std::make_unique<DBusNotifier>(store, connection);
        notifier->setup();
    }

    void TearDown() override {
        notifier.reset();
        QDBusConnection::disconnectFromBus(connection.name());
    }

    // The Notify calls the daemon has handled. A call on the notifier's own connection goes
    // first: the daemon serves one connection's messages in order, so everything sent before
    // it has been logged by the time it returns.
    QList<Notification> notifications() {
        const QDBusMessage reply = connection.call(QDBusMessage::createMethodCall(
            kService, kPath, kService, QStringLiteral("GetServerInformation")));
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
        QList<Notification> out;
        for (const auto& [method, args] : daemon->calls(kPath)) {
            if (method != QStringLiteral("Notify"))
                continue;
            EXPECT_EQ(args.size(), 8);
            if (args.size() != 8)
                continue;
            out.append({args[0].toString(), args[1].toUInt(), args[2].toString(), args[3].toString(),
                        args[4].toString(), demarshal<QStringList>(args[5]), demarshal<QVariantMap>(args[6]),
                        args[7].toInt()});
        }
        return out;
    }

    test::PrivateBus bus;
    std::unique_ptr<test::DBusMock> daemon;
    QDBusConnection connection{QString()};
    test::MemoryDefaults defaults;
    SettingsStore store{defaults};
    std::unique_ptr<DBusNotifier> notifier;
};

TEST_F(NotifierTest, EachSendIsOneNotificationFromMorvaneWithTitleAndBody) {
    notifier->send(QStringLiteral("Morvane activado"), QStringLiteral("Con el atajo de teclado"));
    notifier->send(QStringLiteral("Morvane activado"), QStringLiteral("Con el atajo de teclado"));
    notifier->send(QStringLiteral("Morvane desactivado"), QStringLiteral("Terminó el temporizador"));

    const QList<Notification> got = notifications();
    ASSERT_EQ(got.size(), 3);
    const QStringList titles{QStringLiteral("Morvane activado"), QStringLiteral("Morvane activado"),
                             QStringLiteral("Morvane desactivado")};
    const QStringList bodies{QStringLiteral("Con el atajo de teclado"),
                             QStringLiteral("Con el atajo de teclado"),
                             QStringLiteral("Terminó el temporizador")};
    for (int i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].appName, QStringLiteral("Morvane"));
        // 0: a new notification, never a replacement of the previous equal one.
        EXPECT_EQ(got[i].replacesId, 0u);
        EXPECT_EQ(got[i].icon, QString());
        EXPECT_EQ(got[i].summary, titles[i]);
        EXPECT_EQ(got[i].body, bodies[i]);
        EXPECT_TRUE(got[i].actions.isEmpty());
        EXPECT_TRUE(got[i].hints.isEmpty());
        EXPECT_EQ(got[i].timeout, -1);
    }
}

TEST_F(NotifierTest, SettingOffPostsNothingAndIsReadAtEachSend) {
    store.update([](Prefs& p) { p.notifications = false; });
    notifier->send(QStringLiteral("Morvane desactivado"), QStringLiteral("Terminó el temporizador"));
    EXPECT_TRUE(notifications().isEmpty());

    store.update([](Prefs& p) { p.notifications = true; });
    notifier->send(QStringLiteral("Morvane activado"), QStringLiteral("Programado"));
    const QList<Notification> got = notifications();
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].summary, QStringLiteral("Morvane activado"));
}

} // namespace
} // namespace morvane
