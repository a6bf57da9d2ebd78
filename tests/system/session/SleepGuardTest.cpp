// SessionSleepGuard and SessionActivity against python-dbusmock services on a private bus, and
// against Xvfb for their X11 halves.
#include "SessionActivity.h"
#include "SessionSleepGuard.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusMessage>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace morvane {
namespace {

const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kLongPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kShortPath = QStringLiteral("/ScreenSaver");
const QString kGnomeSession = QStringLiteral("org.gnome.SessionManager");
const QString kGnomePath = QStringLiteral("/org/gnome/SessionManager");
const QString kReason = QStringLiteral("Morvane mantiene la pantalla activa");

using Calls = QList<std::pair<QString, QVariantList>>;

Calls named(const Calls& calls, const QString& method) {
    Calls out;
    for (const auto& call : calls)
        if (call.first == method)
            out.append(call);
    return out;
}

class SessionBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The X halves are tested on an Xvfb of their own; elsewhere they must stay out of the way.
        m_display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        ASSERT_TRUE(bus.ok());
        connection = bus.connect(QStringLiteral("guard"));
        ASSERT_TRUE(connection.isConnected());
    }

    void TearDown() override {
        QDBusConnection::disconnectFromBus(connection.name());
        if (m_display.isEmpty())
            qunsetenv("DISPLAY");
        else
            qputenv("DISPLAY", m_display);
    }

    // A plain org.freedesktop.ScreenSaver on `path` handing out cookie 7.
    std::unique_ptr<test::DBusMock> screenSaver(const QString& path = kLongPath) {
        auto mock = std::make_unique<test::DBusMock>(bus, QStringList{kScreenSaver, path, kScreenSaver},
                                                     kScreenSaver);
        EXPECT_TRUE(mock->ok());
        EXPECT_TRUE(mock->addMethod(path, kScreenSaver, QStringLiteral("Inhibit"), QStringLiteral("ss"),
                                    QStringLiteral("u"), QStringLiteral("ret = 7")));
        EXPECT_TRUE(mock->addMethod(path, kScreenSaver, QStringLiteral("UnInhibit"), QStringLiteral("u"),
                                    QString(), QString()));
        EXPECT_TRUE(mock->addMethod(path, kScreenSaver, QStringLiteral("SimulateUserActivity"), QString(),
                                    QString(), QString()));
        return mock;
    }

    // gnome-session's manager handing out cookie 9.
    std::unique_ptr<test::DBusMock> gnomeSession() {
        auto mock = std::make_unique<test::DBusMock>(
            bus, QStringList{kGnomeSession, kGnomePath, kGnomeSession}, kGnomeSession);
        EXPECT_TRUE(mock->ok());
        EXPECT_TRUE(mock->addMethod(kGnomePath, kGnomeSession, QStringLiteral("Inhibit"),
                                    QStringLiteral("susu"), QStringLiteral("u"), QStringLiteral("ret = 9")));
        EXPECT_TRUE(mock->addMethod(kGnomePath, kGnomeSession, QStringLiteral("Uninhibit"),
                                    QStringLiteral("u"), QString(), QString()));
        return mock;
    }

    // Returns once `service` has handled every message sent before on the adapter's connection:
    // a service serves one connection's messages in order.
    void drain(const QString& service, const QString& path) {
        const QDBusMessage reply = connection.call(QDBusMessage::createMethodCall(
            service, path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
            QStringLiteral("Introspect")));
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }

    // The calls of `method` once there are at least `count` (replies reach the guard in their own time).
    static Calls callsOnceThere(const test::DBusMock& mock, const QString& path, const QString& method,
                                qsizetype count = 1) {
        test::waitUntil([&] { return named(mock.calls(path), method).size() >= count; });
        return named(mock.calls(path), method);
    }

    test::PrivateBus bus;
    QDBusConnection connection{QString()};

private:
    QByteArray m_display;
};

using SleepGuardTest = SessionBusTest;

// How many inhibitors logind lists for Morvane.
int ourInhibitors(const QDBusConnection& system) {
    const QDBusMessage reply = system.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("ListInhibitors")));
    const QDBusArgument list = reply.arguments().value(0).value<QDBusArgument>();
    int count = 0;
    list.beginArray();
    while (!list.atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        list.beginStructure();
        list >> what >> who >> why >> mode >> uid >> pid;
        list.endStructure();
        count += who == QStringLiteral("Morvane") ? 1 : 0;
    }
    list.endArray();
    return count;
}

TEST_F(SleepGuardTest, TakesEachInhibitionOnceAndReleasesItOnce) {
    const auto saver = screenSaver();
    const auto gnome = gnomeSession();
    SessionSleepGuard guard(connection);

    guard.set(false);
    drain(kScreenSaver, kLongPath);
    drain(kGnomeSession, kGnomePath);
    EXPECT_TRUE(saver->calls(kLongPath).isEmpty());
    EXPECT_TRUE(gnome->calls(kGnomePath).isEmpty());

    guard.set(true);
    guard.set(true);
    drain(kScreenSaver, kLongPath);
    drain(kGnomeSession, kGnomePath);
    ASSERT_TRUE(test::waitUntil([&] { return guard.active(); }));
    Calls inhibits = named(saver->calls(kLongPath), QStringLiteral("Inhibit"));
    ASSERT_EQ(inhibits.size(), 1);
    EXPECT_EQ(inhibits[0].second, (QVariantList{QStringLiteral("Morvane"), kReason}));
    Calls gnomeInhibits = named(gnome->calls(kGnomePath), QStringLiteral("Inhibit"));
    ASSERT_EQ(gnomeInhibits.size(), 1);
    EXPECT_EQ(gnomeInhibits[0].second, (QVariantList{QStringLiteral("Morvane"), 0u, kReason, 8u}));

    guard.set(false);
    guard.set(false);
    EXPECT_FALSE(guard.active());
    const Calls releases = callsOnceThere(*saver, kLongPath, QStringLiteral("UnInhibit"));
    ASSERT_EQ(releases.size(), 1);
    EXPECT_EQ(releases[0].second, QVariantList{7u});
    const Calls gnomeReleases = callsOnceThere(*gnome, kGnomePath, QStringLiteral("Uninhibit"));
    ASSERT_EQ(gnomeReleases.size(), 1);
    EXPECT_EQ(gnomeReleases[0].second, QVariantList{9u});

    // Released means a later switch-on takes it anew.
    guard.set(true);
    EXPECT_TRUE(test::waitUntil([&] { return guard.active(); }));
    EXPECT_EQ(named(saver->calls(kLongPath), QStringLiteral("Inhibit")).size(), 2);
}

TEST_F(SleepGuardTest, ServiceOnTheShortPathIsInhibitedAndReleasedThere) {
    const auto saver = screenSaver(kShortPath);
    SessionSleepGuard guard(connection);

    guard.set(true);
    ASSERT_TRUE(test::waitUntil([&] { return guard.active(); }));
    EXPECT_EQ(named(saver->calls(kShortPath), QStringLiteral("Inhibit")).size(), 1);

    guard.set(false);
    const Calls releases = callsOnceThere(*saver, kShortPath, QStringLiteral("UnInhibit"));
    ASSERT_EQ(releases.size(), 1);
    EXPECT_EQ(releases[0].second, QVariantList{7u});
}

TEST_F(SleepGuardTest, RefusedInhibitionLeavesItInactiveAndIsTriedAgain) {
    const auto saver = screenSaver();
    ASSERT_TRUE(saver->addMethod(kLongPath, kScreenSaver, QStringLiteral("Inhibit"), QStringLiteral("ss"),
                                 QStringLiteral("u"),
                                 QStringLiteral("raise dbus.exceptions.DBusException('refused', "
                                                "name='org.freedesktop.DBus.Error.AccessDenied')")));
    SessionSleepGuard guard(connection);
    guard.set(true);
    callsOnceThere(*saver, kLongPath, QStringLiteral("Inhibit"));
    drain(kScreenSaver, kLongPath);
    EXPECT_FALSE(guard.active());

    ASSERT_TRUE(saver->addMethod(kLongPath, kScreenSaver, QStringLiteral("Inhibit"), QStringLiteral("ss"),
                                 QStringLiteral("u"), QStringLiteral("ret = 7")));
    // Each switch-on asks again once the refusal is back.
    EXPECT_TRUE(test::waitUntil([&] {
        guard.set(true);
        return guard.active();
    }));
    EXPECT_EQ(named(saver->calls(kLongPath), QStringLiteral("Inhibit")).size(), 2);
}

TEST_F(SleepGuardTest, NothingToInhibitLeavesItInactive) {
    SessionSleepGuard guard(connection);
    guard.set(true);
    EXPECT_FALSE(guard.active());
    guard.set(false);
    EXPECT_FALSE(guard.active());
}

TEST_F(SleepGuardTest, DestructionReleasesWhatIsHeld) {
    const auto saver = screenSaver();
    {
        SessionSleepGuard guard(connection);
        guard.set(true);
        ASSERT_TRUE(test::waitUntil([&] { return guard.active(); }));
    }
    drain(kScreenSaver, kLongPath);
    EXPECT_EQ(named(saver->calls(kLongPath), QStringLiteral("UnInhibit")).size(), 1);
}

TEST_F(SleepGuardTest, CookiesThatArriveLateAreKeptOrReleasedAsTheSwitchNowSays) {
    const auto saver = screenSaver();
    // A desktop busy at login: slower than any call we could afford to block on.
    ASSERT_TRUE(saver->addMethod(kLongPath, kScreenSaver, QStringLiteral("Inhibit"), QStringLiteral("ss"),
                                 QStringLiteral("u"),
                                 QStringLiteral("__import__('time').sleep(1.5)\nret = 7")));
    SessionSleepGuard guard(connection);
    guard.set(true);
    ASSERT_TRUE(test::waitUntil([&] { return guard.active(); }));
    guard.set(false);
    guard.set(true);
    guard.set(false);
    const Calls releases = callsOnceThere(*saver, kLongPath, QStringLiteral("UnInhibit"), 2);
    EXPECT_EQ(releases, (Calls{{QStringLiteral("UnInhibit"), {7u}}, {QStringLiteral("UnInhibit"), {7u}}}));
    EXPECT_EQ(named(saver->calls(kLongPath), QStringLiteral("Inhibit")).size(), 2);
    EXPECT_FALSE(guard.active());
}

TEST_F(SleepGuardTest, InhibitsThroughAServiceThatAppearsAfterSwitchingOn) {
    SessionSleepGuard guard(connection);
    guard.set(true);
    const auto saver = test::DBusMock::fromTemplate(bus, kScreenSaver, kLongPath,
                                                    QStringLiteral("[('Inhibit', 'ss', 'u', 'ret = 7'), "
                                                                   "('UnInhibit', 'u', '', '')]"));
    ASSERT_TRUE(saver && saver->ok());
    ASSERT_TRUE(test::waitUntil([&] { return guard.active(); }));
    EXPECT_EQ(named(saver->calls(kLongPath), QStringLiteral("Inhibit")).size(), 1);
    guard.set(false);
    EXPECT_EQ(callsOnceThere(*saver, kLongPath, QStringLiteral("UnInhibit")).size(), 1);
}

TEST_F(SleepGuardTest, ReportsWhichServicesTookTheInhibitionAndWhatTheySayOfIt) {
    test::PrivateBus system;
    test::DBusMock logind(system, {QStringLiteral("--template"), QStringLiteral("logind")},
                          QStringLiteral("org.freedesktop.login1"), true);
    ASSERT_TRUE(logind.ok());
    const auto saver = screenSaver();
    ASSERT_TRUE(saver->addMethod(kLongPath, kScreenSaver, QStringLiteral("Inhibit"), QStringLiteral("ss"),
                                 QStringLiteral("u"),
                                 QStringLiteral("raise dbus.exceptions.DBusException('refused', "
                                                "name='org.freedesktop.DBus.Error.AccessDenied')")));
    // A session manager that hands out a cookie yet does not count the session as inhibited.
    const auto gnome = gnomeSession();
    ASSERT_TRUE(gnome->addMethod(kGnomePath, kGnomeSession, QStringLiteral("IsInhibited"),
                                 QStringLiteral("u"), QStringLiteral("b"), QStringLiteral("ret = False")));
    QDBusConnection systemConnection = system.connect(QStringLiteral("guard-system"));
    {
        SessionSleepGuard guard(connection, systemConnection);
        using S = InhibitionState;
        const auto report = [&] {
            std::vector<std::pair<S, std::optional<bool>>> out;
            for (const InhibitionStatus& status : guard.inhibitions())
                out.emplace_back(status.state, status.confirmed);
            return out;
        };
        const std::vector<std::pair<S, std::optional<bool>>> off(4, {S::off, std::nullopt});
        EXPECT_EQ(report(), off);
        guard.set(true);
        bool confirmed = false;
        ASSERT_TRUE(
            test::waitUntil([&] { return report()[1].first == S::held && report()[2].first == S::held; }));
        guard.confirm([&] { confirmed = true; });
        ASSERT_TRUE(test::waitUntil([&] { return confirmed; }));
        EXPECT_EQ(
            report(),
            (std::vector<std::pair<S, std::optional<bool>>>{
                {S::refused, std::nullopt}, {S::held, false}, {S::held, true}, {S::absent, std::nullopt}}));
        EXPECT_EQ(guard.inhibitions()[2].service, QStringLiteral("org.freedesktop.login1"));
        EXPECT_EQ(ourInhibitors(systemConnection), 1);

        // Closing logind's descriptor is the release: logind drops the inhibitor from its list.
        guard.set(false);
        EXPECT_EQ(report(), off);
        EXPECT_TRUE(test::waitUntil([&] { return ourInhibitors(systemConnection) == 0; }));
    }
    QDBusConnection::disconnectFromBus(systemConnection.name());
}

// Reads the X screensaver's state from a connection of the test's own.
struct XSaver {
    Display* display = XOpenDisplay(nullptr);
    XScreenSaverInfo* info = XScreenSaverAllocInfo();
    ~XSaver() {
        XFree(info);
        if (display)
            XCloseDisplay(display);
    }
    XScreenSaverInfo* query() {
        XScreenSaverQueryInfo(display, DefaultRootWindow(display), info);
        return info;
    }
};

TEST_F(SleepGuardTest, SuspendsTheXScreenSaverWithoutAnyBusService) {
    test::XServer x(false);
    ASSERT_TRUE(x.ok());
    XSaver saver;
    ASSERT_NE(saver.display, nullptr);
    XSetScreenSaver(saver.display, 1, 0, DontPreferBlanking, AllowExposures);
    XResetScreenSaver(saver.display);
    XSync(saver.display, False);

    SessionSleepGuard guard(connection);
    guard.set(true);
    EXPECT_TRUE(guard.active());
    // Past the one-second timeout the saver would be on by now, were it not suspended.
    ASSERT_TRUE(test::waitUntil([&] { return saver.query()->idle >= 1500; }));
    EXPECT_EQ(saver.query()->state, ScreenSaverOff);

    guard.set(false);
    EXPECT_FALSE(guard.active());
    EXPECT_TRUE(test::waitUntil([&] { return saver.query()->state == ScreenSaverOn; }));
}

using SessionActivityTest = SessionBusTest;

TEST_F(SessionActivityTest, DeclaresToTheScreenSaverServiceWithoutWaiting) {
    const auto saver = screenSaver();
    SessionActivity activity(connection);
    ASSERT_TRUE(activity.screenSaverPresent());

    activity.declare();
    activity.declare();
    drain(kScreenSaver, kLongPath);
    EXPECT_EQ(named(saver->calls(kLongPath), QStringLiteral("SimulateUserActivity")).size(), 2);
}

TEST_F(SessionActivityTest, FindsTheShortPathAfterTheFirstRefusal) {
    const auto saver = screenSaver(kShortPath);
    SessionActivity activity(connection);
    const auto declared = [&] {
        drain(kScreenSaver, kShortPath);
        return named(saver->calls(kShortPath), QStringLiteral("SimulateUserActivity")).size();
    };
    // Declarations go to the long path until its refusal has come back, then to the short one.
    ASSERT_TRUE(test::waitUntil([&] {
        activity.declare();
        return declared() >= 1;
    }));
    const qsizetype before = declared();
    activity.declare();
    activity.declare();
    EXPECT_EQ(declared(), before + 2);
}

TEST_F(SessionActivityTest, FollowsTheServiceComingAndGoing) {
    SessionActivity activity(connection);
    EXPECT_FALSE(activity.screenSaverPresent());

    auto saver = screenSaver();
    ASSERT_TRUE(test::waitUntil([&] { return activity.screenSaverPresent(); }));
    activity.declare();
    drain(kScreenSaver, kLongPath);
    EXPECT_EQ(named(saver->calls(kLongPath), QStringLiteral("SimulateUserActivity")).size(), 1);

    saver.reset();
    EXPECT_TRUE(test::waitUntil([&] { return !activity.screenSaverPresent(); }));
}

TEST_F(SessionActivityTest, ResetsTheXServersIdleTime) {
    test::XServer x(false);
    ASSERT_TRUE(x.ok());
    XSaver saver;
    ASSERT_NE(saver.display, nullptr);
    SessionActivity activity(connection);

    ASSERT_TRUE(test::waitUntil([&] { return saver.query()->idle >= 400; }));
    activity.declare();
    EXPECT_TRUE(test::waitUntil([&] { return saver.query()->idle < 300; }));
}

} // namespace
} // namespace morvane
