// The RemoteDesktop and GlobalShortcuts portal clients against a scripted portal (portal_mock.py)
// on a private bus: the Request/Response flow, consent given and refused, restore tokens, the
// session closed by the desktop, and shortcut activations.
#include "FakePorts.h"
#include "PortalHotKey.h"
#include "PortalRemoteDesktop.h"
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QJsonDocument>
#include <QJsonObject>

namespace morvane {
namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");

using Calls = QList<std::pair<QString, QVariantList>>;

class PortalTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.ok());
        client = bus.connect(QStringLiteral("portal-client"));
        ASSERT_TRUE(client.isConnected());
    }
    void TearDown() override { QDBusConnection::disconnectFromBus(client.name()); }

    // The scripted portal, requests addressed to our connection; `answer` is what the user says.
    // Started before any call: the session bus would otherwise activate an installed portal.
    void startPortal(int answer = 0, bool shortcuts = true, int devices = 3) {
        const QJsonObject parameters{{QStringLiteral("sender"), client.baseService()},
                                     {QStringLiteral("answer"), answer},
                                     {QStringLiteral("shortcuts"), shortcuts},
                                     {QStringLiteral("devices"), devices}};
        portal = std::make_unique<test::DBusMock>(
            bus,
            QStringList{QStringLiteral("-t"), QStringLiteral(MORVANE_PORTAL_MOCK), QStringLiteral("-p"),
                        QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))},
            kPortal);
        ASSERT_TRUE(portal->ok());
    }

    Calls calls(const QString& method, const QString& path = kPortalPath) const {
        Calls out;
        for (const auto& call : portal->calls(path))
            if (call.first == method)
                out.append(call);
        return out;
    }

    test::PrivateBus bus;
    QDBusConnection client{QString()};
    std::unique_ptr<test::DBusMock> portal;
    test::MemoryDefaults store;
};

QString sessionOf(const std::pair<QString, QVariantList>& call) {
    return call.second.value(0).value<QDBusObjectPath>().path();
}

TEST_F(PortalTest, ConsentStartsASessionThatCarriesEveryMode) {
    startPortal();
    ASSERT_TRUE(PortalRemoteDesktop::available(client));
    PortalRemoteDesktop remote(client, store);
    PortalTrust trust(remote);
    PortalJiggler jiggler(remote, nullptr, nullptr);
    // No stored grant: nothing is asked until the user does.
    EXPECT_EQ(remote.state(), PortalRemoteDesktop::State::idle);
    EXPECT_FALSE(trust.trusted());
    EXPECT_TRUE(calls(QStringLiteral("CreateSession")).isEmpty());

    remote.requestConsent();
    ASSERT_TRUE(test::waitUntil([&] { return trust.trusted(); }));
    EXPECT_EQ(store.values.value(PortalRemoteDesktop::restoreTokenKey()).toString(),
              QStringLiteral("token-1"));
    const Calls select = calls(QStringLiteral("SelectDevices"));
    ASSERT_EQ(select.size(), 1);
    const QVariantMap options = qdbus_cast<QVariantMap>(select[0].second.value(1));
    EXPECT_EQ(options.value(QStringLiteral("types")).toUInt(), 2u);
    EXPECT_EQ(options.value(QStringLiteral("persist_mode")).toUInt(), 2u);
    EXPECT_FALSE(options.contains(QStringLiteral("restore_token")));

    jiggler.perform(JiggleMode::standard, 4, false);
    ASSERT_TRUE(test::waitUntil([&] { return calls(QStringLiteral("NotifyPointerMotion")).size() == 2; }));
    jiggler.perform(JiggleMode::zen, 4, false);
    jiggler.perform(JiggleMode::click, 4, false);
    ASSERT_TRUE(test::waitUntil([&] { return calls(QStringLiteral("NotifyPointerButton")).size() == 2; }));

    const Calls motions = calls(QStringLiteral("NotifyPointerMotion"));
    ASSERT_EQ(motions.size(), 3);
    const QList<std::pair<double, double>> expected{{4, 0}, {-4, 0}, {0, 0}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sessionOf(motions[i]), sessionOf(select[0]));
        EXPECT_DOUBLE_EQ(motions[i].second.value(2).toDouble(), expected[i].first) << i;
        EXPECT_DOUBLE_EQ(motions[i].second.value(3).toDouble(), expected[i].second) << i;
    }
    const Calls buttons = calls(QStringLiteral("NotifyPointerButton"));
    EXPECT_EQ(buttons[0].second.value(2).toInt(), 0x110); // BTN_LEFT, pressed then released
    EXPECT_EQ(buttons[0].second.value(3).toUInt(), 1u);
    EXPECT_EQ(buttons[1].second.value(3).toUInt(), 0u);
}

TEST_F(PortalTest, RefusalLeavesNoTrustNoInputAndNoToken) {
    startPortal(1);
    store.values.insert(PortalRemoteDesktop::restoreTokenKey(), QStringLiteral("stale"));
    PortalRemoteDesktop remote(client, store);
    PortalJiggler jiggler(remote, nullptr, nullptr);
    // The stored grant is offered at once; the desktop refuses it.
    ASSERT_TRUE(test::waitUntil([&] { return !calls(QStringLiteral("Start")).isEmpty(); }));
    ASSERT_TRUE(test::waitUntil([&] { return remote.state() == PortalRemoteDesktop::State::idle; }));
    const Calls select = calls(QStringLiteral("SelectDevices"));
    ASSERT_EQ(select.size(), 1);
    EXPECT_EQ(
        qdbus_cast<QVariantMap>(select[0].second.value(1)).value(QStringLiteral("restore_token")).toString(),
        QStringLiteral("stale"));
    EXPECT_TRUE(store.values.value(PortalRemoteDesktop::restoreTokenKey()).toString().isEmpty());
    // The refused session is closed, and a movement posts nothing.
    EXPECT_TRUE(
        test::waitUntil([&] { return !calls(QStringLiteral("Close"), sessionOf(select[0])).isEmpty(); }));
    jiggler.perform(JiggleMode::click, 4, false);
    jiggler.perform(JiggleMode::standard, 4, false);
    test::waitUntil([] { return false; }, 200);
    EXPECT_TRUE(calls(QStringLiteral("NotifyPointerButton")).isEmpty());
    EXPECT_TRUE(calls(QStringLiteral("NotifyPointerMotion")).isEmpty());
}

TEST_F(PortalTest, ZenNeverAsksForConsentAndTheDesktopCanEndTheSession) {
    startPortal();
    PortalRemoteDesktop remote(client, store);
    PortalJiggler jiggler(remote, nullptr, nullptr);
    jiggler.perform(JiggleMode::zen, 4, false);
    test::waitUntil([] { return false; }, 200);
    EXPECT_TRUE(calls(QStringLiteral("CreateSession")).isEmpty());

    remote.requestConsent();
    ASSERT_TRUE(test::waitUntil([&] { return remote.state() == PortalRemoteDesktop::State::started; }));
    const QString session = sessionOf(calls(QStringLiteral("SelectDevices")).value(0));
    ASSERT_TRUE(portal->emitSignal(session, QStringLiteral("org.freedesktop.portal.Session"),
                                   QStringLiteral("Closed"), QStringLiteral("a{sv}"), {QVariantMap()}));
    ASSERT_TRUE(test::waitUntil([&] { return remote.state() == PortalRemoteDesktop::State::idle; }));
    // Once the desktop ended it, only the user's own request asks again.
    jiggler.perform(JiggleMode::zen, 4, false);
    test::waitUntil([] { return false; }, 200);
    EXPECT_EQ(calls(QStringLiteral("CreateSession")).size(), 1);
    EXPECT_TRUE(calls(QStringLiteral("NotifyPointerMotion")).isEmpty());
}

TEST_F(PortalTest, APortalWithoutPointerOrShortcutsOffersNeither) {
    startPortal(0, false, 1);
    EXPECT_FALSE(PortalRemoteDesktop::available(client));
    EXPECT_FALSE(PortalHotKeyFactory::available(client));
}

TEST_F(PortalTest, HotKeyBindsOnceAndRunsOnItsOwnActivation) {
    startPortal();
    ASSERT_TRUE(PortalHotKeyFactory::available(client));
    PortalHotKeyFactory factory(client);
    int presses = 0;
    std::unique_ptr<HotKey> key = factory.create([&] { ++presses; });
    key->registerKey();
    key->registerKey();
    ASSERT_TRUE(test::waitUntil([&] { return key->isRegistered(); }));
    const Calls binds = calls(QStringLiteral("BindShortcuts"));
    ASSERT_EQ(binds.size(), 1);
    EXPECT_EQ(calls(QStringLiteral("CreateSession")).size(), 1);
    const QString session = sessionOf(binds[0]);
    {
        const QDBusArgument shortcuts = binds[0].second.value(1).value<QDBusArgument>();
        QString id;
        QVariantMap properties;
        shortcuts.beginArray();
        shortcuts.beginStructure();
        shortcuts >> id >> properties;
        // Unbalanced, the nested readers would never be freed.
        shortcuts.endStructure();
        shortcuts.endArray();
        EXPECT_EQ(id, QStringLiteral("toggle"));
        EXPECT_EQ(properties.value(QStringLiteral("preferred_trigger")).toString(),
                  QStringLiteral("CTRL+ALT+LOGO+j"));
    }

    const auto activate = [&](const QString& inSession, const QString& id) {
        return portal->emitSignal(
            kPortalPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
            QStringLiteral("Activated"), QStringLiteral("osta{sv}"),
            {QVariant::fromValue(QDBusObjectPath(inSession)), id, qulonglong(1), QVariantMap()});
    };
    ASSERT_TRUE(activate(session, QStringLiteral("other")));
    ASSERT_TRUE(
        activate(QStringLiteral("/org/freedesktop/portal/desktop/session/x/y"), QStringLiteral("toggle")));
    ASSERT_TRUE(activate(session, QStringLiteral("toggle")));
    ASSERT_TRUE(test::waitUntil([&] { return presses > 0; }));
    test::waitUntil([] { return false; }, 100);
    EXPECT_EQ(presses, 1);

    key->unregisterKey();
    EXPECT_FALSE(key->isRegistered());
    ASSERT_TRUE(test::waitUntil([&] { return !calls(QStringLiteral("Close"), session).isEmpty(); }));
    ASSERT_TRUE(activate(session, QStringLiteral("toggle")));
    test::waitUntil([] { return false; }, 200);
    EXPECT_EQ(presses, 1);
}

TEST_F(PortalTest, RefusedShortcutStaysUnregistered) {
    startPortal(1);
    PortalHotKeyFactory factory(client);
    std::unique_ptr<HotKey> key = factory.create([] {});
    key->registerKey();
    ASSERT_TRUE(test::waitUntil([&] { return !calls(QStringLiteral("BindShortcuts")).isEmpty(); }));
    test::waitUntil([] { return false; }, 200);
    EXPECT_FALSE(key->isRegistered());
    // Refused, it may be asked again.
    key->registerKey();
    EXPECT_TRUE(test::waitUntil([&] { return calls(QStringLiteral("BindShortcuts")).size() == 2; }));
}

} // namespace
} // namespace morvane
