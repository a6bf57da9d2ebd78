// ScreenLockMonitor against python-dbusmock's logind on a private "system" bus and screen savers
// on a private session bus.
#include "ScreenLockMonitor.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusMessage>

#include <unistd.h>

namespace morvane {
namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QString sessionPath(const QString& id) {
    return QStringLiteral("/org/freedesktop/login1/session/") + id;
}

// Counts one object's signals of one kind (by default a logind session's PropertiesChanged) as
// they reach this process on `connection`. The monitor, were it listening to them there, would
// have been handed each one in the same pass.
class BusSignals : public QObject {
    Q_OBJECT
public:
    BusSignals(QDBusConnection connection, const QString& path, const QString& service = kLogind,
               const QString& interface = kProperties,
               const QString& member = QStringLiteral("PropertiesChanged")) {
        EXPECT_TRUE(connection.connect(service, path, interface, member, this, SLOT(seen(QDBusMessage))));
        // A round trip to the service behind the subscription: signals it emits from now on match.
        connection.call(QDBusMessage::createMethodCall(service, path,
                                                       QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                       QStringLiteral("Introspect")));
    }
    int count = 0;

public Q_SLOTS:
    void seen(const QDBusMessage&) { ++count; }
};

struct Counts {
    int locked = 0;
    int unlocked = 0;
};

class ScreenLockTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_sessionId = qgetenv("XDG_SESSION_ID");
        qunsetenv("XDG_SESSION_ID");
        ASSERT_TRUE(systemBus.ok());
        ASSERT_TRUE(sessionBus.ok());
        system = systemBus.connect(QStringLiteral("lock-system"));
        session = sessionBus.connect(QStringLiteral("lock-session"));
        ASSERT_TRUE(system.isConnected());
        ASSERT_TRUE(session.isConnected());
    }

    void TearDown() override {
        monitor.reset();
        QDBusConnection::disconnectFromBus(system.name());
        QDBusConnection::disconnectFromBus(session.name());
        if (m_sessionId.isEmpty())
            qunsetenv("XDG_SESSION_ID");
        else
            qputenv("XDG_SESSION_ID", m_sessionId);
    }

    // logind with sessions c1 and c2 of this user; with `byPid`, GetSessionByPID puts this
    // process in c1 (the template itself has no such method).
    std::unique_ptr<test::DBusMock> logind(bool byPid) {
        auto mock = std::make_unique<test::DBusMock>(
            systemBus, QStringList{QStringLiteral("-t"), QStringLiteral("logind")}, kLogind, true);
        EXPECT_TRUE(mock->ok());
        for (const QString& id : {QStringLiteral("c1"), QStringLiteral("c2")}) {
            QDBusMessage add = QDBusMessage::createMethodCall(kLogind, kLogindPath,
                                                              QStringLiteral("org.freedesktop.DBus.Mock"),
                                                              QStringLiteral("AddSession"));
            add << id << QStringLiteral("seat0") << uint(::getuid()) << QStringLiteral("user") << true;
            const QDBusMessage reply = system.call(add);
            EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        }
        if (byPid) {
            EXPECT_TRUE(
                mock->addMethod(kLogindPath, QStringLiteral("org.freedesktop.login1.Manager"),
                                QStringLiteral("GetSessionByPID"), QStringLiteral("u"), QStringLiteral("o"),
                                QStringLiteral("if args[0] != %1:\n"
                                               "    raise dbus.exceptions.DBusException('no session', "
                                               "name='org.freedesktop.login1.NoSessionForPID')\n"
                                               "ret = dbus.ObjectPath('%2')")
                                    .arg(::getpid())
                                    .arg(sessionPath(QStringLiteral("c1")))));
        }
        return mock;
    }

    static void setLockedHint(test::DBusMock& logind, const QString& id, bool locked) {
        ASSERT_TRUE(
            logind.setProperty(sessionPath(id), kSessionInterface, QStringLiteral("LockedHint"), locked));
    }

    void start() {
        monitor = std::make_unique<ScreenLockMonitor>(system, session);
        monitor->subscribe([this] { ++counts.locked; }, [this] { ++counts.unlocked; });
    }

    test::PrivateBus systemBus;
    test::PrivateBus sessionBus;
    QDBusConnection system{QString()};
    QDBusConnection session{QString()};
    std::unique_ptr<ScreenLockMonitor> monitor;
    Counts counts;

private:
    QByteArray m_sessionId;
};

TEST_F(ScreenLockTest, FollowsTheLockedHintOfThisProcessesSession) {
    const auto mock = logind(true);
    // The session of the process wins over the one its environment names.
    qputenv("XDG_SESSION_ID", "c2");
    setLockedHint(*mock, QStringLiteral("c1"), true);

    start();
    EXPECT_TRUE(monitor->followsLogind());
    EXPECT_TRUE(monitor->screenLocked());

    setLockedHint(*mock, QStringLiteral("c1"), false);
    ASSERT_TRUE(test::waitUntil([&] { return !monitor->screenLocked(); }));
    EXPECT_EQ(counts.unlocked, 1);
    EXPECT_EQ(counts.locked, 0);

    BusSignals other(system, sessionPath(QStringLiteral("c2")));
    setLockedHint(*mock, QStringLiteral("c2"), true);
    ASSERT_TRUE(test::waitUntil([&] { return other.count == 1; }));
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(monitor->screenLocked());
    EXPECT_EQ(counts.locked, 0);

    setLockedHint(*mock, QStringLiteral("c1"), true);
    ASSERT_TRUE(test::waitUntil([&] { return monitor->screenLocked(); }));
    EXPECT_EQ(counts.locked, 1);
    EXPECT_EQ(counts.unlocked, 1);
}

TEST_F(ScreenLockTest, FollowsTheSessionNamedByTheEnvironmentWhenThePidHasNone) {
    const auto mock = logind(false);
    qputenv("XDG_SESSION_ID", "c2");

    start();
    EXPECT_TRUE(monitor->followsLogind());
    EXPECT_FALSE(monitor->screenLocked());

    BusSignals other(system, sessionPath(QStringLiteral("c1")));
    setLockedHint(*mock, QStringLiteral("c1"), true);
    ASSERT_TRUE(test::waitUntil([&] { return other.count == 1; }));
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(monitor->screenLocked());

    setLockedHint(*mock, QStringLiteral("c2"), true);
    ASSERT_TRUE(test::waitUntil([&] { return monitor->screenLocked(); }));
    EXPECT_EQ(counts.locked, 1);
    EXPECT_EQ(counts.unlocked, 0);
}

TEST_F(ScreenLockTest, InvalidatedHintIsReadAgain) {
    const auto mock = logind(true);
    start();
    ASSERT_FALSE(monitor->screenLocked());

    // A change announced with its value is taken as announced...
    const QString session = sessionPath(QStringLiteral("c1"));
    ASSERT_TRUE(mock->emitSignal(
        session, kProperties, QStringLiteral("PropertiesChanged"), QStringLiteral("sa{sv}as"),
        {kSessionInterface, QVariantMap{{QStringLiteral("LockedHint"), true}}, QStringList()}));
    ASSERT_TRUE(test::waitUntil([&] { return monitor->screenLocked(); }));

    // ...one announced without it is asked for: the session object still says false.
    ASSERT_TRUE(mock->emitSignal(
        session, kProperties, QStringLiteral("PropertiesChanged"), QStringLiteral("sa{sv}as"),
        {kSessionInterface, QVariantMap(), QStringList{QStringLiteral("LockedHint")}}));
    ASSERT_TRUE(test::waitUntil([&] { return !monitor->screenLocked(); }));
    EXPECT_EQ(counts.locked, 1);
    EXPECT_EQ(counts.unlocked, 1);
}

TEST_F(ScreenLockTest, WithoutOurLogindSessionFollowsTheScreenSaver) {
    // logind runs, but the session the environment names does not exist.
    const auto mock = logind(false);
    qputenv("XDG_SESSION_ID", "c9");
    // A service on the short path only, already active.
    const QString name = QStringLiteral("org.freedesktop.ScreenSaver");
    const QString path = QStringLiteral("/ScreenSaver");
    test::DBusMock saver(sessionBus, {name, path, name}, name);
    ASSERT_TRUE(saver.ok());
    ASSERT_TRUE(saver.addMethod(path, name, QStringLiteral("GetActive"), QString(), QStringLiteral("b"),
                                QStringLiteral("ret = True")));

    start();
    EXPECT_FALSE(monitor->followsLogind());
    ASSERT_TRUE(test::waitUntil([&] { return monitor->screenLocked(); }));

    ASSERT_TRUE(saver.emitSignal(path, name, QStringLiteral("ActiveChanged"), QStringLiteral("b"), {false}));
    ASSERT_TRUE(test::waitUntil([&] { return !monitor->screenLocked(); }));
    EXPECT_EQ(counts.unlocked, 1);

    ASSERT_TRUE(saver.emitSignal(path, name, QStringLiteral("ActiveChanged"), QStringLiteral("b"), {true}));
    ASSERT_TRUE(test::waitUntil([&] { return monitor->screenLocked(); }));
    EXPECT_EQ(counts.unlocked, 1);
}

TEST_F(ScreenLockTest, LockedWhileLogindOrALockerOnTheSessionBusSaysSo) {
    const auto mock = logind(true);
    const QString name = QStringLiteral("org.freedesktop.ScreenSaver");
    const QString path = QStringLiteral("/org/freedesktop/ScreenSaver");
    test::DBusMock saver(sessionBus, {name, path, name}, name);
    ASSERT_TRUE(saver.ok());
    start();
    ASSERT_TRUE(monitor->followsLogind());

    // A locker that leaves LockedHint alone.
    ASSERT_TRUE(saver.emitSignal(path, name, QStringLiteral("ActiveChanged"), QStringLiteral("b"), {true}));
    ASSERT_TRUE(test::waitUntil([&] { return monitor->screenLocked(); }));
    BusSignals hint(system, sessionPath(QStringLiteral("c1")));
    setLockedHint(*mock, QStringLiteral("c1"), true);
    ASSERT_TRUE(test::waitUntil([&] { return hint.count == 1; }));
    // The locker's word alone does not unlock what logind still calls locked.
    BusSignals saverSignals(session, path, name, name, QStringLiteral("ActiveChanged"));
    ASSERT_TRUE(saver.emitSignal(path, name, QStringLiteral("ActiveChanged"), QStringLiteral("b"), {false}));
    ASSERT_TRUE(test::waitUntil([&] { return saverSignals.count == 1; }));
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(monitor->screenLocked());

    setLockedHint(*mock, QStringLiteral("c1"), false);
    ASSERT_TRUE(test::waitUntil([&] { return !monitor->screenLocked(); }));
    EXPECT_EQ(counts.locked, 1);
    EXPECT_EQ(counts.unlocked, 1);
}

TEST_F(ScreenLockTest, ALockerThatLeavesTheBusNoLongerHoldsTheScreenLocked) {
    const auto mock = logind(true);
    const QString name = QStringLiteral("org.freedesktop.ScreenSaver");
    auto saver =
        test::DBusMock::fromTemplate(sessionBus, name, QStringLiteral("/org/freedesktop/ScreenSaver"),
                                     QStringLiteral("[('GetActive', '', 'b', 'ret = True')]"));
    ASSERT_TRUE(saver && saver->ok());
    start();
    ASSERT_TRUE(test::waitUntil([&] { return monitor->screenLocked(); }));
    saver.reset();
    EXPECT_TRUE(test::waitUntil([&] { return !monitor->screenLocked(); }));
}

TEST_F(ScreenLockTest, ReadsALockerThatStartsAfterUs) {
    start();
    EXPECT_FALSE(monitor->followsLogind());
    EXPECT_FALSE(monitor->screenLocked());

    const auto locker = test::DBusMock::fromTemplate(
        sessionBus, QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"),
        QStringLiteral("[('GetActive', '', 'b', 'ret = True')]"));
    ASSERT_TRUE(locker && locker->ok());

    ASSERT_TRUE(test::waitUntil([&] { return monitor->screenLocked(); }));
    EXPECT_EQ(counts.locked, 1);

    ASSERT_TRUE(locker->emitSignal(QStringLiteral("/org/gnome/ScreenSaver"),
                                   QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("ActiveChanged"),
                                   QStringLiteral("b"), {false}));
    ASSERT_TRUE(test::waitUntil([&] { return !monitor->screenLocked(); }));
    EXPECT_EQ(counts.unlocked, 1);
}

} // namespace
} // namespace morvane

#include "ScreenLockTest.moc"
