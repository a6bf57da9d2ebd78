// The "Horarios" tab: adding, deleting and editing schedules by hand, over the real store.
#include "FormWidgets.h"
#include "ScheduleRow.h"
#include "SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimeEdit>
#include <QToolButton>

namespace morvane::test {
namespace {

Schedule named(const QString& name, std::int64_t start = 540, std::int64_t end = 1080) {
    Schedule s;
    s.name = name;
    s.start = start;
    s.end = end;
    return s;
}

struct SchedulesRig : SettingsRig {
    explicit SchedulesRig(std::vector<Schedule> schedules, bool enabled = true) {
        prefs([&](Prefs& p) {
            p.schedules = std::move(schedules);
            p.schedulesEnabled = enabled;
        });
        open(SettingsTab::schedules);
    }

    ScheduleRow* row(const Schedule& s) const {
        return find<ScheduleRow>("schedule-" + s.id.toString(QUuid::WithoutBraces));
    }
    ScheduleRow* row(std::size_t index) const { return row(store->p().schedules.at(index)); }

    // The rows in the order the user sees them, top to bottom.
    std::vector<ScheduleRow*> rowsOnScreen() const {
        std::vector<ScheduleRow*> rows;
        for (ScheduleRow* r : view->findChildren<ScheduleRow*>())
            if (r->isVisible())
                rows.push_back(r);
        std::sort(rows.begin(), rows.end(), [this](ScheduleRow* a, ScheduleRow* b) {
            return a->mapTo(view.get(), QPoint()).y() < b->mapTo(view.get(), QPoint()).y();
        });
        return rows;
    }
};

TEST(SchedulesTab, AddingNamesTheScheduleByTheCountEvenWhenTheNameExists) {
    SchedulesRig rig({named("Oficina"), named("Gimnasio")});
    click(rig.find<QPushButton>("addSchedule"));
    ASSERT_EQ(rig.store->p().schedules.size(), 3u);
    const Schedule& added = rig.store->p().schedules[2];
    EXPECT_EQ(added.name, "Horario 3");
    EXPECT_TRUE(added.enabled);
    EXPECT_EQ(added.days, (std::set<std::int64_t>{2, 3, 4, 5, 6}));
    EXPECT_EQ(added.start, 540);
    EXPECT_EQ(added.end, 1080);
    EXPECT_EQ(rig.row(added)->findChild<QLineEdit*>("name")->text(), "Horario 3");
    EXPECT_EQ(rig.rowsOnScreen().size(), 3u);
    EXPECT_EQ(rig.rowsOnScreen().back(), rig.row(added));

    // Deleting the first leaves three names for four places; the next is "Horario 3" again.
    click(rig.row(std::size_t(0))->findChild<QToolButton*>("delete"));
    click(rig.find<QPushButton>("addSchedule"));
    ASSERT_EQ(rig.store->p().schedules.size(), 3u);
    EXPECT_EQ(rig.store->p().schedules[1].name, "Horario 3");
    EXPECT_EQ(rig.store->p().schedules[2].name, "Horario 3");
    EXPECT_NE(rig.store->p().schedules[1].id, rig.store->p().schedules[2].id);
}

TEST(SchedulesTab, DeletingKeepsTheOtherRowsTheirOrderAndTheirWidgets) {
    const std::vector<Schedule> three{named("Uno"), named("Dos"), named("Tres")};
    SchedulesRig rig(three);
    const QPointer<ScheduleRow> first = rig.row(three[0]);
    const QPointer<ScheduleRow> second = rig.row(three[1]);
    const QPointer<ScheduleRow> third = rig.row(three[2]);
    EXPECT_EQ(rig.rowsOnScreen(), (std::vector<ScheduleRow*>{first, second, third}));

    click(first->findChild<QToolButton*>("delete"));
    EXPECT_EQ(rig.store->p().schedules, (std::vector<Schedule>{three[1], three[2]}));
    EXPECT_EQ(rig.persisted().schedules, rig.store->p().schedules);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(rig.rowsOnScreen(), (std::vector<ScheduleRow*>{second, third}));

    click(third->findChild<QToolButton*>("delete"));
    click(second->findChild<QToolButton*>("delete"));
    EXPECT_TRUE(rig.store->p().schedules.empty());
    EXPECT_TRUE(rig.rowsOnScreen().empty());
    // Only the master switch with its footer and the add button remain.
    EXPECT_FALSE(rig.find("scheduleList")->isVisible());
    EXPECT_TRUE(rig.find("addSchedule")->isVisible());
}

TEST(SchedulesTab, DayButtonsToggleTheirWeekday) {
    SchedulesRig rig({named("Oficina")});
    ScheduleRow* row = rig.row(std::size_t(0));
    auto* monday = row->findChild<DayButton*>("day2");
    const auto letters = [row] {
        QString s;
        for (const auto& [number, letter] : ScheduleRow::days())
            s += row->findChild<DayButton*>("day" + QString::number(number))->text();
        return s;
    };
    EXPECT_EQ(letters(), "LMMJVSD");
    ASSERT_TRUE(monday->isOn());
    click(monday);
    EXPECT_EQ(rig.store->p().schedules[0].days, (std::set<std::int64_t>{3, 4, 5, 6}));
    EXPECT_FALSE(monday->isOn());
    click(monday);
    EXPECT_EQ(rig.store->p().schedules[0].days, (std::set<std::int64_t>{2, 3, 4, 5, 6}));
    EXPECT_TRUE(monday->isOn());
    click(row->findChild<DayButton*>("day1"));
    EXPECT_EQ(rig.store->p().schedules[0].days, (std::set<std::int64_t>{1, 2, 3, 4, 5, 6}));
}

TEST(SchedulesTab, OvernightNoteWhenTheEndIsNotAfterTheStart) {
    const std::vector<Schedule> schedules{named("Noche", 22 * 60, 6 * 60), named("Nunca", 540, 540),
                                          named("Día", 540, 1080)};
    SchedulesRig rig(schedules);
    const bool expected[] = {true, true, false};
    for (std::size_t i = 0; i < schedules.size(); ++i) {
        SCOPED_TRACE(schedules[i].name.toStdString());
        auto* note = rig.row(i)->findChild<QLabel*>("nextDay");
        EXPECT_EQ(note->isVisible(), expected[i]);
        EXPECT_EQ(note->text(), "(termina al día siguiente)");
    }
    EXPECT_EQ(rig.row(std::size_t(0))->findChild<QTimeEdit*>("start")->time(), QTime(22, 0));
    EXPECT_EQ(rig.row(std::size_t(0))->findChild<QTimeEdit*>("end")->time(), QTime(6, 0));

    // Moving the day schedule's start past its end by hand brings the note up.
    auto* start = rig.row(std::size_t(2))->findChild<QTimeEdit*>("start");
    start->setFocus();
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(start, Qt::Key_Up);
    SettingsRig::settle();
    EXPECT_EQ(rig.store->p().schedules[2].start, 19 * 60);
    EXPECT_TRUE(rig.row(std::size_t(2))->findChild<QLabel*>("nextDay")->isVisible());
}

TEST(SchedulesTab, TypingANameKeepsTheCaretAndTheText) {
    SchedulesRig rig({named("Oficina"), named("Casa")});
    auto* name = rig.row(std::size_t(1))->findChild<QLineEdit*>("name");
    EXPECT_EQ(name->placeholderText(), "Nombre");
    name->setFocus();
    QTest::keyClick(name, Qt::Key_End);
    QTest::keyClicks(name, " de campo");
    QTest::keyClick(name, Qt::Key_Home);
    QTest::keyClicks(name, "Mi ");
    EXPECT_EQ(rig.store->p().schedules[1].name, "Mi Casa de campo");
    EXPECT_EQ(name->text(), "Mi Casa de campo");
    EXPECT_EQ(name->cursorPosition(), 3);
    EXPECT_TRUE(name->hasFocus());
    // Another schedule's edit leaves this field alone.
    click(rig.row(std::size_t(0))->findChild<DayButton*>("day7"));
    EXPECT_EQ(name->cursorPosition(), 3);
    EXPECT_EQ(rig.store->p().schedules[0].name, "Oficina");
}

TEST(SchedulesTab, AScheduleSwitchedOffIsDrawnAtHalfOpacityAndStaysEditable) {
    SchedulesRig rig({named("Oficina")});
    ScheduleRow* row = rig.row(std::size_t(0));
    auto* fade = qobject_cast<QGraphicsOpacityEffect*>(row->graphicsEffect());
    ASSERT_NE(fade, nullptr);
    EXPECT_FALSE(fade->isEnabled());
    click(row->findChild<Switch*>("enabled"));
    EXPECT_FALSE(rig.store->p().schedules[0].enabled);
    EXPECT_TRUE(fade->isEnabled());
    EXPECT_DOUBLE_EQ(fade->opacity(), 0.5);
    EXPECT_TRUE(row->isEnabled());
    click(row->findChild<DayButton*>("day6"));
    EXPECT_FALSE(rig.store->p().schedules[0].days.contains(6));
    click(row->findChild<Switch*>("enabled"));
    EXPECT_TRUE(rig.store->p().schedules[0].enabled);
    EXPECT_FALSE(fade->isEnabled());
}

TEST(SchedulesTab, MasterSwitchOffDisablesEveryScheduleAndTheAddButtonKeepingValues) {
    SchedulesRig rig({named("Oficina"), named("Casa")}, false);
    const std::vector<Schedule> before = rig.store->p().schedules;
    auto* master = rig.find<QCheckBox>("schedulesEnabled");
    EXPECT_EQ(master->text(), "Usar horarios programados");
    auto* add = rig.find<QPushButton>("addSchedule");
    EXPECT_FALSE(add->isEnabled());
    EXPECT_FALSE(rig.row(std::size_t(0))->isEnabled());
    click(add);
    click(rig.row(std::size_t(0))->findChild<DayButton*>("day2"));
    EXPECT_EQ(rig.store->p().schedules, before);

    click(master);
    EXPECT_TRUE(rig.store->p().schedulesEnabled);
    EXPECT_TRUE(add->isEnabled());
    EXPECT_TRUE(rig.row(std::size_t(1))->isEnabled());
    click(master);
    EXPECT_FALSE(rig.row(std::size_t(1))->isEnabled());
    EXPECT_EQ(rig.store->p().schedules, before);
}

} // namespace
} // namespace morvane::test
