// The settings window as a user meets it: the tab bar, the General tab with its updates group,
// and the "Movimiento" and "Condiciones" tabs, over the real engine on fake ports.
#include "ConditionsTab.h"
#include "FormWidgets.h"
#include "MovementTab.h"
#include "SettingsTestSupport.h"
#include "Theme.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QTabBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWheelEvent>

#include <cmath>

namespace morvane::test {
namespace {

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition() && !deadline.hasExpired())
        QTest::qWait(10);
    return condition();
}

// Moves `slider` to `target` with the keyboard: page keys while far, then the arrows.
void keyTo(QSlider* slider, int target) {
    ASSERT_NE(slider, nullptr);
    slider->setFocus();
    for (int guard = 0; slider->value() != target && guard < 1000; ++guard) {
        const int gap = target - slider->value();
        const bool far = std::abs(gap) >= slider->pageStep();
        QTest::keyClick(slider, far ? (gap > 0 ? Qt::Key_PageUp : Qt::Key_PageDown)
                                    : (gap > 0 ? Qt::Key_Right : Qt::Key_Left));
    }
    SettingsRig::settle();
}

TEST(SettingsView, IsFixedAndFollowsTheTabStateBothWays) {
    SettingsRig rig;
    SettingsView& view = rig.open();
    EXPECT_EQ(view.size(), QSize(560, 520));
    QStringList labels;
    for (int i = 0; i < view.count(); ++i)
        labels << view.tabText(i);
    EXPECT_EQ(labels, (QStringList{"General", "Movimiento", "Condiciones", "Horarios"}));
    EXPECT_EQ(view.currentIndex(), 0);

    // What the shell's show(tab:) does to an open window.
    rig.tabs.setTab(SettingsTab::movement);
    EXPECT_EQ(view.currentIndex(), 1);

    QTabBar* bar = view.tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
    EXPECT_EQ(rig.tabs.tab(), SettingsTab::schedules);
    EXPECT_EQ(view.currentIndex(), 3);
}

TEST(SettingsView, SecondaryTextFollowsAChangeOfAppearance) {
    SettingsRig rig;
    rig.open();
    auto* credit = rig.find<QLabel>("credit");
    const QColor light = credit->palette().color(QPalette::WindowText);
    EXPECT_EQ(light, theme::secondary(QApplication::palette()));
    theme::applyAppearance(*qApp, true);
    SettingsRig::settle();
    const QColor dark = credit->palette().color(QPalette::WindowText);
    const QColor darkSecondary = theme::secondary(QApplication::palette());
    theme::applyAppearance(*qApp, false);
    EXPECT_EQ(dark, darkSecondary);
    EXPECT_GT(dark.lightness(), light.lightness());
}

TEST(GeneralTab, EveryToggleWritesItsOwnFieldAndPersistsIt) {
    struct Case {
        const char* name;
        const char* text;
        bool Prefs::*field;
    };
    const Case cases[] = {
        {"restoreState", "Recordar si estaba activo al abrir", &Prefs::restoreState},
        {"hotkey", "Atajo global Ctrl+Alt+Super+J para activar / desactivar", &Prefs::hotkey},
        {"countdownInMenuBar", "Mostrar cuenta regresiva en la barra de menú", &Prefs::countdownInMenuBar},
        {"notifications", "Avisar con notificaciones cuando se prende o se apaga solo",
         &Prefs::notifications},
        {"quitWhenTimerEnds", "Al terminar un temporizador, cerrar la app", &Prefs::quitWhenTimerEnds},
        {"preventDisplaySleep", "Mantener la pantalla encendida mientras está activo",
         &Prefs::preventDisplaySleep},
        {"autoInstallUpdates", "Instalarlas solas (reinicia la app y mantiene el estado)",
         &Prefs::autoInstallUpdates},
        {"autoCheckUpdates", "Buscar actualizaciones automáticamente", &Prefs::autoCheckUpdates},
    };
    SettingsRig rig;
    rig.open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto* box = rig.find<QCheckBox>(QString::fromLatin1(c.name));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(box->isChecked(), rig.store->p().*c.field);
        Prefs expected = rig.store->p();
        expected.*c.field = !(expected.*c.field);
        click(box);
        EXPECT_EQ(rig.store->p(), expected);
        EXPECT_EQ(rig.persisted(), expected);
        EXPECT_EQ(box->isChecked(), expected.*c.field);
    }
}

TEST(GeneralTab, AutoInstallIsDisabledWhileAutoCheckIsOffAndKeepsItsValue) {
    SettingsRig rig;
    rig.open();
    auto* autoCheck = rig.find<QCheckBox>("autoCheckUpdates");
    auto* autoInstall = rig.find<QCheckBox>("autoInstallUpdates");
    ASSERT_TRUE(autoInstall->isEnabled());
    click(autoCheck);
    EXPECT_FALSE(autoInstall->isEnabled());
    EXPECT_TRUE(autoInstall->isChecked());
    EXPECT_TRUE(rig.store->p().autoInstallUpdates);
    click(autoInstall); // a disabled box ignores the click
    EXPECT_TRUE(rig.store->p().autoInstallUpdates);
    click(autoCheck);
    EXPECT_TRUE(autoInstall->isEnabled());
}

TEST(GeneralTab, OpenAtLoginReadsOnceAndRegistersOnlyOnRealChanges) {
    SettingsRig rig;
    rig.loginAtStart = true;
    rig.open();
    auto* box = rig.find<QCheckBox>("openAtLogin");
    EXPECT_EQ(box->text(), "Abrir Morvane al iniciar sesión");
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(rig.loginReads, 1);
    EXPECT_TRUE(rig.loginSets.empty());

    click(box);
    EXPECT_EQ(rig.loginSets, std::vector<bool>{false});
    click(box);
    EXPECT_EQ(rig.loginSets, (std::vector<bool>{false, true}));
    rig.login->setOn(true); // the same value again
    EXPECT_EQ(rig.loginSets.size(), 2u);
    rig.login->setOn(false); // from elsewhere: the box follows
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(rig.loginSets.size(), 3u);
    EXPECT_EQ(rig.loginReads, 1);
}

TEST(GeneralTab, UpdateButtonsFollowTheUpdater) {
    QTemporaryDir feedDir;
    QFile feed(feedDir.filePath("appcast.json"));
    ASSERT_TRUE(feed.open(QIODevice::WriteOnly));
    UpdateInfo newer{"1.5.0", 99, "https://127.0.0.1:9/Morvane.zip", QString(64, u'0'), "AAAA", {}, {}};
    feed.write(newer.toJson());
    feed.close();
    UpdaterOptions options = UiRig::unreachableFeed();
    options.feedUrl = QUrl::fromLocalFile(feed.fileName());
    SettingsRig rig(options);
    rig.open();
    auto* install = rig.find<QPushButton>("installUpdate");
    auto* check = rig.find<QPushButton>("checkUpdates");
    auto* message = rig.find<QLabel>("updateMessage");
    EXPECT_EQ(check->text(), "Buscar ahora");
    EXPECT_TRUE(install->isHidden());
    EXPECT_EQ(rig.find<QLabel>("version")->text(), rig.updater->currentVersion());
    EXPECT_EQ(rig.find<QLabel>("credit")->text(), "Equipo de Morvane");

    // What the buttons looked like at each announcement of the updater (the view hears it first).
    std::vector<std::array<bool, 3>> seen; // busy, install enabled, check enabled
    QObject::connect(rig.updater.get(), &Updater::changed, [&] {
        seen.push_back({rig.updater->busy(), install->isEnabled(), check->isEnabled()});
    });
    const auto buttonsFollowedBusy = [&] {
        const bool sawBusy = std::any_of(seen.begin(), seen.end(), [](const auto& s) { return s[0]; });
        const bool followed = std::all_of(seen.begin(), seen.end(),
                                          [](const auto& s) { return s[1] == !s[0] && s[2] == !s[0]; });
        seen.clear();
        return sawBusy && followed;
    };

    click(check);
    ASSERT_TRUE(waitFor([&] { return !rig.updater->busy(); }));
    SettingsRig::settle();
    EXPECT_TRUE(buttonsFollowedBusy());
    EXPECT_EQ(message->text(), "Hay una versión nueva: 1.5.0");
    EXPECT_FALSE(install->isHidden());
    EXPECT_EQ(install->text(), "Instalar 1.5.0");
    EXPECT_TRUE(install->isEnabled());

    click(install); // downloading from a port nobody listens on
    ASSERT_TRUE(waitFor([&] { return !rig.updater->busy(); }));
    SettingsRig::settle();
    EXPECT_TRUE(buttonsFollowedBusy());
    EXPECT_EQ(message->text(), "No se pudo descargar");
    EXPECT_TRUE(install->isEnabled());
    EXPECT_TRUE(check->isEnabled());
}

TEST(MovementTab, IntervalSliderSnapsToItsGrid) {
    struct Case {
        double a;        // the interval the slider position stands for before snapping
        double expected; // what is stored
        const char* shown;
    };
    const Case cases[] = {
        {47, 45, "45 s"}, {130, 135, "2 min 15 s"}, {4000, 3900, "1 h 5 min"}, {30000, 30600, "8 h 30 min"}};
    SettingsRig rig;
    rig.open(SettingsTab::movement);
    auto* slider = rig.find<QSlider>("intervalSlider");
    auto* shown = rig.find<QLabel>("intervalText");
    EXPECT_EQ(shown->text(), "2 min");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a);
        const int position =
            int(std::lround(std::log(c.a / 5) / std::log(86400.0 / 5) * MovementTab::kIntervalPositions));
        keyTo(slider, position);
        EXPECT_EQ(rig.store->p().interval, c.expected);
        EXPECT_EQ(shown->text(), QString::fromUtf8(c.shown));
    }
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(rig.store->p().interval, 5);
    EXPECT_EQ(shown->text(), "5 s");
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(rig.store->p().interval, 86400);
    EXPECT_EQ(shown->text(), "24 h");
}

TEST(MovementTab, StepperStepsByFiveSecondsBelowAMinuteAndByMinutesAbove) {
    struct Case {
        double from;
        const char* button;
        double to;
    };
    const Case cases[] = {{55, "stepUp", 60},   {60, "stepUp", 120}, {120, "stepDown", 60},
                          {60, "stepDown", 55}, {10, "stepDown", 5}, {86380, "stepUp", 86400},
                          {75, "stepDown", 15}};
    SettingsRig rig;
    rig.open(SettingsTab::movement);
    auto* stepper = rig.find<Stepper>("intervalStepper");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        rig.prefs([&](Prefs& p) { p.interval = c.from; });
        click(rig.find<QToolButton>(c.button, stepper));
        EXPECT_EQ(rig.store->p().interval, c.to);
    }
    // At the limits the way out is closed.
    rig.prefs([](Prefs& p) { p.interval = 5; });
    EXPECT_FALSE(rig.find<QToolButton>("stepDown", stepper)->isEnabled());
    rig.prefs([](Prefs& p) { p.interval = 86400; });
    EXPECT_FALSE(rig.find<QToolButton>("stepUp", stepper)->isEnabled());
    EXPECT_TRUE(rig.find<QToolButton>("stepDown", stepper)->isEnabled());
}

TEST(MovementTab, DistanceRowOnlyInStandardModeWithTheStoredDistance) {
    SettingsRig rig;
    rig.prefs([](Prefs& p) { p.distance = 17; });
    rig.open(SettingsTab::movement);
    QWidget* row = rig.find("distanceRow");
    EXPECT_TRUE(row->isVisible());
    EXPECT_EQ(rig.find<QRadioButton>("mode0")->text(), "Estándar — mueve el cursor");
    click(rig.find<QRadioButton>("mode1"));
    EXPECT_EQ(rig.store->p().mode, JiggleMode::zen);
    EXPECT_FALSE(row->isVisible());
    click(rig.find<QRadioButton>("mode2"));
    EXPECT_EQ(rig.store->p().mode, JiggleMode::click);
    EXPECT_FALSE(row->isVisible());
    click(rig.find<QRadioButton>("mode0"));
    EXPECT_EQ(rig.store->p().mode, JiggleMode::standard);
    EXPECT_TRUE(row->isVisible());
    EXPECT_EQ(rig.find<QSlider>("distanceSlider")->value(), 17);

    click(rig.find<QRadioButton>("policy0"));
    EXPECT_EQ(rig.store->p().policy, TriggerPolicy::always);
    EXPECT_EQ(rig.find<QRadioButton>("policy1")->text(), "Solo si no tocaste teclado ni mouse");
}

TEST(MovementTab, PermissionGroupFollowsTheEnginesCheck) {
    SettingsRig rig;
    rig.open(SettingsTab::movement);
    rig.start();
    auto* text = rig.find<QLabel>("permissionText");
    auto* symbol = rig.find<SymbolLabel>("permissionSymbol");
    EXPECT_EQ(text->text(), "Accesibilidad habilitada");
    EXPECT_EQ(symbol->symbol(), Symbol::checkmarkSeal);
    EXPECT_FALSE(rig.find("openSettings")->isVisible());
    EXPECT_FALSE(rig.find("permissionHelpRow")->isVisible());
    const auto moves = rig.jiggler.movements.size();
    click(rig.find<QPushButton>("tryNow"));
    EXPECT_EQ(rig.jiggler.movements.size(), moves + 1);

    rig.trust.answer = false; // the engine looks again within three ticks
    for (int i = 0; i < 3 && rig.engine->accessibilityOK(); ++i)
        rig.tick();
    ASSERT_FALSE(rig.engine->accessibilityOK());
    SettingsRig::settle();
    EXPECT_EQ(text->text(), "Hace falta Accesibilidad para mover o hacer click");
    EXPECT_EQ(symbol->symbol(), Symbol::warningTriangle);
    EXPECT_TRUE(rig.find("openSettings")->isVisible());
    EXPECT_TRUE(rig.find("permissionHelpRow")->isVisible());
    click(rig.find<QPushButton>("openSettings"));
    click(rig.find<QPushButton>("resetPermission"));
    click(rig.find<QPushButton>("relaunch"));
    EXPECT_EQ(rig.calls, (QStringList{"requestPermission", "resetPermission", "relaunch"}));
}

TEST(MovementTab, WheelOverASliderScrollsThePageInstead) {
    SettingsRig rig;
    rig.trust.answer = false; // the permission help row makes the page taller than the window
    rig.open(SettingsTab::movement);
    rig.start();
    rig.ticks(3);
    SettingsRig::settle();
    auto* page = qobject_cast<QScrollArea*>(rig.view->currentWidget());
    ASSERT_NE(page, nullptr);
    ASSERT_GT(page->verticalScrollBar()->maximum(), 0);
    auto* slider = rig.find<QSlider>("intervalSlider");
    const QPointF at = slider->rect().center();
    QWheelEvent down(at, slider->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(slider, &down);
    EXPECT_EQ(rig.store->p().interval, 120);
    EXPECT_GT(page->verticalScrollBar()->value(), 0);
}

TEST(ConditionsTab, CpuTextTruncatesToWholePercent) {
    const std::pair<std::optional<double>, const char*> cases[] = {
        {std::nullopt, "—"}, {0.999, "99%"}, {0.237, "23%"}, {0.0, "0%"}, {1.0, "100%"}};
    for (const auto& [usage, text] : cases)
        EXPECT_EQ(ConditionsTab::cpuText(usage), QString::fromUtf8(text));
}

TEST(ConditionsTab, FooterShowsTheCurrentCpuLoad) {
    SettingsRig rig;
    rig.open(SettingsTab::conditions);
    auto* footer = rig.find<QLabel>("requiredFooter");
    EXPECT_EQ(footer->text(), "Separá las apps con comas. Alcanza con parte del nombre: \"tea\" encuentra "
                              "\"Teams\". CPU ahora: —");
    rig.cpu.next = 0.999;
    rig.engine->setWatched(true); // as the shell does while the window is open
    rig.start();
    EXPECT_TRUE(footer->text().endsWith("CPU ahora: 99%"));
}

TEST(ConditionsTab, ThresholdsShowRoundedPercentAndFollowTheirSliders) {
    SettingsRig rig;
    rig.prefs([](Prefs& p) {
        p.cpuThreshold = 20.5;
        p.batteryThreshold = 79.49;
    });
    rig.open(SettingsTab::conditions);
    EXPECT_EQ(rig.find<QLabel>("cpuThresholdText")->text(), "21%");
    EXPECT_EQ(rig.find<QLabel>("batteryThresholdText")->text(), "79%");
    EXPECT_EQ(rig.find<QSlider>("cpuThresholdSlider")->width(), 110);
    EXPECT_EQ(rig.store->p().cpuThreshold, 20.5); // showing a value never rewrites it

    keyTo(rig.find<QSlider>("batteryThresholdSlider"), 80);
    EXPECT_EQ(rig.store->p().batteryThreshold, 80);
    EXPECT_EQ(rig.find<QLabel>("batteryThresholdText")->text(), "80%");
    QTest::keyClick(rig.find<QSlider>("cpuThresholdSlider"), Qt::Key_Home);
    EXPECT_EQ(rig.store->p().cpuThreshold, 5);
}

TEST(ConditionsTab, AppFieldsFollowTheirTogglesWithoutLosingText) {
    struct Case {
        const char* toggle;
        const char* field;
        const char* placeholder;
        QString Prefs::*list;
    };
    const Case cases[] = {
        {"reqApps", "reqAppsList", "Teams, Slack, Zoom", &Prefs::reqAppsList},
        {"neverFrontmost", "neverFrontmostList", "Keynote, Zoom", &Prefs::neverFrontmostList}};
    SettingsRig rig;
    rig.prefs([](Prefs& p) { p.neverFrontmostList = "Keynote"; });
    rig.open(SettingsTab::conditions);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        auto* edit = rig.find<QLineEdit>(c.field);
        const QString before = rig.store->p().*c.list;
        EXPECT_EQ(edit->placeholderText(), c.placeholder);
        EXPECT_FALSE(edit->isEnabled());
        EXPECT_EQ(edit->text(), before);

        click(rig.find<QCheckBox>(c.toggle));
        ASSERT_TRUE(edit->isEnabled());
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_End);
        QTest::keyClicks(edit, ", Meet");
        QTest::keyClick(edit, Qt::Key_Home);
        QTest::keyClicks(edit, "Zo");
        EXPECT_EQ(rig.store->p().*c.list, "Zo" + before + ", Meet");
        EXPECT_EQ(edit->text(), "Zo" + before + ", Meet");
        EXPECT_EQ(edit->cursorPosition(), 2);

        click(rig.find<QCheckBox>(c.toggle));
        EXPECT_FALSE(edit->isEnabled());
        EXPECT_EQ(edit->text(), "Zo" + before + ", Meet");
        EXPECT_EQ(rig.store->p().*c.list, "Zo" + before + ", Meet");
    }
}

TEST(ConditionsTab, StateNowFollowsTheEnginesReason) {
    SettingsRig rig;
    rig.open(SettingsTab::conditions);
    rig.start();
    auto* text = rig.find<QLabel>("stateText");
    auto* symbol = rig.find<SymbolLabel>("stateSymbol");
    EXPECT_EQ(text->text(), "Con la configuración actual, puede mover");
    EXPECT_EQ(symbol->symbol(), Symbol::checkmarkCircleFill);
    EXPECT_EQ(symbol->color(), theme::green());

    rig.screenLock.locked = true;
    rig.tick();
    SettingsRig::settle();
    EXPECT_EQ(text->text(), "Pausado: pantalla bloqueada");
    EXPECT_EQ(symbol->symbol(), Symbol::pauseCircleFill);
    EXPECT_EQ(symbol->color(), theme::orange());

    rig.screenLock.locked = false;
    rig.tick();
    SettingsRig::settle();
    EXPECT_EQ(text->text(), "Con la configuración actual, puede mover");
    EXPECT_EQ(symbol->symbol(), Symbol::checkmarkCircleFill);

    // Turning the condition off lifts the block at once, without waiting for a tick.
    rig.screenLock.locked = true;
    rig.tick();
    click(rig.find<QCheckBox>("neverLocked"));
    EXPECT_EQ(text->text(), "Con la configuración actual, puede mover");
}

TEST(ConditionsTab, StateNowSaysWhetherTheSessionRegistersTheMovements) {
    SettingsRig rig;
    rig.moveEveryTwoSeconds();
    rig.open(SettingsTab::conditions);
    rig.start();
    auto* text = rig.find<QLabel>("activityText");
    auto* symbol = rig.find<SymbolLabel>("activitySymbol");
    EXPECT_EQ(text->text(), "Todavía no se comprobó ningún movimiento");
    EXPECT_EQ(symbol->symbol(), Symbol::pauseCircle);

    rig.engine->setEnabled(true);
    ASSERT_TRUE(rig.tickUntil(Verdict::verified));
    EXPECT_EQ(text->text(), "La sesión registró el último movimiento (hace 1 s)");
    EXPECT_EQ(symbol->color(), theme::green());
    rig.jiggler.registers = false;
    ASSERT_TRUE(rig.tickUntil(Verdict::unverified));
    EXPECT_EQ(text->text(), "La sesión no está registrando los movimientos");
    EXPECT_EQ(symbol->symbol(), Symbol::warningTriangle);

    rig.idle.answers = false;
    ASSERT_TRUE(rig.tickUntil(Verdict::unknown));
    EXPECT_EQ(text->text(), "No se puede comprobar si la sesión registra los movimientos");
}

} // namespace
} // namespace morvane::test
