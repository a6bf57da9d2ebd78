#include "PrefsBinding.h"

#include "Ports.h"
#include "SettingsStore.h"
#include "TimeField.h"

#include <QAbstractButton>
#include <QLineEdit>

namespace morvane {

namespace {

// Runs `refresh` now and after every change of the store, for as long as `widget` lives.
template <typename Refresh> void follow(QWidget* widget, SettingsStore& store, Refresh refresh) {
    refresh();
    QObject::connect(&store, &SettingsStore::changed, widget, refresh);
}

} // namespace

void bindToggle(QAbstractButton* button, SettingsStore& store, bool Prefs::*field) {
    button->setCheckable(true);
    follow(button, store, [button, &store, field] {
        if (button->isChecked() != store.p().*field)
            button->setChecked(store.p().*field);
    });
    // toggled also fires for setChecked above; the store then already holds the value.
    QObject::connect(button, &QAbstractButton::toggled, button, [&store, field](bool on) {
        if (store.p().*field != on)
            store.update([&](Prefs& p) { p.*field = on; });
    });
}

void bindText(QLineEdit* edit, SettingsStore& store, QString Prefs::*field) {
    follow(edit, store, [edit, &store, field] {
        if (edit->text() != store.p().*field)
            edit->setText(store.p().*field);
    });
    QObject::connect(edit, &QLineEdit::textEdited, edit, [&store, field](const QString& text) {
        store.update([&](Prefs& p) { p.*field = text; });
    });
}

void bindTime(TimeField* time, SettingsStore& store, std::int64_t Prefs::*minutes, const Clock& clock) {
    follow(time, store, [time, &store, minutes, &clock] {
        time->setMinutes(store.p().*minutes, clock.now(), clock.timeZone());
    });
    QObject::connect(time, &TimeField::minutesEdited, time,
                     [&store, minutes](std::int64_t m) { store.update([&](Prefs& p) { p.*minutes = m; }); });
}

void bindEnabled(QWidget* widget, SettingsStore& store, bool Prefs::*field) {
    follow(widget, store, [widget, &store, field] { widget->setEnabled(store.p().*field); });
}

} // namespace morvane
