// The real program under Xvfb with the accessibility bus a desktop session runs, walked over AT-SPI
// by a script as a screen reader user walks it, with the keyboard alone.
#include "TestServers.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <iostream>

namespace morvane {
namespace {

const QString kApp = QStringLiteral(MORVANE_APP_BUNDLE "/bin/morvane");

std::string line(const QJsonValue& value) {
    return value.toVariant().toStringList().join(QStringLiteral(" | ")).toStdString();
}

TEST(AccessibilityTest, ThePopoverAndTheFourTabsCanBeUsedWithAScreenReaderAndTheKeyboard) {
    test::PrivateBus bus; // the script's first question starts the accessibility bus on it
    ASSERT_TRUE(bus.ok());
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess app, walk; // a first launch: the settings window opens by itself
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(kApp, {});
    walk.setProcessEnvironment(env);
    walk.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    walk.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(MORVANE_A11Y_WALK), kApp});
    const bool walked = walk.waitForFinished(180000) && walk.exitCode() == 0;
    app.terminate();
    app.waitForFinished(5000);
    ASSERT_TRUE(walked);
    const QJsonObject report = QJsonDocument::fromJson(walk.readAllStandardOutput()).object();
    const auto at = [&](const char* surface, const char* key) {
        return report.value(QLatin1String(surface)).toObject().value(QLatin1String(key));
    };

    for (const char* surface : {"popover", "General", "Movimiento", "Condiciones", "Horarios"}) {
        SCOPED_TRACE(surface);
        EXPECT_EQ(line(at(surface, "unnamed")), "");
        EXPECT_GE(at(surface, "named").toInt(), 10);
        std::cout << "named controls on " << surface << ": " << at(surface, "named").toInt() << '\n';
    }
    // Sliders read as the text beside them, not as raw positions.
    EXPECT_EQ(line(at("Movimiento", "sliders")["Intervalo"]), "120 | 2 min");
    EXPECT_EQ(line(at("Condiciones", "sliders")["La CPU está trabajando, uso mayor a"]), "20 | 20%");
    // Tab follows reading order; Ctrl+Tab goes round the tabs, also from a time field (which takes
    // it for a step between its hours and minutes).
    EXPECT_EQ(line(report["scheduleStops"]),
              "Usar horarios programados | Activo | Nombre | Eliminar | Lunes | "
              "Martes | Miércoles | Jueves | Viernes | Sábado | Domingo | De");
    EXPECT_EQ(line(report["tabsReached"]), "General | Movimiento | Condiciones | Horarios | General");
    // The popover is in the tree and holds the keyboard (Escape: the panel tests); Enter presses.
    EXPECT_EQ(line(report["tabStops"]),
              "Activar o desactivar Morvane | Activar por 15 min | Activar por 30 min");
    EXPECT_TRUE(report["enterPressed"].toBool());
}

} // namespace
} // namespace morvane
