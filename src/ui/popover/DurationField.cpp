#include "DurationField.h"

#include "SettingsStore.h"
#include "Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <optional>

namespace morvane {

namespace {

constexpr int kFieldWidth = 30;

// The integer the user typed, in their locale or in plain digits. Fractions are cut off and
// numbers beyond 64 bits saturate; the caller clamps to its range anyway.
std::optional<std::int64_t> parseInteger(QString text) {
    text = text.trimmed().replace(QChar(0x2212), QLatin1Char('-'));
    if (text.isEmpty())
        return std::nullopt;
    for (const QLocale& locale : {QLocale(), QLocale::c()}) {
        bool ok = false;
        const qlonglong whole = locale.toLongLong(text, &ok);
        if (ok)
            return whole;
        const double real = locale.toDouble(text, &ok);
        if (ok && std::isfinite(real))
            return real >= 9.2e18 ? INT64_MAX : real <= -9.2e18 ? INT64_MIN : std::int64_t(real);
    }
    return std::nullopt;
}

QLineEdit* integerEdit(const QString& name, const QString& accessibleName, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setAccessibleName(accessibleName);
    edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    edit->setFixedWidth(kFieldWidth);
    edit->setInputMethodHints(Qt::ImhFormattedNumbersOnly);
    return edit;
}

} // namespace

DurationField::DurationField(QWidget* parent)
    : QWidget(parent)
    , m_hours(integerEdit(QStringLiteral("hours"), QStringLiteral("Horas"), this))
    , m_mins(integerEdit(QStringLiteral("minutes"), QStringLiteral("Minutos"), this))
    , m_hoursUnit(new QLabel(QStringLiteral("h"), this))
    , m_minsUnit(new QLabel(QStringLiteral("min"), this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(m_hours);
    row->addWidget(m_hoursUnit);
    row->addWidget(m_mins);
    row->addWidget(m_minsUnit);
    tintUnits();
    setFocusProxy(m_hours);
    setMinutes(0);

    for (QLineEdit* edit : {m_hours, m_mins}) {
        // Qt emits returnPressed before editingFinished: the value is stored before the row's
        // button runs, and the second commit finds nothing left to do.
        connect(edit, &QLineEdit::returnPressed, this, [this, edit] {
            commit(edit);
            Q_EMIT submitted();
        });
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] { commit(edit); });
    }
}

std::int64_t DurationField::withHours(std::int64_t total, std::int64_t hours) {
    return total % 60 + std::clamp<std::int64_t>(hours, 0, 99) * 60;
}

std::int64_t DurationField::withMinutes(std::int64_t total, std::int64_t minutes) {
    return total / 60 * 60 + std::clamp<std::int64_t>(minutes, 0, 59);
}

void DurationField::setMinutes(std::int64_t minutes) {
    m_minutes = minutes;
    showPart(m_hours, minutes / 60);
    showPart(m_mins, minutes % 60);
}

void DurationField::showPart(QLineEdit* edit, std::int64_t value) {
    if (edit->isModified())
        return;
    const QString text = QLocale().toString(qlonglong(value));
    if (edit->text() != text)
        edit->setText(text);
}

void DurationField::commit(QLineEdit* edit) {
    if (!edit->isModified())
        return;
    edit->setModified(false);
    if (const auto typed = parseInteger(edit->text())) {
        const std::int64_t next =
            edit == m_hours ? withHours(m_minutes, *typed) : withMinutes(m_minutes, *typed);
        if (next != m_minutes) {
            m_minutes = next;
            Q_EMIT minutesEdited(next);
        }
    }
    // Whatever was typed, the field now reads what is stored (clamped, or put back).
    setMinutes(m_minutes);
}

void DurationField::tintUnits() {
    theme::setSecondary(m_hoursUnit);
    theme::setSecondary(m_minsUnit);
}

void DurationField::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        tintUnits();
    QWidget::changeEvent(event);
}

void bindDuration(DurationField* field, SettingsStore& store, std::int64_t Prefs::*minutes) {
    const auto refresh = [field, &store, minutes] { field->setMinutes(store.p().*minutes); };
    refresh();
    QObject::connect(&store, &SettingsStore::changed, field, refresh);
    QObject::connect(field, &DurationField::minutesEdited, field,
                     [&store, minutes](std::int64_t m) { store.update([&](Prefs& p) { p.*minutes = m; }); });
}

} // namespace morvane
