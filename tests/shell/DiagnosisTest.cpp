// The diagnosis: which findings fail, how the report reads, and the window that copies it.
#include "Diagnosis.h"
#include "Cli.h"
#include "DiagnosisWindow.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QTest>

namespace morvane {
namespace {

using Mark = DiagnosisLine::Mark;
using S = InhibitionState;

TEST(Diagnosis, InhibitionFailsWhenNoServiceTookItOrOneDeniesIt) {
    const std::tuple<const char*, bool, std::vector<InhibitionStatus>, Mark> inhibitions[] = {
        {"not asked for", false, {{"X11", S::off, {}}}, Mark::note},
        {"one of two took it",
         true,
         {{"org.freedesktop.ScreenSaver", S::refused, {}}, {"X11", S::held, {}}},
         Mark::ok},
        {"nobody took it",
         true,
         {{"org.freedesktop.login1", S::asking, {}}, {"X11", S::absent, {}}},
         Mark::problem},
        {"taken, not counted", true, {{"org.gnome.SessionManager", S::held, false}}, Mark::problem},
    };
    for (const auto& [what, wanted, services, mark] : inhibitions)
        EXPECT_EQ(diagnosis::inhibitions(wanted, services).mark, mark) << what;
}

TEST(Diagnosis, ReportCountsItsProblemsAndTheWindowCopiesIt) {
    DiagnosisReport report{"Morvane 1.0: en marcha",
                           {{Mark::ok, "Inactividad", {}}, {Mark::note, "Sesión", {"X11"}}}};
    EXPECT_TRUE(report.ok());
    EXPECT_EQ(report.text(), "Morvane 1.0: en marcha\n✓ Inactividad\n· Sesión\n    X11\n"
                             "Resultado: todo lo que se pudo comprobar funciona\n");
    report.lines << DiagnosisLine{Mark::problem, "Movimientos", {}}
                 << DiagnosisLine{Mark::problem, "Permiso", {}};
    EXPECT_FALSE(report.ok());
    EXPECT_TRUE(report.text().contains(cli::kProblemMark + " Movimientos\n"));
    EXPECT_TRUE(report.text().endsWith("Resultado: 2 problemas\n"));

    DiagnosisWindow window;
    window.showReport(report.text());
    auto* copy = window.findChild<QAbstractButton*>("copyDiagnosisButton");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->text(), "Copiar");
    EXPECT_FALSE(copy->accessibleName().isEmpty());
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), report.text());
}

} // namespace
} // namespace morvane
