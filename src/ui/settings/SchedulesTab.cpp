#include "SchedulesTab.h"

#include "Accessibility.h"
#include "PrefsBinding.h"
#include "ScheduleRow.h"
#include "SettingsStore.h"
#include "Symbols.h"
#include "Theme.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace morvane {

SchedulesTab::SchedulesTab(SettingsStore& store, const Clock& clock, QWidget* parent)
    : GroupedForm(parent)
    , m_store(store)
    , m_clock(clock)
    , m_add(new QPushButton(QStringLiteral("Agregar horario"), this))
    , m_list(new QWidget(this))
    , m_listLayout(new QVBoxLayout(m_list)) {
    FormGroup* master = addGroup(
        {},
        QStringLiteral("Morvane se enciende al empezar cada horario y se apaga al terminar. Igual podés "
                       "prenderlo o apagarlo a mano cuando quieras; si lo apagás dentro de un horario, queda "
                       "apagado hasta el próximo."));
    auto* enabled = new QCheckBox(QStringLiteral("Usar horarios programados"), master);
    enabled->setObjectName(QStringLiteral("schedulesEnabled"));
    bindToggle(enabled, store, &Prefs::schedulesEnabled);
    master->addRow(enabled);

    m_list->setObjectName(QStringLiteral("scheduleList"));
    m_listLayout->setContentsMargins(0, 0, 0, 0);
    m_listLayout->setSpacing(kGroupSpacing);
    addWidget(m_list);
    bindEnabled(m_list, store, &Prefs::schedulesEnabled);

    FormGroup* add = addGroup();
    m_add->setObjectName(QStringLiteral("addSchedule"));
    m_add->setIcon(symbols::icon(Symbol::plus, theme::accent(palette())));
    auto* addRow = new QHBoxLayout;
    addRow->addWidget(m_add);
    addRow->addStretch(1);
    add->addRow(addRow);
    bindEnabled(add, store, &Prefs::schedulesEnabled);
    connect(m_add, &QPushButton::clicked, this, &SchedulesTab::addSchedule);

    connect(&store, &SettingsStore::changed, this, &SchedulesTab::refresh);
    refresh();
}

void SchedulesTab::changeEvent(QEvent* event) {
    GroupedForm::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        m_add->setIcon(symbols::icon(Symbol::plus, theme::accent(palette())));
}

void SchedulesTab::refresh() {
    std::vector<Entry> next;
    bool created = false;
    QHash<QUuid, int> seen;
    for (const Schedule& schedule : m_store.p().schedules) {
        const int occurrence = seen[schedule.id]++;
        auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
            return e.id == schedule.id && e.occurrence == occurrence;
        });
        if (found != m_entries.end()) {
            next.push_back(*found);
            m_entries.erase(found);
        } else {
            auto* group = new FormGroup({}, {}, m_list);
            const QUuid id = schedule.id;
            auto* row = new ScheduleRow(
                m_store, m_clock, id, occurrence, [this, id] { removeSchedule(id); }, group);
            group->addRow(row);
            next.push_back({id, occurrence, group, row});
            created = true;
        }
        next.back().row->setSchedule(schedule);
    }
    // The rows left over belong to removed schedules. One of them may be running the click that
    // removed it, so it goes once control is back in the event loop.
    for (const Entry& gone : m_entries) {
        m_listLayout->removeWidget(gone.group);
        gone.group->hide();
        gone.group->deleteLater();
    }
    m_entries = std::move(next);

    bool moved = false;
    for (int i = 0; i < int(m_entries.size()); ++i) {
        QWidget* group = m_entries[std::size_t(i)].group;
        if (m_listLayout->itemAt(i) && m_listLayout->itemAt(i)->widget() == group)
            continue;
        m_listLayout->removeWidget(group);
        m_listLayout->insertWidget(i, group);
        moved = true;
    }
    m_list->setHidden(m_entries.empty());
    if (created)
        guardWheels();
    // A new row's controls were made last, and a moved row keeps its old place in the Tab chain.
    if (created || moved)
        a11y::followReadingOrder(widget());
}

void SchedulesTab::addSchedule() {
    m_store.update([](Prefs& p) {
        Schedule added; // a fresh random identifier
        added.enabled = true;
        added.name = QStringLiteral("Horario ") + QString::number(p.schedules.size() + 1);
        added.days = {2, 3, 4, 5, 6};
        added.start = 540;
        added.end = 1080;
        p.schedules.push_back(added);
    });
}

void SchedulesTab::removeSchedule(const QUuid& id) {
    m_store.update(
        [&id](Prefs& p) { std::erase_if(p.schedules, [&id](const Schedule& s) { return s.id == id; }); });
}

} // namespace morvane
