// The diagnosis report: which findings pass, fail or only inform, how the report reads, and the
// window "Ver diagnóstico" shows it in.
#include "Diagnosis.h"
#include "Cli.h"
#include "DiagnosisWindow.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

namespace morvane {
namespace {

using Mark = DiagnosisLine::Mark;
using S = InhibitionState;

struct InhibitionCase {
    const char* what;
    bool wanted;
    std::vector<InhibitionStatus> services;
    Mark expected;
};

TEST(Diagnosis, EachFindingPassesFailsOrInforms) {
    const InhibitionCase inhibitions[] = {
        {"not asked for", false, {{"org.freedesktop.ScreenSaver", S::off, {}}}, Mark::note},
        {"one service took it",
         true,
         {{"org.freedesktop.ScreenSaver", S::refused, {}}, {"X11", S::held, {}}},
         Mark::ok},
        {"confirmed", true, {{"org.gnome.SessionManager", S::held, true}}, Mark::ok},
        {"nobody took it",
         true,
         {{"org.freedesktop.ScreenSaver", S::absent, {}}, {"X11", S::absent, {}}},
         Mark::problem},
        {"still asking", true, {{"org.freedesktop.login1", S::asking, {}}}, Mark::problem},
        {"taken but not counted", true, {{"org.gnome.SessionManager", S::held, false}}, Mark::problem},
    };
    for (const InhibitionCase& c : inhibitions)
        EXPECT_EQ(diagnosis::inhibitions(c.wanted, c.services).mark, c.expected) << c.what;
    const DiagnosisLine denied =
        diagnosis::inhibitions(true, {{"org.gnome.SessionManager", S::held, false}, {"X11", S::absent, {}}});
    EXPECT_EQ(denied.details,
              (QStringList{"org.gnome.SessionManager: aceptada; dice que la sesión NO cuenta como inhibida",
                           "X11: el servicio no está"}));

    EXPECT_EQ(diagnosis::idleSource(true, "X11IdleTime").mark, Mark::ok);
    EXPECT_EQ(diagnosis::idleSource(false, "NullIdleTime").mark, Mark::problem);
    EXPECT_EQ(diagnosis::inputPermission(true, JiggleMode::standard, "X11Trust").mark, Mark::ok);
    EXPECT_EQ(diagnosis::inputPermission(false, JiggleMode::zen, "MutterTrust").mark, Mark::note);
    EXPECT_EQ(diagnosis::inputPermission(false, JiggleMode::click, "MutterTrust").mark, Mark::problem);

    // Movements: the verdict decides; each readback becomes a detail line.
    const Instant t = QDateTime(QDate(2026, 12, 2), QTime(12, 0), Qt::UTC);
    const QTimeZone utc("UTC");
    ActivityCheck check;
    EXPECT_EQ(diagnosis::movements(check, false, t, utc).mark, Mark::note);
    EXPECT_EQ(diagnosis::movements(check, true, t, utc).mark, Mark::note);
    for (int i = 0; i < 3; ++i) {
        check.moved(instant::plusSeconds(t, 10 * i), Action::standard, 30.0);
        check.readBack(instant::plusSeconds(t, 10 * i + 1), 31.0 + 10 * i);
    }
    const DiagnosisLine missed = diagnosis::movements(check, true, t, utc);
    EXPECT_EQ(missed.mark, Mark::problem);
    EXPECT_EQ(missed.text, "Movimientos (unverified): La sesión no está registrando los movimientos");
    ASSERT_EQ(missed.details.size(), 3);
    EXPECT_EQ(missed.details[0],
              "12:00:00 standard: no registrado (inactividad antes 30.0 s, 1.0 s después: 31.0 s)");
    check.moved(instant::plusSeconds(t, 40), Action::zen, 30.0);
    EXPECT_EQ(diagnosis::movements(check, true, t, utc).details.last(),
              "12:00:40 zen: por comprobar (inactividad antes 30.0 s)");

    // The settings file: missing is fine, a directory in its place is not.
    QTemporaryDir dir;
    EXPECT_EQ(diagnosis::settingsFile(dir.filePath("morvane.conf")).mark, Mark::note);
    QFile file(dir.filePath("morvane.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(diagnosis::settingsFile(file.fileName()).mark, Mark::ok);
    EXPECT_EQ(diagnosis::settingsFile(dir.path()).mark, Mark::problem);
}

TEST(Diagnosis, ReportCountsItsProblemsAndTheWindowCopiesIt) {
    DiagnosisReport report{
        "Morvane 1.0: en marcha, activado",
        {{Mark::ok, "Inactividad", {}}, {Mark::note, "Adaptadores", {"inactividad: X11IdleTime"}}}};
    EXPECT_TRUE(report.ok());
    EXPECT_EQ(report.text(),
              "Morvane 1.0: en marcha, activado\n✓ Inactividad\n· Adaptadores\n"
              "    inactividad: X11IdleTime\nResultado: todo lo que se pudo comprobar funciona\n");
    report.lines << DiagnosisLine{Mark::problem, "Movimientos", {}}
                 << DiagnosisLine{Mark::problem, "Permiso", {}};
    EXPECT_FALSE(report.ok());
    EXPECT_TRUE(report.text().contains(cli::kProblemMark + " Movimientos\n"));
    EXPECT_TRUE(report.text().endsWith("Resultado: 2 problemas\n"));

    DiagnosisWindow window;
    window.showReport(report.text());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "Diagnóstico de Morvane");
    auto* copy = window.findChild<QAbstractButton*>("copyDiagnosisButton");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->text(), "Copiar");
    EXPECT_FALSE(copy->accessibleName().isEmpty());
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), report.text());
}

} // namespace
} // namespace morvane
