#include "MenuView.h"

#include "Accessibility.h"
#include "ActivityBanner.h"
#include "ChipButton.h"
#include "DurationField.h"
#include "Engine.h"
#include "Fmt.h"
#include "MenuParts.h"
#include "Ports.h"
#include "PrefsBinding.h"
#include "SettingsStore.h"
#include "StateBadge.h"
#include "Theme.h"
#include "TimeField.h"
#include "Updater.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace morvane {

using namespace menu;

namespace {

constexpr int kPadding = 14;
constexpr int kItemSpacing = 12;
constexpr int kSectionSpacing = 6;
constexpr int kTimerSpacing = 4;
constexpr int kBannerPadding = 8;
constexpr qreal kBannerRadius = 8;
constexpr int kCaptionIcon = 14;
constexpr int kLineIcon = 16;
constexpr int kFooterIcon = 16;

// How to switch Morvane without the popover, by what the session offers: the icon's right click,
// the hot key, or else the command line.
QString switchHint(bool icon, bool hotKey) {
    if (icon && hotKey)
        return QStringLiteral("Clic derecho en el ícono o Ctrl+Alt+Super+J: activar/desactivar");
    if (icon)
        return QStringLiteral("Clic derecho en el ícono: activar/desactivar");
    if (hotKey)
        return QStringLiteral("Ctrl+Alt+Super+J: activar/desactivar");
    return QStringLiteral("Sin ícono ni atajo aquí: «morvane --toggle» activa/desactiva");
}

QColor bannerOrange(const QPalette&) {
    return theme::withOpacity(theme::orange(), 0.12);
}
QColor bannerAccent(const QPalette& palette) {
    return theme::withOpacity(theme::accent(palette), 0.12);
}
template <typename T> void setIfDifferent(QLabel* l, const T& text) {
    if (l->text() != text)
        l->setText(text);
}

} // namespace

MenuView::MenuView(Engine& engine, SettingsStore& store, Updater& updater, const Clock& clock,
                   QList<QuickDuration> quick, AppActions actions, QWidget* parent)
    : QWidget(parent)
    , m_engine(engine)
    , m_store(store)
    , m_updater(updater)
    , m_clock(clock)
    , m_quick(std::move(quick))
    , m_actions(std::move(actions)) {
    setObjectName(QStringLiteral("menuView"));
    setFixedWidth(kWidth);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    root->setSpacing(kItemSpacing);
    root->addWidget(buildHeader());
    root->addWidget(m_permission = buildPermissionBanner());
    root->addWidget(m_activity = new ActivityBanner(m_actions.showDiagnosis));
    root->addWidget(m_update = buildUpdateBanner());
    root->addWidget(m_timers = buildTimers());
    root->addWidget(divider());
    root->addWidget(buildActivateSection());
    root->addWidget(buildProgramSection());
    root->addWidget(buildPauseSection());
    root->addWidget(divider());
    root->addWidget(buildFooter());
    setTabOrder();
    a11y::enterClicksButtons(this);
    applyColors();

    connect(&m_engine, &Engine::changed, this, &MenuView::refreshIfShown);
    connect(&m_store, &SettingsStore::changed, this, &MenuView::refreshIfShown);
    connect(&m_updater, &Updater::changed, this, &MenuView::refreshIfShown);
    refresh();
}

void MenuView::refreshIfShown() {
    // The engine announces a change every second; a closed popover catches up when it opens.
    if (isVisible())
        refresh();
    else
        m_stale = true;
}

void MenuView::showEvent(QShowEvent* event) {
    if (m_stale) {
        m_stale = false;
        refresh();
    }
    QWidget::showEvent(event);
}

QList<QuickDuration> MenuView::defaultQuick() {
    return {{QStringLiteral("15 min"), 900}, {QStringLiteral("30 min"), 1800},
            {QStringLiteral("1 h"), 3600},   {QStringLiteral("2 h"), 7200},
            {QStringLiteral("4 h"), 14400},  {QStringLiteral("8 h"), 28800}};
}

QList<QuickDuration> MenuView::pauseChips() {
    return {{QStringLiteral("5 min"), 300}, {QStringLiteral("15 min"), 900}, {QStringLiteral("1 h"), 3600}};
}

QWidget* MenuView::buildHeader() {
    auto* header = new QWidget;
    QHBoxLayout* l = row(header);
    m_badge = new StateBadge;
    m_badge->setObjectName(QStringLiteral("stateBadge"));
    l->addWidget(m_badge);

    auto* column = new QVBoxLayout;
    column->setSpacing(1);
    column->addWidget(label(QStringLiteral("Morvane"), theme::headline()));
    m_status = label(QString(), theme::caption());
    m_status->setObjectName(QStringLiteral("statusLabel"));
    // One line at most: the text is elided to whatever width the header leaves it.
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_status->installEventFilter(this);
    m_secondaryLabels << m_status;
    column->addWidget(m_status);
    l->addLayout(column, 1);

    m_switch = new Switch;
    m_switch->setObjectName(QStringLiteral("enabledSwitch"));
    m_switch->setAccessibleName(QStringLiteral("Activar o desactivar Morvane"));
    connect(m_switch, &QAbstractButton::clicked, this, [this] {
        m_engine.toggle(false);
        m_switch->setChecked(m_engine.enabled());
    });
    l->addWidget(m_switch);
    return header;
}

QWidget* MenuView::buildPermissionBanner() {
    auto* banner = new Fill(bannerOrange, kBannerRadius);
    banner->setObjectName(QStringLiteral("permissionBanner"));
    auto* l = new QVBoxLayout(banner);
    l->setContentsMargins(kBannerPadding, kBannerPadding, kBannerPadding, kBannerPadding);
    l->setSpacing(6);

    auto* warning = new QWidget;
    QHBoxLayout* warningRow = row(warning, 6);
    auto* icon = new QLabel;
    m_symbolLabels << std::pair{icon, Symbol::warningTriangle};
    QLabel* text =
        label(QStringLiteral("Falta el permiso de Accesibilidad para mover el cursor."), theme::caption());
    text->setWordWrap(true);
    QPalette orange = text->palette();
    orange.setColor(QPalette::WindowText, theme::orange());
    text->setPalette(orange);
    warningRow->addWidget(icon, 0, Qt::AlignTop);
    warningRow->addWidget(text, 1);
    l->addWidget(warning);

    QLabel* advice =
        label(QStringLiteral("Activá Morvane en la lista y después reiniciá la app."), theme::caption2());
    advice->setWordWrap(true);
    m_secondaryLabels << advice;
    l->addWidget(advice);

    QPushButton* grant = smallButton(QStringLiteral("Dar permiso…"), QStringLiteral("grantPermissionButton"));
    QPushButton* relaunch =
        smallButton(QStringLiteral("Reiniciar Morvane"), QStringLiteral("relaunchButton"));
    auto* buttons = new QWidget;
    QHBoxLayout* buttonRow = row(buttons, 8);
    buttonRow->addWidget(grant);
    buttonRow->addWidget(relaunch);
    buttonRow->addStretch(1);
    l->addWidget(buttons);

    auto* reset = new LinkButton(QStringLiteral("¿Ya está activado y sigue pidiendo? Restablecer permiso"),
                                 QStringLiteral("resetPermissionButton"), theme::caption2());
    l->addWidget(reset, 0, Qt::AlignLeft);

    connect(grant, &QPushButton::clicked, this, [this] {
        if (m_actions.requestPermission)
            m_actions.requestPermission();
    });
    connect(relaunch, &QPushButton::clicked, this, [this] {
        if (m_actions.relaunch)
            m_actions.relaunch();
    });
    connect(reset, &QAbstractButton::clicked, this, [this] {
        if (m_actions.resetPermission)
            m_actions.resetPermission();
    });
    return banner;
}

QWidget* MenuView::buildUpdateBanner() {
    auto* banner = new Fill(bannerAccent, kBannerRadius);
    banner->setObjectName(QStringLiteral("updateBanner"));
    QHBoxLayout* l = row(banner, 6);
    l->setContentsMargins(kBannerPadding, kBannerPadding, kBannerPadding, kBannerPadding);
    auto* icon = new QLabel;
    m_symbolLabels << std::pair{icon, Symbol::arrowDownCircle};
    m_updateText = label(QString(), theme::caption());
    m_updateText->setObjectName(QStringLiteral("updateLabel"));
    m_updateText->setWordWrap(true);
    m_install = smallButton(QStringLiteral("Instalar"), QStringLiteral("installButton"));
    l->addWidget(icon);
    l->addWidget(m_updateText, 1);
    l->addWidget(m_install);
    connect(m_install, &QPushButton::clicked, this, [this] {
        // Copied: install() publishes changes, and observers may replace what `available` holds.
        if (const std::optional<UpdateInfo> info = m_updater.available())
            m_updater.install(*info);
    });
    return banner;
}

QWidget* MenuView::buildTimers() {
    auto* block = new QWidget;
    block->setObjectName(QStringLiteral("timersBlock"));
    auto* l = new QVBoxLayout(block);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(kTimerSpacing);
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        LineRow& line = m_lines[i];
        line.row = new QWidget;
        QHBoxLayout* r = row(line.row, 6);
        line.icon = new QLabel;
        line.icon->setFixedSize(kLineIcon, kLineIcon);
        line.text = label(QString(), theme::callout());
        line.text->setWordWrap(true); // a long schedule name must not widen the popover
        line.text->setObjectName(QStringLiteral("timerLine%1").arg(i));
        r->addWidget(line.icon, 0, Qt::AlignTop);
        r->addWidget(line.text, 1);
        l->addWidget(line.row);
    }
    m_cancelTimers = new LinkButton(QStringLiteral("Cancelar temporizadores"),
                                    QStringLiteral("cancelTimersButton"), theme::caption());
    connect(m_cancelTimers, &QAbstractButton::clicked, this, [this] { m_engine.cancelTimers(); });
    l->addWidget(m_cancelTimers, 0, Qt::AlignLeft);
    return block;
}

QWidget* MenuView::section(const QString& title, const QList<QWidget*>& rows) {
    auto* box = new QWidget;
    auto* l = new QVBoxLayout(box);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(kSectionSpacing);
    QLabel* heading = label(title.toUpper(), theme::semibold(theme::caption()));
    m_secondaryLabels << heading;
    l->addWidget(heading);
    for (QWidget* r : rows)
        l->addWidget(r);
    return box;
}

QWidget* MenuView::buildActivateSection() {
    auto* grid = new QWidget;
    auto* g = new QGridLayout(grid);
    g->setContentsMargins(0, 0, 0, 0);
    g->setHorizontalSpacing(6);
    g->setVerticalSpacing(6);
    for (int c = 0; c < 3; ++c)
        g->setColumnStretch(c, 1);
    for (qsizetype i = 0; i < m_quick.size(); ++i) {
        const QuickDuration chip = m_quick[i];
        auto* b = new ChipButton(chip.label);
        b->setObjectName(QStringLiteral("quick:") + chip.label);
        // "15 min" and "1 h" are also pause chips: the heading above tells them apart.
        b->setAccessibleName(QStringLiteral("Activar por ") + chip.label);
        // Equal columns: the chips' own widths must not weigh in.
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        connect(b, &QPushButton::clicked, this,
                [this, chip] { m_engine.activate(instant::plusSeconds(m_clock.now(), chip.seconds)); });
        g->addWidget(b, int(i / 3), int(i % 3));
    }

    m_activateFor = new DurationField;
    m_activateFor->setObjectName(QStringLiteral("activateFor"));
    bindDuration(m_activateFor, m_store, &Prefs::customActivateMinutes);
    m_activateForButton = button(QStringLiteral("Activar"), QStringLiteral("activateForButton"));
    connect(m_activateForButton, &QPushButton::clicked, this, [this] {
        const double seconds = double(m_store.p().customActivateMinutes) * 60;
        m_engine.activate(instant::plusSeconds(m_clock.now(), seconds));
    });
    connect(m_activateFor, &DurationField::submitted, m_activateForButton, &QPushButton::click);

    auto* until = new TimeField;
    until->setObjectName(QStringLiteral("untilTime"));
    until->setAccessibleName(QStringLiteral("Hasta las"));
    bindTime(until, m_store, &Prefs::lastUntilMinutes, m_clock);
    QPushButton* untilButton = button(QStringLiteral("Activar"), QStringLiteral("activateUntilButton"));
    connect(untilButton, &QPushButton::clicked, this, [this] {
        m_engine.activate(
            Fmt::nextOccurrence(m_store.p().lastUntilMinutes, m_clock.now(), m_clock.timeZone()));
    });

    return section(
        QStringLiteral("Activar por"),
        {grid,
         rowWidget({label(QStringLiteral("Durante"), font()), m_activateFor, m_activateForButton}, true),
         rowWidget({label(QStringLiteral("Hasta las"), font()), until, untilButton}, true)});
}

QWidget* MenuView::buildProgramSection() {
    auto* start = new TimeField;
    start->setObjectName(QStringLiteral("startTime"));
    start->setAccessibleName(QStringLiteral("Encender a las"));
    bindTime(start, m_store, &Prefs::lastStartMinutes, m_clock);

    auto* stopEnabled = new QCheckBox(QStringLiteral("Apagar a las"));
    stopEnabled->setObjectName(QStringLiteral("stopEnabled"));
    bindToggle(stopEnabled, m_store, &Prefs::lastStopEnabled);
    auto* stop = new TimeField;
    stop->setObjectName(QStringLiteral("stopTime"));
    stop->setAccessibleName(QStringLiteral("Apagar a las"));
    bindTime(stop, m_store, &Prefs::lastStopMinutes, m_clock);
    bindEnabled(stop, m_store, &Prefs::lastStopEnabled);

    QPushButton* plan = button(QStringLiteral("Programar"), QStringLiteral("programarButton"));
    connect(plan, &QPushButton::clicked, this, &MenuView::programar);

    return section(QStringLiteral("Programar"),
                   {rowWidget({label(QStringLiteral("Encender a las"), font()), start}, true),
                    rowWidget({stopEnabled, stop}, true), rowWidget({plan}, true)});
}

QWidget* MenuView::buildPauseSection() {
    auto* chips = new QWidget;
    QHBoxLayout* chipRow = row(chips, 6);
    for (const QuickDuration& chip : pauseChips()) {
        auto* b = new ChipButton(chip.label);
        b->setObjectName(QStringLiteral("pause:") + chip.label);
        b->setAccessibleName(QStringLiteral("Pausar ") + chip.label);
        b->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        connect(b, &QPushButton::clicked, this, [this, seconds = chip.seconds] { m_engine.pause(seconds); });
        chipRow->addWidget(b, 1);
    }

    m_pauseFor = new DurationField;
    m_pauseFor->setObjectName(QStringLiteral("pauseFor"));
    bindDuration(m_pauseFor, m_store, &Prefs::customPauseMinutes);
    m_pauseForButton = button(QStringLiteral("Pausar"), QStringLiteral("pauseForButton"));
    connect(m_pauseForButton, &QPushButton::clicked, this,
            [this] { m_engine.pause(double(m_store.p().customPauseMinutes) * 60); });
    connect(m_pauseFor, &DurationField::submitted, m_pauseForButton, &QPushButton::click);

    return section(
        QStringLiteral("Pausar"),
        {chips, rowWidget({label(QStringLiteral("Durante"), font()), m_pauseFor, m_pauseForButton}, true)});
}

QWidget* MenuView::buildFooter() {
    auto* footer = new QWidget;
    QHBoxLayout* l = row(footer);
    m_footer = label(QString(), theme::caption2());
    m_footer->setObjectName(QStringLiteral("footerLabel"));
    m_footer->setWordWrap(true);
    m_secondaryLabels << m_footer;
    l->addWidget(m_footer, 1);

    const auto iconButton = [this](Symbol symbol, const QString& name, const QString& tip) {
        auto* b = new QToolButton;
        b->setObjectName(name);
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::StrongFocus);
        b->setIconSize(QSize(kFooterIcon, kFooterIcon));
        m_symbolButtons << std::pair<QAbstractButton*, Symbol>{b, symbol};
        return b;
    };
    QToolButton* settings =
        iconButton(Symbol::gear, QStringLiteral("settingsButton"), QStringLiteral("Preferencias"));
    QToolButton* quit = iconButton(Symbol::power, QStringLiteral("quitButton"), QStringLiteral("Salir"));
    l->addWidget(settings);
    l->addWidget(quit);
    connect(settings, &QToolButton::clicked, this, [this] {
        if (m_actions.closePopover)
            m_actions.closePopover();
        if (m_actions.showSettings)
            m_actions.showSettings(SettingsTab::general);
    });
    connect(quit, &QToolButton::clicked, this, [this] {
        if (m_actions.quit)
            m_actions.quit();
    });
    return footer;
}

void MenuView::setTabOrder() {
    // Layouts were filled top to bottom, but the widgets were created inside helpers in a
    // different order; the keyboard must follow what the eye sees.
    QList<QWidget*> chain{m_switch};
    const auto add = [&](const QString& name) {
        if (auto* w = findChild<QWidget*>(name))
            chain << w;
    };
    const auto addDuration = [&](DurationField* field) {
        chain << field->findChild<QWidget*>(QStringLiteral("hours"))
              << field->findChild<QWidget*>(QStringLiteral("minutes"));
    };
    for (const char* name : {"grantPermissionButton", "relaunchButton", "resetPermissionButton",
                             "diagnoseButton", "installButton", "cancelTimersButton"})
        add(QLatin1String(name));
    for (const QuickDuration& chip : m_quick)
        add(QStringLiteral("quick:") + chip.label);
    addDuration(m_activateFor);
    for (const char* name : {"activateForButton", "untilTime", "activateUntilButton", "startTime",
                             "stopEnabled", "stopTime", "programarButton"})
        add(QLatin1String(name));
    for (const QuickDuration& chip : pauseChips())
        add(QStringLiteral("pause:") + chip.label);
    addDuration(m_pauseFor);
    for (const char* name : {"pauseForButton", "settingsButton", "quitButton"})
        add(QLatin1String(name));
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void MenuView::refresh() {
    refreshHeader();

    const Prefs& p = m_store.p();
    const bool needsPermission = !m_engine.accessibilityOK() && p.mode != JiggleMode::zen;
    if (m_permission->isHidden() == needsPermission)
        m_permission->setHidden(!needsPermission);
    const bool unregistered = ActivityBanner::wanted(m_engine);
    if (m_activity->isHidden() == unregistered)
        m_activity->setHidden(!unregistered);

    const std::optional<UpdateInfo>& available = m_updater.available();
    if (m_update->isHidden() == available.has_value())
        m_update->setHidden(!available);
    if (available) {
        setIfDifferent(m_updateText,
                       QStringLiteral("Versión ") + available->version + QStringLiteral(" disponible"));
        const bool busy = m_updater.busy();
        m_install->setText(busy ? QStringLiteral("Instalando…") : QStringLiteral("Instalar"));
        m_install->setEnabled(!busy);
    }

    refreshTimers();
    m_activateForButton->setEnabled(p.customActivateMinutes >= 1);
    m_pauseForButton->setEnabled(p.customPauseMinutes >= 1);
    refreshFooter();

    fitToContent();
}

void MenuView::fitToContent() {
    // Fixed at the height the content needs at our width, so that no window, frame or screen clamp
    // can hand the layout less: a layout short of height squeezes the chips and wrapped lines first.
    const QSize hint = sizeHint();
    if (hint != m_announcedSize) {
        const bool first = !m_announcedSize.isValid();
        m_announcedSize = hint;
        setFixedHeight(hint.height());
        if (!first)
            Q_EMIT preferredSizeChanged(hint);
    }
}

void MenuView::refreshHeader() {
    m_badge->setState({m_engine.enabled(), m_engine.blocked(), m_engine.working()});
    if (m_switch->isChecked() != m_engine.enabled())
        m_switch->setChecked(m_engine.enabled());
    elideStatus();
}

void MenuView::elideStatus() {
    const QString& status = m_engine.status();
    const QString shown = m_status->fontMetrics().elidedText(status, Qt::ElideRight, m_status->width());
    setIfDifferent(m_status, shown);
    const QString tip = shown == status ? QString() : status;
    if (m_status->toolTip() != tip)
        m_status->setToolTip(tip);
}

void MenuView::refreshTimers() {
    const QList<Line> lines = timerLines();
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        LineRow& row = m_lines[i];
        const bool used = qsizetype(i) < lines.size();
        if (used) {
            const Line& line = lines[qsizetype(i)];
            if (row.shown != line.icon) {
                row.shown = line.icon;
                row.icon->setPixmap(
                    symbols::pixmap(line.icon, kLineIcon, theme::primary(palette()), devicePixelRatioF()));
            }
            setIfDifferent(row.text, line.text);
        }
        if (row.row->isHidden() == used)
            row.row->setHidden(!used);
    }
    const bool cancel = m_engine.hasTimers();
    if (m_cancelTimers->isHidden() == cancel)
        m_cancelTimers->setHidden(!cancel);
    if (m_timers->isHidden() != lines.isEmpty())
        m_timers->setHidden(lines.isEmpty());
}

void MenuView::refreshFooter() {
    const OptInstant& last = m_engine.lastJiggle();
    if (!last) {
        setIfDifferent(m_footer,
                       switchHint(!m_actions.hasIcon || m_actions.hasIcon(), m_engine.hotKeyRegistered()));
        return;
    }
    setIfDifferent(m_footer, QString::number(m_engine.jiggleCount()) +
                                 QStringLiteral(" movimientos · último ") +
                                 Fmt::time(*last, m_clock.timeZone(), m_engine.now()));
}

void MenuView::applyColors() {
    const QPalette& pal = palette();
    for (QLabel* l : std::as_const(m_secondaryLabels))
        theme::setSecondary(l);
    for (const auto& [l, symbol] : std::as_const(m_symbolLabels)) {
        const QColor ink = symbol == Symbol::warningTriangle ? theme::orange() : theme::accent(pal);
        l->setPixmap(symbols::pixmap(symbol, kCaptionIcon, ink, devicePixelRatioF()));
    }
    for (const auto& [b, symbol] : std::as_const(m_symbolButtons)) {
        QIcon icon;
        for (const qreal dpr : {1.0, 2.0})
            icon.addPixmap(symbols::pixmap(symbol, kFooterIcon, theme::secondary(pal), dpr));
        b->setIcon(icon);
    }
    // The timer icons are drawn again by the next refresh.
    for (LineRow& row : m_lines)
        row.shown.reset();
}

void MenuView::changeEvent(QEvent* event) {
    // ApplicationPaletteChange arrives while palette() still answers the old colours; the
    // PaletteChange that follows carries the new ones.
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
        refreshTimers();
    }
    QWidget::changeEvent(event);
    // Another font or style wraps the texts differently.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitToContent();
}

bool MenuView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_status && event->type() == QEvent::Resize)
        elideStatus();
    return QWidget::eventFilter(watched, event);
}

QSize MenuView::sizeHint() const {
    QLayout* l = layout();
    const int height = l->hasHeightForWidth() ? l->heightForWidth(kWidth) : l->sizeHint().height();
    return {kWidth, height};
}

QSize MenuView::minimumSizeHint() const {
    return sizeHint();
}

} // namespace morvane
