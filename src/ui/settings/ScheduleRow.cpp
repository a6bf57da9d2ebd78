#include "ScheduleRow.h"

#include "Accessibility.h"
#include "FormWidgets.h"
#include "GroupedForm.h"
#include "Ports.h"
#include "SettingsStore.h"
#include "Theme.h"
#include "TimeField.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace morvane {

namespace {

// The colour of destructive actions.
const QColor kDestructive(0xD9, 0x3F, 0x3C);

QHBoxLayout* row(QVBoxLayout* column) {
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    column->addLayout(layout);
    return layout;
}

} // namespace

const std::array<std::pair<int, QString>, 7>& ScheduleRow::days() {
    static const std::array<std::pair<int, QString>, 7> list{{{2, QStringLiteral("L")},
                                                              {3, QStringLiteral("M")},
                                                              {4, QStringLiteral("M")},
                                                              {5, QStringLiteral("J")},
                                                              {6, QStringLiteral("V")},
                                                              {7, QStringLiteral("S")},
                                                              {1, QStringLiteral("D")}}};
    return list;
}

ScheduleRow::ScheduleRow(SettingsStore& store, const Clock& clock, const QUuid& id, int occurrence,
                         std::function<void()> onDelete, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_clock(clock)
    , m_id(id)
    , m_occurrence(occurrence)
    , m_enabled(new Switch(this))
    , m_name(new QLineEdit(this))
    , m_start(new TimeField(this))
    , m_end(new TimeField(this))
    , m_nextDay(new QLabel(QStringLiteral("(termina al día siguiente)"), this))
    , m_fade(new QGraphicsOpacityEffect(this)) {
    setObjectName(QStringLiteral("schedule-") + id.toString(QUuid::WithoutBraces));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 2, 0, 2);
    column->setSpacing(10);

    // Switch, name and delete button.
    QHBoxLayout* top = row(column);
    m_enabled->setObjectName(QStringLiteral("enabled"));
    a11y::setToolTipName(m_enabled, QStringLiteral("Activo"));
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setPlaceholderText(QStringLiteral("Nombre"));
    m_name->setAccessibleName(m_name->placeholderText());
    m_name->setFrame(false);
    m_name->setFont(theme::headline());
    QPalette plain = m_name->palette();
    plain.setColor(QPalette::Base, Qt::transparent);
    m_name->setPalette(plain);
    auto* remove = new QToolButton(this);
    remove->setObjectName(QStringLiteral("delete"));
    a11y::setToolTipName(remove, QStringLiteral("Eliminar"));
    remove->setAutoRaise(true);
    remove->setIcon(symbols::icon(Symbol::trash, kDestructive));
    remove->setIconSize(QSize(16, 16));
    top->addWidget(m_enabled);
    top->addSpacing(4);
    top->addWidget(m_name, 1);
    top->addWidget(remove);

    // The weekdays, in the order of days().
    static const std::array<QString, 7> dayNames{QStringLiteral("Lunes"),     QStringLiteral("Martes"),
                                                 QStringLiteral("Miércoles"), QStringLiteral("Jueves"),
                                                 QStringLiteral("Viernes"),   QStringLiteral("Sábado"),
                                                 QStringLiteral("Domingo")};
    QHBoxLayout* week = row(column);
    week->setSpacing(6);
    for (std::size_t i = 0; i < days().size(); ++i) {
        const auto& [number, letter] = days()[i];
        auto* day = new DayButton(letter, this);
        day->setObjectName(QStringLiteral("day") + QString::number(number));
        // "M" stands for two days: the letter alone tells a listener nothing.
        a11y::setToolTipName(day, dayNames[i]);
        week->addWidget(day);
        m_days[i] = day;
        connect(day, &DayButton::clicked, this, [this, number = number] {
            edit([number](Schedule& s) {
                if (!s.days.erase(number))
                    s.days.insert(number);
            });
        });
    }
    week->addStretch(1);

    // The hours.
    QHBoxLayout* hours = row(column);
    m_start->setObjectName(QStringLiteral("start"));
    m_end->setObjectName(QStringLiteral("end"));
    m_nextDay->setObjectName(QStringLiteral("nextDay"));
    m_nextDay->setFont(theme::caption());
    markSecondary(m_nextDay);
    auto* from = new QLabel(QStringLiteral("De"), this);
    auto* to = new QLabel(QStringLiteral("a"), this);
    a11y::labelFor(from, m_start);
    a11y::labelFor(to, m_end);
    hours->addWidget(from);
    hours->addWidget(m_start);
    hours->addWidget(to);
    hours->addWidget(m_end);
    hours->addWidget(m_nextDay);
    hours->addStretch(1);

    m_fade->setOpacity(0.5);
    m_fade->setEnabled(false);
    setGraphicsEffect(m_fade);

    connect(m_enabled, &Switch::toggled, this,
            [this](bool on) { edit([on](Schedule& s) { s.enabled = on; }); });
    connect(m_name, &QLineEdit::textEdited, this,
            [this](const QString& text) { edit([&text](Schedule& s) { s.name = text; }); });
    connect(m_start, &TimeField::minutesEdited, this,
            [this](std::int64_t m) { edit([m](Schedule& s) { s.start = m; }); });
    connect(m_end, &TimeField::minutesEdited, this,
            [this](std::int64_t m) { edit([m](Schedule& s) { s.end = m; }); });
    connect(remove, &QToolButton::clicked, this, [onDelete = std::move(onDelete)] {
        if (onDelete)
            onDelete();
    });
}

void ScheduleRow::setSchedule(const Schedule& s) {
    {
        const QSignalBlocker quiet(m_enabled);
        m_enabled->setChecked(s.enabled);
    }
    if (m_name->text() != s.name)
        m_name->setText(s.name);
    for (std::size_t i = 0; i < days().size(); ++i)
        m_days[i]->setOn(s.days.contains(days()[i].first));
    const Instant now = m_clock.now();
    const QTimeZone zone = m_clock.timeZone();
    m_start->setMinutes(s.start, now, zone);
    m_end->setMinutes(s.end, now, zone);
    m_nextDay->setHidden(s.end > s.start);
    m_fade->setEnabled(!s.enabled);
}

void ScheduleRow::edit(const std::function<void(Schedule&)>& change) {
    m_store.update([&](Prefs& p) {
        int seen = 0;
        for (Schedule& s : p.schedules)
            if (s.id == m_id && seen++ == m_occurrence) {
                change(s);
                return;
            }
    });
}

} // namespace morvane
