// The popover on the real engine with fake ports: what it shows for each engine state, and what
// each control asks of the engine, the updater and the application, driven as a user would.
#include "MenuView.h"

#include "Fmt.h"
#include "StateBadge.h"
#include "Theme.h"
#include "UiRig.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

using namespace morvane;
using namespace morvane::test;

namespace morvane {
inline void PrintTo(const MenuView::Line& l, std::ostream* os) {
    *os << int(l.icon) << ' ' << l.text.toStdString();
}
} // namespace morvane

namespace {

Instant at(int day, int hour, int minute = 0) {
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute), instant::kUtc);
}

struct MenuViewTest : ::testing::Test {
    UiRig rig;
    std::unique_ptr<MenuView> view;

    explicit MenuViewTest(UpdaterOptions options = UiRig::unreachableFeed())
        : rig(options) {}

    void build() {
        view = std::make_unique<MenuView>(*rig.engine, *rig.store, *rig.updater, rig.clock,
                                          MenuView::defaultQuick(), rig.actions);
        view->show();
    }
    template <typename T = QWidget> T* find(const QString& name) {
        T* w = view->findChild<T*>(name);
        EXPECT_TRUE(w) << name.toStdString();
        return w;
    }
    void click(const QString& name) { QTest::mouseClick(find<QAbstractButton>(name), Qt::LeftButton); }
    bool shown(const QString& name) { return find(name)->isVisible(); }
    QStringList lineTexts() {
        QStringList texts;
        for (int i = 0; i < 4; ++i)
            if (auto* l = find<QLabel>(QStringLiteral("timerLine%1").arg(i)); l->isVisible())
                texts << l->text();
        return texts;
    }
    QLineEdit* part(const QString& field, const QString& name) {
        return find(field)->findChild<QLineEdit*>(name);
    }
    void type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Return);
    }
};

TEST(MenuViewLines, OrderAndFallbackToNextSchedule) {
    const Instant now = at(2, 12);
    Prefs prefs;
    prefs.schedulesEnabled = true;
    MenuView::TimerState all{now, at(2, 12, 30), at(2, 14), at(2, 16), at(2, 12, 5), Schedule{}};
    const QTimeZone utc("UTC");
    EXPECT_EQ(MenuView::timerLines(all, prefs, utc),
              (QList<MenuView::Line>{{Symbol::timer, "Se apaga en 30:00 (12:30)"},
                                     {Symbol::alarm, "Se enciende a las 14:00 hasta las 16:00"},
                                     {Symbol::pauseCircle, "En pausa, vuelve en 5:00"},
                                     {Symbol::calendar, "Horario laboral hasta las 18:00"}}));

    // A running schedule whose occurrence does not contain now gives way to the next start.
    Schedule sundays;
    sundays.days = {1};
    const MenuView::TimerState stale{now, {}, {}, {}, {}, sundays};
    const QString thursday = Fmt::time(at(3, 9), utc, now);
    EXPECT_EQ(MenuView::timerLines(stale, prefs, utc),
              (QList<MenuView::Line>{{Symbol::calendar, "Próximo horario: " + thursday}}));
    prefs.schedulesEnabled = false;
    EXPECT_TRUE(MenuView::timerLines(stale, prefs, utc).isEmpty());
}

TEST_F(MenuViewTest, TimersBlockFollowsTheEngine) {
    rig.prefs([](Prefs& p) { p.schedulesEnabled = true; });
    rig.start(); // Wednesday 12:00, inside the default weekday schedule
    build();
    rig.engine->activate(at(2, 12, 30));
    rig.engine->schedule(at(2, 14), std::nullopt);
    EXPECT_EQ(lineTexts(), (QStringList{"Se apaga en 30:00 (12:30)", "Se enciende a las 14:00",
                                        "Horario laboral hasta las 18:00"}));
    EXPECT_TRUE(shown("cancelTimersButton"));

    rig.engine->pause(300);
    EXPECT_EQ(lineTexts(), (QStringList{"Se enciende a las 14:00", "En pausa, vuelve en 5:00",
                                        "Horario laboral hasta las 18:00"}));

    click("cancelTimersButton");
    EXPECT_FALSE(rig.engine->hasTimers());
    EXPECT_EQ(lineTexts(), QStringList{"Horario laboral hasta las 18:00"});
    EXPECT_FALSE(shown("cancelTimersButton"));
}

TEST_F(MenuViewTest, NextScheduleLineOrNoBlockAtAll) {
    rig.clock.t = at(2, 19);
    rig.prefs([](Prefs& p) { p.schedulesEnabled = true; });
    rig.start();
    build();
    EXPECT_EQ(lineTexts(), QStringList{"Próximo horario: " + Fmt::time(at(3, 9), rig.clock.zone, at(2, 19))});
    EXPECT_FALSE(shown("cancelTimersButton"));

    const int withLine = view->sizeHint().height();
    rig.prefs([](Prefs& p) { p.schedulesEnabled = false; });
    EXPECT_FALSE(shown("timersBlock"));
    EXPECT_LT(view->sizeHint().height(), withLine);
}

TEST_F(MenuViewTest, TickUpdatesCountdownWithoutNewWidgets) {
    rig.start();
    build();
    rig.engine->activate(at(2, 12, 30));
    const qsizetype widgets = view->findChildren<QWidget*>().size();
    const qsizetype objects = view->findChildren<QObject*>().size();
    EXPECT_EQ(lineTexts(), QStringList{"Se apaga en 30:00 (12:30)"});
    rig.tick();
    EXPECT_EQ(lineTexts(), QStringList{"Se apaga en 29:59 (12:30)"});
    EXPECT_EQ(view->findChildren<QWidget*>().size(), widgets);
    EXPECT_EQ(view->findChildren<QObject*>().size(), objects);
}

TEST_F(MenuViewTest, PermissionBannerByMode) {
    rig.trust.answer = false;
    rig.start();
    build();
    QSignalSpy resized(view.get(), &MenuView::preferredSizeChanged);
    for (const auto& [mode, expected] :
         {std::pair{JiggleMode::standard, true}, std::pair{JiggleMode::zen, false},
          std::pair{JiggleMode::click, true}}) {
        rig.prefs([mode = mode](Prefs& p) { p.mode = mode; });
        EXPECT_EQ(shown("permissionBanner"), expected) << toText(mode).toStdString();
    }
    EXPECT_EQ(resized.size(), 2); // hidden for zen, shown again for click
    EXPECT_EQ(view->sizeHint(), resized.last().at(0).toSize());
    EXPECT_EQ(view->sizeHint().width(), MenuView::kWidth);
}

TEST_F(MenuViewTest, ActivityBannerWhileTheSessionIgnoresTheMovements) {
    rig.moveEveryTwoSeconds();
    rig.jiggler.registers = false;
    rig.start();
    build();
    rig.engine->setEnabled(true);
    rig.ticks(6); // two movements read back, not yet a verdict
    EXPECT_FALSE(shown("activityBanner"));
    ASSERT_TRUE(rig.tickUntil(Verdict::unverified));
    EXPECT_TRUE(shown("activityBanner"));
    EXPECT_EQ(find<QLabel>("activityBannerText")->text(),
              "La sesión no está registrando los movimientos: la pantalla puede apagarse igual.");
    auto* diagnose = find<QAbstractButton>("diagnoseButton");
    EXPECT_EQ(diagnose->text(), "Ver diagnóstico");
    EXPECT_EQ(diagnose->accessibleName(), "Ver el diagnóstico de Morvane");
    click("diagnoseButton");
    EXPECT_EQ(rig.calls, QStringList{"showDiagnosis"});

    // It goes by itself once a movement registers again.
    rig.jiggler.registers = true;
    ASSERT_TRUE(rig.tickUntil(Verdict::verified));
    EXPECT_FALSE(shown("activityBanner"));
}

TEST_F(MenuViewTest, ButtonsCallTheApplication) {
    rig.trust.answer = false;
    rig.start();
    build();
    const std::pair<const char*, QStringList> cases[] = {
        {"grantPermissionButton", {"requestPermission"}},
        {"relaunchButton", {"relaunch"}},
        {"resetPermissionButton", {"resetPermission"}},
        {"settingsButton", {"closePopover", "showSettings:0"}},
        {"quitButton", {"quit"}},
    };
    for (const auto& [name, calls] : cases) {
        rig.calls.clear();
        click(name);
        EXPECT_EQ(rig.calls, calls) << name;
    }
    EXPECT_EQ(find<QAbstractButton>("settingsButton")->toolTip(), "Preferencias");
    EXPECT_EQ(find<QAbstractButton>("quitButton")->accessibleName(), "Salir");
}

TEST_F(MenuViewTest, ControlsUseTheWallClockAtThePress) {
    rig.prefs([](Prefs& p) {
        p.customActivateMinutes = 90;
        p.customPauseMinutes = 30;
        p.lastUntilMinutes = 1080;
    });
    rig.start();
    build();
    // The engine's now stays at 12:00; the buttons must read the clock.
    rig.clock.t = at(2, 12, 17);
    const auto stopAt = [&] { return rig.engine->stopAt(); };
    const auto pausedUntil = [&] { return rig.engine->pausedUntil(); };
    const std::tuple<const char*, std::function<OptInstant()>, Instant> cases[] = {
        {"quick:1 h", stopAt, at(2, 13, 17)},         {"quick:8 h", stopAt, at(2, 20, 17)},
        {"activateForButton", stopAt, at(2, 13, 47)}, {"activateUntilButton", stopAt, at(2, 18)},
        {"pause:5 min", pausedUntil, at(2, 12, 22)},  {"pauseForButton", pausedUntil, at(2, 12, 47)},
    };
    for (const auto& [name, read, expected] : cases) {
        click(name);
        EXPECT_EQ(read(), expected) << name;
    }
}

TEST_F(MenuViewTest, ProgramarWithAndWithoutStop) {
    rig.clock.t = at(2, 10);
    rig.prefs([](Prefs& p) {
        p.lastStartMinutes = 540;
        p.lastStopMinutes = 480;
    });
    rig.start();
    build();
    click("programarButton");
    EXPECT_EQ(rig.engine->startAt(), at(3, 9));
    EXPECT_EQ(rig.engine->plannedStopAt(), at(4, 8));

    click("stopEnabled");
    EXPECT_FALSE(rig.store->p().lastStopEnabled);
    EXPECT_FALSE(find("stopTime")->isEnabled());
    click("programarButton");
    EXPECT_EQ(rig.engine->startAt(), at(3, 9));
    EXPECT_EQ(rig.engine->plannedStopAt(), std::nullopt);
}

TEST_F(MenuViewTest, DurationFieldClampsEachPart) {
    rig.start();
    build();
    const std::tuple<const char*, const char*, std::int64_t> cases[] = {
        {"hours", "150", 99 * 60 + 30}, {"minutes", "75", 60 + 59}, {"hours", "-3", 30},
        {"minutes", "-3", 60},          {"hours", "x", 90},         {"minutes", "", 90},
    };
    for (const auto& [name, typed, expected] : cases) {
        rig.prefs([](Prefs& p) { p.customActivateMinutes = 90; });
        QLineEdit* edit = part("activateFor", name);
        type(edit, typed);
        EXPECT_EQ(rig.store->p().customActivateMinutes, expected) << name << " " << typed;
        EXPECT_EQ(edit->text(),
                  QString::number(std::string_view(name) == "hours" ? expected / 60 : expected % 60));
    }

    // Its context menu is Qt's own, in the interface's language (loaded at start, as the program does).
    const std::unique_ptr<QMenu> menu(part("activateFor", "hours")->createStandardContextMenu());
    QStringList entries;
    for (const QAction* action : menu->actions())
        if (!action->isSeparator())
            entries << action->text().section(u'\t', 0, 0); // without its shortcut
    EXPECT_EQ(entries, (QStringList{"&Deshacer", "&Rehacer", "Cor&tar", "&Copiar", "&Pegar", "Borrar",
                                    "Seleccionar todo"}));
}

TEST_F(MenuViewTest, ZeroMinutesDisablesAndEnterPresses) {
    rig.prefs([](Prefs& p) { p.customPauseMinutes = 0; });
    rig.start();
    build();
    EXPECT_FALSE(find("pauseForButton")->isEnabled());
    type(part("pauseFor", "minutes"), "45");
    EXPECT_TRUE(find("pauseForButton")->isEnabled());
    EXPECT_EQ(rig.engine->pausedUntil(), at(2, 12, 45));
}

TEST_F(MenuViewTest, FooterHintSaysWhatSwitchesOnThisDesktopThenCounts) {
    bool icon = true;
    rig.actions.hasIcon = [&] { return icon; };
    rig.start();
    build();
    struct Case {
        bool icon;
        bool hotKey;
        const char* hint;
    };
    const Case cases[] = {
        {true, true, "Clic derecho en el ícono o Ctrl+Alt+Super+J: activar/desactivar"},
        {true, false, "Clic derecho en el ícono: activar/desactivar"},
        {false, true, "Ctrl+Alt+Super+J: activar/desactivar"},
        {false, false, "Sin ícono ni atajo aquí: «morvane --toggle» activa/desactiva"},
    };
    for (const Case& c : cases) {
        icon = c.icon;
        if (c.hotKey)
            rig.hotKeys.last->registerKey();
        else
            rig.hotKeys.last->unregisterKey();
        Q_EMIT rig.engine->changed();
        EXPECT_EQ(find<QLabel>("footerLabel")->text(), QString::fromUtf8(c.hint));
    }
    rig.engine->doJiggle(rig.clock.t);
    EXPECT_EQ(find<QLabel>("footerLabel")->text(), "1 movimientos · último 12:00");
    rig.engine->doJiggle(at(2, 12, 3));
    EXPECT_EQ(find<QLabel>("footerLabel")->text(), "2 movimientos · último 12:03");
}

TEST_F(MenuViewTest, SwitchOnlyAsksTheEngineToToggle) {
    rig.start();
    build();
    auto* toggle = find<QAbstractButton>("enabledSwitch");
    rig.engine->pause(300);
    EXPECT_FALSE(toggle->isChecked());
    click("enabledSwitch");
    // A toggle ends the pause; switching on directly would have left it running.
    EXPECT_TRUE(rig.engine->enabled());
    EXPECT_EQ(rig.engine->pausedUntil(), std::nullopt);
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(rig.notifier.sent.empty());
    QTest::keyClick(toggle, Qt::Key_Space);
    EXPECT_FALSE(rig.engine->enabled());
    EXPECT_FALSE(toggle->isChecked());
    rig.engine->activate(at(2, 13));
    EXPECT_TRUE(toggle->isChecked());
}

TEST_F(MenuViewTest, BadgeColourFollowsState) {
    rig.prefs([](Prefs& p) { p.policy = TriggerPolicy::always; });
    rig.start();
    build();
    const auto centreLeft = [&] { return find("stateBadge")->grab().toImage().pixelColor(4, 17); };
    const QPalette pal = view->palette();
    EXPECT_EQ(centreLeft().hsvSaturation(), 0); // a translucent grey while off
    rig.engine->setEnabled(true);
    EXPECT_EQ(centreLeft(), theme::accent(pal));
    rig.ticks(5); // the first movement comes due
    ASSERT_TRUE(rig.engine->working());
    EXPECT_EQ(centreLeft(), theme::green());
    rig.screenLock.locked = true;
    rig.tick();
    EXPECT_EQ(centreLeft(), theme::orange());
}

struct MenuViewUpdateTest : MenuViewTest {
    static UpdaterOptions feed() {
        UpdaterOptions o = UiRig::unreachableFeed();
        const QByteArray json = R"({"version":"2.0.0","build":99,"url":"https://127.0.0.1:9/a.zip",)"
                                R"("sha256":"00","signature":"AA=="})";
        o.feedUrl =
            QUrl(QStringLiteral("data:application/json;base64,") + QString::fromLatin1(json.toBase64()));
        return o;
    }
    MenuViewUpdateTest()
        : MenuViewTest(feed()) {}
};

TEST_F(MenuViewUpdateTest, InstallReadsInstalandoWhileBusy) {
    rig.start();
    build();
    EXPECT_FALSE(shown("updateBanner"));
    rig.updater->check(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.updater->available().has_value(); }, 10000));
    EXPECT_EQ(find<QLabel>("updateLabel")->text(), "Versión 2.0.0 disponible");
    auto* install = find<QAbstractButton>("installButton");
    EXPECT_EQ(install->text(), "Instalar");
    click("installButton");
    EXPECT_TRUE(rig.updater->busy());
    EXPECT_EQ(install->text(), "Instalando…");
    EXPECT_FALSE(install->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.updater->busy(); }, 20000));
    EXPECT_EQ(install->text(), "Instalar");
    EXPECT_TRUE(install->isEnabled());
}

TEST_F(MenuViewTest, TabFollowsVisualOrder) {
    rig.trust.answer = false;
    rig.start();
    rig.engine->activate(at(2, 13));
    build();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    find("enabledSwitch")->setFocus();
    QStringList order;
    for (int i = 0; i < 30; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    // A time field takes two steps: its hours, then its minutes.
    EXPECT_EQ(order, (QStringList{"grantPermissionButton",
                                  "relaunchButton",
                                  "resetPermissionButton",
                                  "cancelTimersButton",
                                  "quick:15 min",
                                  "quick:30 min",
                                  "quick:1 h",
                                  "quick:2 h",
                                  "quick:4 h",
                                  "quick:8 h",
                                  "hours",
                                  "minutes",
                                  "activateForButton",
                                  "untilTime",
                                  "untilTime",
                                  "activateUntilButton",
                                  "startTime",
                                  "startTime",
                                  "stopEnabled",
                                  "stopTime",
                                  "stopTime",
                                  "programarButton",
                                  "pause:5 min",
                                  "pause:15 min",
                                  "pause:1 h",
                                  "hours",
                                  "minutes",
                                  "pauseForButton",
                                  "settingsButton",
                                  "quitButton"}));
}

// Whatever combination of banners and timer lines shows, the view is as tall as its content at its
// width and hands every chip, button and wrapped line its whole height.
TEST(MenuViewLayout, NothingIsSqueezedWhateverShows) {
    const QString longName =
        QStringLiteral("Revisión trimestral de presupuestos con el equipo de ventas y de finanzas");
    const struct {
        const char* what;
        bool permission, update, timers;
    } rows[] = {{"nothing", false, false, false},
                {"permission", true, false, false},
                {"update", false, true, false},
                {"both banners", true, true, false},
                {"both banners and every timer line", true, true, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        UiRig rig(row.update ? MenuViewUpdateTest::feed() : UiRig::unreachableFeed());
        rig.prefs([&](Prefs& p) {
            p.schedulesEnabled = row.timers;
            if (!p.schedules.empty())
                p.schedules.front().name = longName;
        });
        rig.start(); // Wednesday 12:00, inside the default weekday schedule
        if (row.permission) {
            rig.trust.answer = false;
            rig.engine->doJiggle(at(2, 12));
        }
        if (row.update) {
            rig.updater->check(true);
            ASSERT_TRUE(QTest::qWaitFor([&] { return rig.updater->available().has_value(); }, 10000));
        }
        if (row.timers) {
            rig.engine->activate(at(2, 12, 30));
            rig.engine->schedule(at(2, 14), at(2, 15));
        }
        MenuView view(*rig.engine, *rig.store, *rig.updater, rig.clock, MenuView::defaultQuick(),
                      rig.actions);
        view.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(view.findChild<QWidget*>("permissionBanner")->isVisible(), row.permission);
        EXPECT_EQ(view.findChild<QWidget*>("updateBanner")->isVisible(), row.update);
        EXPECT_EQ(view.findChild<QWidget*>("timerLine2")->isVisible(), row.timers);
        EXPECT_EQ(view.height(), view.sizeHint().height());
        EXPECT_GE(view.height(), view.layout()->totalMinimumSize().height());
        EXPECT_EQ(squeezedWidgets(view), QStringList());
    }
}

// Pictures of the popover with every part present, for a person to look at; the appearance
// changes while the popover is open, and its own colours must follow.
TEST_F(MenuViewUpdateTest, RendersLightAndDark) {
    rig.prefs([](Prefs& p) { p.schedulesEnabled = true; });
    rig.start();
    rig.engine->activate(at(2, 13, 30));
    rig.engine->schedule(at(3, 8), at(3, 17));
    rig.engine->doJiggle(at(2, 12));
    rig.trust.answer = false;
    rig.engine->doJiggle(at(2, 12)); // finds the permission gone
    rig.updater->check(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.updater->available().has_value(); }, 10000));
    auto& app = *static_cast<QApplication*>(QCoreApplication::instance());
    build();
    for (const bool dark : {false, true}) {
        theme::applyAppearance(app, dark);
        QCoreApplication::processEvents(); // the palette change reaches the widgets as events
        view->resize(view->sizeHint());
        const QImage image = view->grab().toImage();
        EXPECT_EQ(image.size(), view->sizeHint());
        EXPECT_EQ(lineTexts().size(), 3);
        const QString name = dark ? QStringLiteral("/menu-dark.png") : QStringLiteral("/menu-light.png");
        EXPECT_TRUE(image.save(QCoreApplication::applicationDirPath() + name));
    }
    const QColor secondary = theme::secondary(app.palette());
    EXPECT_EQ(find<QLabel>("statusLabel")->palette().color(QPalette::WindowText), secondary);
    for (QLabel* unit : find("activateFor")->findChildren<QLabel*>())
        EXPECT_EQ(unit->palette().color(QPalette::WindowText), secondary) << unit->text().toStdString();
    theme::applyAppearance(app, false);
}

} // namespace
