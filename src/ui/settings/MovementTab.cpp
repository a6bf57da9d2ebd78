#include "MovementTab.h"

#include "Accessibility.h"
#include "Engine.h"
#include "Fmt.h"
#include "FormWidgets.h"
#include "GroupedForm.h"
#include "PrefsBinding.h"
#include "SettingsBinding.h"
#include "Theme.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace morvane {

namespace {

QLabel* secondaryLabel(const QString& text, const QFont& font, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    markSecondary(label);
    return label;
}

// One radio button per case, stacked, with `name` + the case's index as object names.
template <typename E, std::size_t N>
QWidget* radioColumn(const std::array<E, N>& cases, const QString& name, SettingsStore& store,
                     E Prefs::*field, QWidget* parent) {
    auto* column = new QWidget(parent);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    auto* group = new QButtonGroup(column);
    for (std::size_t i = 0; i < N; ++i) {
        auto* radio = new QRadioButton(label(cases[i]), column);
        radio->setObjectName(name + QString::number(i));
        group->addButton(radio, int(i));
        layout->addWidget(radio);
    }
    bindChoice(group, cases, store, field);
    return column;
}

QPushButton* actionButton(const QString& text, const QString& name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

} // namespace

double MovementTab::logPosition(double interval, double minI, double maxI) {
    if (!(interval > minI) || !(maxI > minI))
        return 0;
    if (!(interval < maxI))
        return 1;
    return std::log(interval / minI) / std::log(maxI / minI);
}

double MovementTab::intervalAt(double x, double minI, double maxI) {
    const double a = minI * std::pow(maxI / minI, std::clamp(x, 0.0, 1.0));
    const double step = a < 60 ? 5 : a < 600 ? 15 : a < 3600 ? 60 : a < 21600 ? 300 : 1800;
    return step * std::round(a / step);
}

double MovementTab::stepped(double interval, int direction, double minI, double maxI) {
    if (!std::isfinite(interval))
        return minI;
    // Going down from exactly one minute lands below it, where the steps are 5 s.
    const double step = direction > 0 ? (interval < 60 ? 5 : 60) : (interval <= 60 ? 5 : 60);
    return std::clamp(interval + (direction > 0 ? step : -step), minI, maxI);
}

MovementTab::MovementTab(SettingsStore& store, Engine& engine, const Clock& clock, AppActions actions,
                         double minI, double maxI, QWidget* parent)
    : GroupedForm(parent)
    , m_store(store)
    , m_engine(engine)
    , m_minI(minI)
    , m_maxI(std::max(minI, maxI))
    , m_intervalText(new QLabel(this))
    , m_stepper(new Stepper(this))
    , m_permissionSymbol(new SymbolLabel(Symbol::warningTriangle, theme::orange(), 16, this))
    , m_permissionText(new QLabel(this))
    , m_openSettings(actionButton(QStringLiteral("Abrir ajustes"), QStringLiteral("openSettings"), this))
    , m_permissionHelp(nullptr) {
    // Interval.
    FormGroup* interval =
        addGroup(QStringLiteral("Intervalo"),
                 QStringLiteral("Usá un tiempo menor al del protector de pantalla y al reposo "
                                "de pantalla de la configuración del sistema."));
    auto* intervalColumn = new QVBoxLayout;
    intervalColumn->setSpacing(4);
    auto* every = new QHBoxLayout;
    every->addWidget(new QLabel(QStringLiteral("Cada"), this));
    every->addStretch(1);
    m_intervalText->setObjectName(QStringLiteral("intervalText"));
    m_intervalText->setFont(theme::semibold(font()));
    m_intervalText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    every->addWidget(m_intervalText);
    every->addSpacing(6);
    m_stepper->setObjectName(QStringLiteral("intervalStepper"));
    every->addWidget(m_stepper);
    intervalColumn->addLayout(every);

    auto* slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(QStringLiteral("intervalSlider"));
    slider->setAccessibleName(QStringLiteral("Intervalo"));
    slider->setRange(0, kIntervalPositions);
    slider->setSingleStep(1);
    slider->setPageStep(kIntervalPositions / 20);
    bindSlider(slider, store, &Prefs::interval,
               {[minI = m_minI, maxI = m_maxI](double v) {
                    return int(std::lround(logPosition(v, minI, maxI) * kIntervalPositions));
                },
                [minI = m_minI, maxI = m_maxI](int position) {
                    return intervalAt(double(position) / kIntervalPositions, minI, maxI);
                }},
               [](double seconds) { return Fmt::duration(seconds); });
    intervalColumn->addWidget(slider);

    auto* ticks = new QHBoxLayout;
    const QStringList tickTexts{QStringLiteral("5 s"), QStringLiteral("1 min"), QStringLiteral("5 min"),
                                QStringLiteral("1 h"), QStringLiteral("5 h"),   QStringLiteral("24 h")};
    for (const QString& text : tickTexts) {
        ticks->addWidget(secondaryLabel(text, theme::caption2(), this));
        if (&text != &tickTexts.constLast())
            ticks->addStretch(1);
    }
    intervalColumn->addLayout(ticks);
    interval->addRow(intervalColumn);

    auto* randomize =
        new QCheckBox(QStringLiteral("Variar un poco el intervalo y la dirección (más natural)"), this);
    randomize->setObjectName(QStringLiteral("randomize"));
    bindToggle(randomize, store, &Prefs::randomize);
    interval->addRow(randomize);

    connect(m_stepper, &Stepper::stepped, this, [this](int direction) {
        const double next = stepped(m_store.p().interval, direction, m_minI, m_maxI);
        m_store.update([next](Prefs& p) { p.interval = next; });
    });
    followStore(this, store, [this] { refreshInterval(); });

    // When to move.
    addGroup(QStringLiteral("Cuándo mover"))
        ->addRow(radioColumn(kAllTriggerPolicies, QStringLiteral("policy"), store, &Prefs::policy, this));

    // How to move.
    FormGroup* how = addGroup(QStringLiteral("Cómo mover"));
    how->addRow(radioColumn(kAllJiggleModes, QStringLiteral("mode"), store, &Prefs::mode, this));
    auto* distance = new QHBoxLayout;
    auto* distanceLabel = new QLabel(QStringLiteral("Distancia"), this);
    distance->addWidget(distanceLabel);
    distance->addSpacing(12);
    distance->addWidget(secondaryLabel(QStringLiteral("cerca"), theme::caption(), this));
    auto* distanceSlider = new QSlider(Qt::Horizontal, this);
    distanceSlider->setObjectName(QStringLiteral("distanceSlider"));
    distanceSlider->setRange(1, 60);
    a11y::labelFor(distanceLabel, distanceSlider);
    bindSlider(distanceSlider, store, &Prefs::distance, wholeNumbers());
    distance->addWidget(distanceSlider, 1);
    distance->addWidget(secondaryLabel(QStringLiteral("lejos"), theme::caption(), this));
    QWidget* distanceRow = how->addRow(distance);
    distanceRow->setObjectName(QStringLiteral("distanceRow"));
    bindVisible(distanceRow, store, [](const Prefs& p) { return p.mode == JiggleMode::standard; });
    auto* showIcon = new QCheckBox(QStringLiteral("Mostrar un ícono en pantalla cada vez que mueve"), this);
    showIcon->setObjectName(QStringLiteral("showIconOnJiggle"));
    bindToggle(showIcon, store, &Prefs::showIconOnJiggle);
    how->addRow(showIcon);

    // Permission.
    FormGroup* permission = addGroup(QStringLiteral("Permiso"));
    auto* state = new QHBoxLayout;
    m_permissionSymbol->setObjectName(QStringLiteral("permissionSymbol"));
    m_permissionText->setObjectName(QStringLiteral("permissionText"));
    m_permissionText->setWordWrap(true);
    state->addWidget(m_permissionSymbol);
    state->addWidget(m_permissionText, 1);
    state->addWidget(m_openSettings);
    QPushButton* tryNow = actionButton(QStringLiteral("Probar ahora"), QStringLiteral("tryNow"), this);
    state->addWidget(tryNow);
    permission->addRow(state);

    auto* help = new QHBoxLayout;
    auto* restartHint =
        secondaryLabel(QStringLiteral("Después de activarlo, reiniciá la app."), theme::caption(), this);
    restartHint->setWordWrap(true);
    help->addWidget(restartHint, 1);
    QPushButton* reset =
        actionButton(QStringLiteral("Restablecer permiso"), QStringLiteral("resetPermission"), this);
    QPushButton* relaunch =
        actionButton(QStringLiteral("Reiniciar Morvane"), QStringLiteral("relaunch"), this);
    help->addWidget(reset);
    help->addWidget(relaunch);
    m_permissionHelp = permission->addRow(help);
    m_permissionHelp->setObjectName(QStringLiteral("permissionHelpRow"));

    const auto call = [](const std::function<void()>& action) {
        return [action] {
            if (action)
                action();
        };
    };
    connect(m_openSettings, &QPushButton::clicked, this, call(actions.requestPermission));
    connect(reset, &QPushButton::clicked, this, call(actions.resetPermission));
    connect(relaunch, &QPushButton::clicked, this, call(actions.relaunch));
    connect(tryNow, &QPushButton::clicked, this, [this, &clock] { m_engine.doJiggle(clock.now()); });
    connect(&engine, &Engine::changed, this, &MovementTab::refreshPermission);
    refreshPermission();

    guardWheels();
}

void MovementTab::refreshInterval() {
    const double interval = m_store.p().interval;
    const QString text = Fmt::duration(interval);
    if (m_intervalText->text() != text)
        m_intervalText->setText(text);
    m_stepper->setLimits(interval > m_minI, interval < m_maxI);
}

void MovementTab::refreshPermission() {
    const bool ok = m_engine.accessibilityOK();
    m_permissionSymbol->setSymbol(ok ? Symbol::checkmarkSeal : Symbol::warningTriangle,
                                  ok ? theme::green() : theme::orange());
    const QString text = ok ? QStringLiteral("Accesibilidad habilitada")
                            : QStringLiteral("Hace falta Accesibilidad para mover o hacer click");
    if (m_permissionText->text() != text)
        m_permissionText->setText(text);
    m_openSettings->setHidden(ok);
    m_permissionHelp->setHidden(ok);
}

} // namespace morvane
