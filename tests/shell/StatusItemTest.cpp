// The tray item on a private bus, with a scripted StatusNotifierWatcher standing in for the panel,
// under Xvfb: registration, icons, label, clicks, and a panel that restarts.
#include "DBusMenu.h"
#include "ExtensionHint.h"
#include "FakePorts.h"
#include "MenuView.h"
#include "Popover.h"
#include "StatusController.h"
#include "StatusNotifierItem.h"
#include "TestServers.h"
#include "UiRig.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QLabel>
#include <QScreen>
#include <QTest>

namespace morvane {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

class StatusItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.ok());
        startWatcher();
        itemBus = bus.connect(QStringLiteral("item"));
        panelBus = bus.connect(QStringLiteral("panel"));
        popover.setContentFactory([this] {
            ++contentsBuilt;
            auto* content = new QLabel(QStringLiteral("contenido"));
            content->setFixedSize(310, 200);
            return content;
        });
        rig.prefs([](Prefs& p) {
            p.policy = TriggerPolicy::always;
            p.interval = 5;
        });
        rig.start();
        controller = std::make_unique<StatusController>(*rig.engine, *rig.store, popover, rig.clock,
                                                        StatusController::Actions{}, itemBus);
        controller->setup();
        ASSERT_TRUE(controller->statusNotifierItem());
        service = controller->statusNotifierItem()->serviceName();
        ASSERT_TRUE(test::waitUntil([&] { return registrations() == 1; }));
    }

    void TearDown() override {
        controller.reset();
        QDBusConnection::disconnectFromBus(itemBus.name());
        QDBusConnection::disconnectFromBus(panelBus.name());
    }

    void startWatcher() {
        watcher.reset();
        watcher = std::make_unique<test::DBusMock>(
            bus, QStringList{QStringLiteral("--template"), QStringLiteral(MORVANE_SNI_WATCHER)}, kWatcher);
        ASSERT_TRUE(watcher->ok());
    }

    int registrations() const {
        int n = 0;
        for (const auto& [method, args] : watcher->calls(kWatcherPath))
            n +=
                method == QStringLiteral("RegisterStatusNotifierItem") && args.value(0).toString() == service;
        return n;
    }

    // What a panel reads and does, over its own connection; the item answers from this thread's
    // event loop, so the calls are asynchronous.
    QDBusMessage panelCall(const QString& interface, const QString& method, const QVariantList& args) {
        QDBusMessage m =
            QDBusMessage::createMethodCall(service, StatusNotifierItem::kItemPath, interface, method);
        m.setArguments(args);
        QDBusPendingCall call = panelBus.asyncCall(m);
        EXPECT_TRUE(test::waitUntil([&] { return call.isFinished(); }));
        return call.reply();
    }

    QVariant property(const QString& name) {
        const QDBusMessage reply = panelCall(QStringLiteral("org.freedesktop.DBus.Properties"),
                                             QStringLiteral("Get"), {kItemInterface, name});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
        if (reply.arguments().isEmpty())
            return {};
        return qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant();
    }

    QImage largestIcon() {
        const auto list =
            qdbus_cast<SniPixmapList>(property(QStringLiteral("IconPixmap")).value<QDBusArgument>());
        EXPECT_FALSE(list.isEmpty());
        QImage best;
        for (const SniPixmap& p : list) {
            const QImage img = fromSniPixmap(p);
            if (img.height() > best.height())
                best = img;
        }
        return best;
    }

    QString label() { return property(QStringLiteral("XAyatanaLabel")).toString(); }

    // Lets the queued refreshes run.
    void settle() {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }

    test::PrivateBus bus;
    std::unique_ptr<test::DBusMock> watcher;
    QDBusConnection itemBus{QString()};
    QDBusConnection panelBus{QString()};
    test::Rig rig;
    Popover popover;
    int contentsBuilt = 0;
    std::unique_ptr<StatusController> controller;
    QString service;
};

int differingPixels(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return a.width() * a.height();
    int n = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x)
            n += qAbs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y))) > 64;
    }
    return n;
}

TEST_F(StatusItemTest, IconFollowsTheFourStates) {
    std::vector<std::pair<TrayState, QImage>> seen;
    const auto record = [&] {
        settle();
        seen.emplace_back(controller->shownState(), largestIcon());
    };
    record(); // off
    rig.engine->toggle(false);
    record(); // on: nothing moved yet
    rig.screenLock.locked = true;
    rig.tick();
    record(); // on and blocked
    rig.screenLock.locked = false;
    rig.clock.advance(10);
    rig.tick();
    record(); // working: a movement after the last input
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].first, TrayState::off);
    EXPECT_EQ(seen[1].first, TrayState::on);
    EXPECT_EQ(seen[2].first, TrayState::blocked);
    EXPECT_EQ(seen[3].first, TrayState::working);
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].second.height(), 48);
        for (size_t j = i + 1; j < seen.size(); ++j)
            EXPECT_GT(differingPixels(seen[i].second, seen[j].second), 20) << i << " vs " << j;
    }
}

TEST_F(StatusItemTest, LabelShowsTheCountdownOnlyWhileARunHasAnEnd) {
    EXPECT_EQ(label(), QString());
    rig.idle.watches = true;
    rig.engine->activate(instant::plusSeconds(rig.engine->now(), 65 * 60));
    settle();
    EXPECT_EQ(label(), QStringLiteral(" 1:05:00"));
    ASSERT_TRUE(rig.ticker.resting) << "no window open: the engine does not tick every second";
    rig.clock.advance(1);
    EXPECT_TRUE(test::waitUntil([&] { return label() == QStringLiteral(" 1:04:59"); }))
        << "the label keeps its one-second update";
    rig.prefs([](Prefs& p) { p.countdownInMenuBar = false; });
    settle();
    EXPECT_EQ(label(), QString());
    rig.prefs([](Prefs& p) { p.countdownInMenuBar = true; });
    rig.engine->cancelTimers(); // on, without an end
    settle();
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_EQ(label(), QString());
}

TEST_F(StatusItemTest, ClicksOpenThePopoverAndSwitchTheEngine) {
    panelCall(kItemInterface, QStringLiteral("Activate"), {400, 30});
    ASSERT_TRUE(test::waitUntil([&] { return popover.isVisible(); }));
    EXPECT_LE(qAbs(popover.geometry().center().x() - 400), 2);
    EXPECT_GE(popover.geometry().top(), 30);
    EXPECT_LE(popover.geometry().top(), 40);
    EXPECT_FALSE(rig.engine->enabled());

    panelCall(kItemInterface, QStringLiteral("Activate"), {400, 30});
    ASSERT_TRUE(test::waitUntil([&] { return !popover.isVisible(); }));
    EXPECT_EQ(popover.content(), nullptr) << "a closed popover holds no widgets";

    // Right click: closes an open popover and switches.
    panelCall(kItemInterface, QStringLiteral("Activate"), {400, 30});
    ASSERT_TRUE(test::waitUntil([&] { return popover.isVisible(); }));
    EXPECT_EQ(contentsBuilt, 2) << "built again on opening";
    panelCall(kItemInterface, QStringLiteral("ContextMenu"), {400, 30});
    EXPECT_TRUE(test::waitUntil([&] { return !popover.isVisible() && rig.engine->enabled(); }));

    // Ctrl held while the left click arrives: a switch, no popover.
    ASSERT_EQ(test::run(QStringLiteral("xdotool"), {QStringLiteral("keydown"), QStringLiteral("ctrl")}), 0);
    panelCall(kItemInterface, QStringLiteral("Activate"), {400, 30});
    test::run(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("ctrl")});
    EXPECT_TRUE(test::waitUntil([&] { return !rig.engine->enabled(); }));
    EXPECT_FALSE(popover.isVisible());
}

TEST_F(StatusItemTest, PopoverOpensAboveAPointNearTheBottomEdge) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    panelCall(kItemInterface, QStringLiteral("Activate"), {area.right() - 3, area.bottom() - 5});
    ASSERT_TRUE(test::waitUntil([&] { return popover.isVisible(); }));
    EXPECT_LE(popover.geometry().bottom(), area.bottom() - 5);
    EXPECT_LE(popover.geometry().right(), area.right());
    QTest::keyClick(&popover, Qt::Key_Escape);
    EXPECT_FALSE(popover.isVisible());
}

// The real popover on a real X server: opened from the panel with the permission banner showing,
// it is as tall as the view needs, and nothing inside is squeezed.
TEST_F(StatusItemTest, OpenedPopoverHandsItsContentFullHeight) {
    test::UiRig ui;
    ui.trust.answer = false;
    ui.start();
    ui.engine->doJiggle(ui.clock.now());
    auto* view =
        new MenuView(*ui.engine, *ui.store, *ui.updater, ui.clock, MenuView::defaultQuick(), ui.actions);
    popover.setContent(view);
    panelCall(kItemInterface, QStringLiteral("Activate"), {400, 30});
    ASSERT_TRUE(test::waitUntil([&] { return popover.isVisible() && view->isVisible(); }));
    settle();
    EXPECT_TRUE(view->findChild<QWidget*>(QStringLiteral("permissionBanner"))->isVisible());
    EXPECT_EQ(view->height(), view->sizeHint().height());
    EXPECT_EQ(popover.height(), view->height() + 2); // the one-pixel frame
    EXPECT_EQ(test::squeezedWidgets(*view), QStringList());
}

TEST_F(StatusItemTest, MenuOffersItsEntriesAndSwitchesFromTheSecond) {
    const auto menuCall = [&](const QString& method, const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall(service, StatusNotifierItem::kMenuPath,
                                                        QStringLiteral("com.canonical.dbusmenu"), method);
        m.setArguments(args);
        QDBusPendingCall call = panelBus.asyncCall(m);
        EXPECT_TRUE(test::waitUntil([&] { return call.isFinished(); }));
        return call.reply();
    };
    const QDBusMessage layout = menuCall(QStringLiteral("GetLayout"), {0, -1, QStringList()});
    ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << qPrintable(layout.errorMessage());
    const auto root = qdbus_cast<DBusMenuLayoutItem>(layout.arguments().value(1).value<QDBusArgument>());
    QStringList labels;
    for (const DBusMenuLayoutItem& item : root.children)
        labels << item.properties.value(QStringLiteral("label")).toString();
    EXPECT_EQ(labels, (QStringList{QStringLiteral("Abrir Morvane"), QStringLiteral("Activar / desactivar"),
                                   QStringLiteral("Preferencias"), QStringLiteral("Salir")}));

    // xfce sends the click as a group of one.
    const DBusMenuEventList events{{2, QStringLiteral("clicked"), QDBusVariant(0), 0}};
    const QDBusMessage reply = menuCall(QStringLiteral("EventGroup"), {QVariant::fromValue(events)});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(reply.errorMessage());
    EXPECT_TRUE(test::waitUntil([&] { return rig.engine->enabled(); }));
}

TEST_F(StatusItemTest, RegistersAgainWhenThePanelRestarts) {
    startWatcher();
    EXPECT_TRUE(test::waitUntil([&] { return registrations() == 1; }));
    EXPECT_EQ(controller->host(), StatusController::Host::statusNotifier);
}

class SignalCounter : public QObject {
    Q_OBJECT
public:
    int count = 0;
public Q_SLOTS:
    void hit() { ++count; }
};

TEST_F(StatusItemTest, ToolTipSaysWhetherTheSessionRegistersTheMovements) {
    SignalCounter announced;
    ASSERT_TRUE(panelBus.connect(service, StatusNotifierItem::kItemPath, kItemInterface,
                                 QStringLiteral("NewToolTip"), &announced, SLOT(hit())));
    const auto tip = [&] {
        return qdbus_cast<SniToolTip>(property(QStringLiteral("ToolTip")).value<QDBusArgument>()).text;
    };
    EXPECT_EQ(tip(), QStringLiteral("Apagado\nTodavía no se comprobó ningún movimiento"));

    rig.moveEveryTwoSeconds();
    rig.engine->setEnabled(true);
    ASSERT_TRUE(rig.tickUntil(Verdict::verified));
    settle();
    const QString line = QStringLiteral("La sesión registró el último movimiento (hace 1 s)");
    EXPECT_EQ(tip(), QStringLiteral("Activo\n") + line);
    EXPECT_EQ(controller->shownToolTip(), QStringLiteral("Activo\n") + line);
    ASSERT_TRUE(test::waitUntil([&] { return announced.count > 0; }));

    // The age is read fresh by the panel; a tick that changes nothing else announces nothing.
    const int before = announced.count;
    rig.tick();
    settle();
    EXPECT_EQ(tip(), QStringLiteral("Activo\nLa sesión registró el último movimiento (hace 2 s)"));
    test::waitUntil([] { return false; }, 100);
    EXPECT_EQ(announced.count, before);

    // Switched off while working, the engine rests: icon, tooltip and its age follow all the same.
    ASSERT_EQ(controller->shownState(), TrayState::working);
    const QImage offIcon = fromSniPixmap(toSniPixmap(trayImage(TrayState::off, 48)));
    rig.engine->toggle(false);
    settle();
    EXPECT_TRUE(rig.ticker.resting);
    EXPECT_EQ(controller->shownState(), TrayState::off);
    EXPECT_EQ(differingPixels(largestIcon(), offIcon), 0);
    EXPECT_TRUE(test::waitUntil([&] { return announced.count > before; }));
    rig.clock.advance(65);
    EXPECT_EQ(tip(), QStringLiteral("Apagado\nLa sesión registró el último movimiento (hace 1 min 7 s)"));
    EXPECT_EQ(controller->shownToolTip(), tip());
}

// What GNOME says of Morvane's extension decides the one notification about it.
TEST(ExtensionHintTest, SaysHowToTurnTheExtensionOnOnlyWhenThatHelps) {
    const auto state = [](double value, const QString& error = {}) {
        return QVariantMap{{QStringLiteral("state"), value}, {QStringLiteral("error"), error}};
    };
    struct Case {
        QVariantMap info;
        bool installed;
        std::optional<QString> message;
    };
    const QString turnOn = QStringLiteral("GNOME no tiene bandeja del sistema. Para ver Morvane en la barra "
                                          "superior, activalo en Extensiones → Morvane.");
    const Case cases[] = {
        {state(2), true, turnOn},             // installed, off
        {state(6), true, turnOn},             // installed, never enabled since the log-in
        {state(1), true, std::nullopt},       // running: nothing to say
        {QVariantMap(), false, std::nullopt}, // not installed at all
        {QVariantMap{{QStringLiteral("state"), QStringLiteral("x")}}, true, std::nullopt}, // unreadable
        {QVariantMap(), true,
         QStringLiteral("GNOME verá la extensión de Morvane cuando cierres sesión y vuelvas a entrar. "
                        "Después, activala en Extensiones → Morvane.")},
        {state(3, QStringLiteral("SyntaxError")), true,
         QStringLiteral("La extensión de Morvane no pudo cargarse en esta versión de GNOME: SyntaxError")},
        {state(4), true,
         QStringLiteral("La extensión de Morvane no pudo cargarse en esta versión de GNOME.")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExtensionHint::message(c.info, c.installed), c.message)
            << c.info.value("state").toString().toStdString();
}

} // namespace
} // namespace morvane

#include "StatusItemTest.moc"
