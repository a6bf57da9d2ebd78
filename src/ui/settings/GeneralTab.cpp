#include "GeneralTab.h"

#include "GroupedForm.h"
#include "LoginModel.h"
#include "PrefsBinding.h"
#include "Theme.h"
#include "Updater.h"
#include "UpdatesSection.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace morvane {

namespace {

struct ToggleRow {
    const char* name;
    const char* text;
    bool Prefs::*field;
};

void addToggles(FormGroup* group, SettingsStore& store, std::initializer_list<ToggleRow> rows) {
    for (const ToggleRow& row : rows) {
        auto* box = new QCheckBox(QString::fromUtf8(row.text), group);
        box->setObjectName(QLatin1String(row.name));
        bindToggle(box, store, row.field);
        group->addRow(box);
    }
}

// A row with a name on the left and its value, in the secondary colour, on the right.
void addLabelledRow(FormGroup* group, const QString& name, const QString& value, const QString& objectName) {
    auto* valueLabel = new QLabel(value, group);
    valueLabel->setObjectName(objectName);
    valueLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    markSecondary(valueLabel);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(name, group));
    row->addStretch(1);
    row->addWidget(valueLabel);
    group->addRow(row);
}

} // namespace

GeneralTab::GeneralTab(SettingsStore& store, LoginModel& login, Updater& updater, QWidget* parent)
    : GroupedForm(parent) {
    FormGroup* start = addGroup();
    auto* atLogin = new QCheckBox(QStringLiteral("Abrir Morvane al iniciar sesión"), start);
    atLogin->setObjectName(QStringLiteral("openAtLogin"));
    const auto showLogin = [atLogin, &login] {
        const QSignalBlocker quiet(atLogin);
        atLogin->setChecked(login.on());
    };
    showLogin();
    connect(&login, &LoginModel::changed, atLogin, showLogin);
    connect(atLogin, &QCheckBox::toggled, &login, &LoginModel::setOn);
    start->addRow(atLogin);
    addToggles(start, store,
               {{"restoreState", "Recordar si estaba activo al abrir", &Prefs::restoreState},
                {"hotkey", "Atajo global Ctrl+Alt+Super+J para activar / desactivar", &Prefs::hotkey}});

    addToggles(
        addGroup(), store,
        {{"countdownInMenuBar", "Mostrar cuenta regresiva en la barra de menú", &Prefs::countdownInMenuBar},
         {"notifications", "Avisar con notificaciones cuando se prende o se apaga solo",
          &Prefs::notifications},
         {"quitWhenTimerEnds", "Al terminar un temporizador, cerrar la app", &Prefs::quitWhenTimerEnds}});

    addToggles(
        addGroup({}, QStringLiteral("Evita que la pantalla y la computadora se duerman aunque no se mueva "
                                    "nada. Se libera al apagar Morvane.")),
        store,
        {{"preventDisplaySleep", "Mantener la pantalla encendida mientras está activo",
          &Prefs::preventDisplaySleep}});

    addWidget(new UpdatesSection(store, updater, widget()));

    FormGroup* about = addGroup();
    addLabelledRow(about, QStringLiteral("Versión"), updater.currentVersion(), QStringLiteral("version"));
    addLabelledRow(about, QStringLiteral("Hecho por"), kCredit, QStringLiteral("credit"));

    guardWheels();
}

} // namespace morvane
