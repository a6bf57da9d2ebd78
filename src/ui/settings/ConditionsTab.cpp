#include "ConditionsTab.h"

#include "Engine.h"
#include "FormWidgets.h"
#include "PrefsBinding.h"
#include "SettingsBinding.h"
#include "Theme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>

#include <cmath>

namespace morvane {

namespace {

const QString kAppsHelp = QStringLiteral("Separá las apps con comas. Alcanza con parte del nombre: \"tea\" "
                                         "encuentra \"Teams\". CPU ahora: ");

QCheckBox* toggle(const QString& text, const QString& name, SettingsStore& store, bool Prefs::*field,
                  QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    bindToggle(box, store, field);
    return box;
}

// A toggle followed by a 110-pixel slider over `min` … `max` percent and its rounded value. The
// slider goes by the toggle's words, which end where its value begins ("uso mayor a" 20%).
QLayout* thresholdRow(QCheckBox* box, const QString& name, double Prefs::*field, int min, int max,
                      SettingsStore& store, QWidget* parent) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name + QStringLiteral("Slider"));
    slider->setAccessibleName(box->text());
    slider->setRange(min, max);
    slider->setFixedWidth(110);
    bindSlider(slider, store, field, wholeNumbers(), percentText);
    auto* value = new QLabel(parent);
    value->setObjectName(name + QStringLiteral("Text"));
    value->setFixedWidth(36);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    bindPercent(value, store, field);
    auto* row = new QHBoxLayout;
    row->addWidget(box);
    row->addStretch(1);
    row->addWidget(slider);
    row->addWidget(value);
    return row;
}

// A list of application names, editable while `enabledBy` is on; named by that toggle, whose
// words it completes.
QLineEdit* appsField(const QString& name, const QString& placeholder, QString Prefs::*field,
                     const QCheckBox* toggle, bool Prefs::*enabledBy, SettingsStore& store, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setAccessibleName(toggle->text());
    edit->setPlaceholderText(placeholder);
    bindText(edit, store, field);
    bindEnabled(edit, store, enabledBy);
    return edit;
}

} // namespace

QString ConditionsTab::cpuText(std::optional<double> cpuUsage) {
    if (!cpuUsage || !std::isfinite(*cpuUsage))
        return QStringLiteral("—");
    return QString::number(std::trunc(std::clamp(*cpuUsage * 100, -1e15, 1e15)), 'f', 0) + u'%';
}

ConditionsTab::ConditionsTab(SettingsStore& store, Engine& engine, QWidget* parent)
    : GroupedForm(parent)
    , m_engine(engine)
    , m_required(addGroup(QStringLiteral("Mover solo si se cumple al menos una (si marcás alguna)"),
                          kAppsHelp + cpuText(engine.cpuUsage())))
    , m_stateSymbol(new SymbolLabel(Symbol::checkmarkCircleFill, theme::green(), 16, this))
    , m_stateText(new QLabel(this))
    , m_activitySymbol(new SymbolLabel(Symbol::pauseCircle, theme::secondary(palette()), 16, this))
    , m_activityText(new QLabel(this))
    , m_stateLater(new QTimer(this)) {
    m_required->footer()->setObjectName(QStringLiteral("requiredFooter"));
    m_required->addRow(thresholdRow(toggle(QStringLiteral("La CPU está trabajando, uso mayor a"),
                                           QStringLiteral("reqCPU"), store, &Prefs::reqCPU, this),
                                    QStringLiteral("cpuThreshold"), &Prefs::cpuThreshold, 5, 95, store,
                                    this));
    m_required->addRow(toggle(QStringLiteral("Hay un disco extraíble con escritura conectado"),
                              QStringLiteral("reqRemovableDisk"), store, &Prefs::reqRemovableDisk, this));
    m_required->addRow(toggle(QStringLiteral("Está sonando audio (música, video o una llamada)"),
                              QStringLiteral("reqAudio"), store, &Prefs::reqAudio, this));
    QCheckBox* reqApps = toggle(QStringLiteral("Está abierta alguna de estas apps:"),
                                QStringLiteral("reqApps"), store, &Prefs::reqApps, this);
    m_required->addRow(reqApps);
    m_required->addRow(appsField(QStringLiteral("reqAppsList"), QStringLiteral("Teams, Slack, Zoom"),
                                 &Prefs::reqAppsList, reqApps, &Prefs::reqApps, store, this));

    FormGroup* never = addGroup(QStringLiteral("Nunca mover si"));
    never->addRow(toggle(QStringLiteral("Está usando solo la batería"), QStringLiteral("neverOnBattery"),
                         store, &Prefs::neverOnBattery, this));
    never->addRow(
        thresholdRow(toggle(QStringLiteral("La batería está por debajo de"),
                            QStringLiteral("neverBatteryLow"), store, &Prefs::neverBatteryLow, this),
                     QStringLiteral("batteryThreshold"), &Prefs::batteryThreshold, 5, 80, store, this));
    never->addRow(toggle(QStringLiteral("La pantalla está bloqueada"), QStringLiteral("neverLocked"), store,
                         &Prefs::neverLocked, this));
    QCheckBox* neverFrontmost = toggle(QStringLiteral("La app al frente se llama:"),
                                       QStringLiteral("neverFrontmost"), store, &Prefs::neverFrontmost, this);
    never->addRow(neverFrontmost);
    never->addRow(appsField(QStringLiteral("neverFrontmostList"), QStringLiteral("Keynote, Zoom"),
                            &Prefs::neverFrontmostList, neverFrontmost, &Prefs::neverFrontmost, store, this));

    auto* state = new QHBoxLayout;
    m_stateSymbol->setObjectName(QStringLiteral("stateSymbol"));
    m_stateText->setObjectName(QStringLiteral("stateText"));
    m_stateText->setWordWrap(true);
    state->addWidget(m_stateSymbol, 0, Qt::AlignVCenter);
    state->addWidget(m_stateText, 1, Qt::AlignVCenter);
    FormGroup* now = addGroup(QStringLiteral("Estado ahora"));
    now->addRow(state);
    auto* activity = new QHBoxLayout;
    m_activitySymbol->setObjectName(QStringLiteral("activitySymbol"));
    m_activityText->setObjectName(QStringLiteral("activityText"));
    m_activityText->setWordWrap(true);
    activity->addWidget(m_activitySymbol, 0, Qt::AlignVCenter);
    activity->addWidget(m_activityText, 1, Qt::AlignVCenter);
    now->addRow(activity);

    // A settings change can lift or impose a block as much as the engine's own state can. The
    // probes behind the state are asked once per turn of the event loop however many changes came
    // (dragging a threshold slider sends one per step).
    m_stateLater->setSingleShot(true);
    m_stateLater->setInterval(0);
    connect(m_stateLater, &QTimer::timeout, this, &ConditionsTab::refreshState);
    connect(&engine, &Engine::changed, this, &ConditionsTab::refreshFooter);
    connect(&engine, &Engine::changed, this, &ConditionsTab::refreshActivity);
    connect(&engine, &Engine::changed, m_stateLater, qOverload<>(&QTimer::start));
    connect(&store, &SettingsStore::changed, m_stateLater, qOverload<>(&QTimer::start));
    refreshState();
    refreshActivity();

    guardWheels();
}

void ConditionsTab::showEvent(QShowEvent* event) {
    GroupedForm::showEvent(event);
    refreshState();
}

void ConditionsTab::refreshFooter() {
    m_required->setFooter(kAppsHelp + cpuText(m_engine.cpuUsage()));
}

void ConditionsTab::refreshState() {
    // blockingReason() asks the machine's probes; a tab nobody sees need not ask them every second.
    if (!isVisible() && !m_stateText->text().isEmpty())
        return;
    const std::optional<QString> reason = m_engine.blockingReason();
    m_stateSymbol->setSymbol(reason ? Symbol::pauseCircleFill : Symbol::checkmarkCircleFill,
                             reason ? theme::orange() : theme::green());
    const QString text = reason.value_or(QStringLiteral("Con la configuración actual, puede mover"));
    if (m_stateText->text() != text)
        m_stateText->setText(text);
}

void ConditionsTab::refreshActivity() {
    // Nothing is asked here: the engine read the session's idle time back at its own tick.
    const ActivityCheck& check = m_engine.activityCheck();
    switch (check.verdict()) {
    case Verdict::verified:
        m_activitySymbol->setSymbol(Symbol::checkmarkCircleFill, theme::green());
        break;
    case Verdict::unverified:
        m_activitySymbol->setSymbol(Symbol::warningTriangle, theme::orange());
        break;
    case Verdict::unknown:
        m_activitySymbol->setSymbol(Symbol::pauseCircle, theme::secondary(palette()));
        break;
    }
    const QString text = check.line(m_engine.now());
    if (m_activityText->text() != text)
        m_activityText->setText(text);
}

} // namespace morvane
