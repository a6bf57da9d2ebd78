#include "SettingsView.h"

#include "ConditionsTab.h"
#include "GeneralTab.h"
#include "GroupedForm.h"
#include "MovementTab.h"
#include "SchedulesTab.h"
#include "SettingsTabState.h"
#include "Symbols.h"
#include "Theme.h"

#include <QEvent>
#include <QTabBar>

namespace morvane {

namespace {

constexpr std::array<Symbol, 4> kTabSymbols{Symbol::gear, Symbol::pointerMotion, Symbol::sliders,
                                            Symbol::calendar};

int tabIndex(SettingsTab tab) {
    return int(std::find(kAllSettingsTabs.begin(), kAllSettingsTabs.end(), tab) - kAllSettingsTabs.begin());
}

} // namespace

SettingsView::SettingsView(SettingsTabState& tabs, SettingsStore& store, Engine& engine, Updater& updater,
                           LoginModel& login, const Clock& clock, AppActions actions, QWidget* parent)
    : QTabWidget(parent)
    , m_tabs(tabs) {
    setObjectName(QStringLiteral("settingsTabs"));
    setFixedSize(kSize);
    setDocumentMode(true);
    tabBar()->setExpanding(false);
    addTab(new GeneralTab(store, login, updater), QStringLiteral("General"));
    addTab(new MovementTab(store, engine, clock, std::move(actions), kMinInterval, kMaxInterval),
           QStringLiteral("Movimiento"));
    addTab(new ConditionsTab(store, engine), QStringLiteral("Condiciones"));
    addTab(new SchedulesTab(store, clock), QStringLiteral("Horarios"));
    refreshIcons();

    setCurrentIndex(tabIndex(tabs.tab()));
    connect(&tabs, &SettingsTabState::changed, this, [this] { setCurrentIndex(tabIndex(m_tabs.tab())); });
    connect(this, &QTabWidget::currentChanged, this, [this](int index) {
        if (index >= 0 && index < int(kAllSettingsTabs.size()))
            m_tabs.setTab(kAllSettingsTabs[std::size_t(index)]);
    });
}

void SettingsView::changeEvent(QEvent* event) {
    QTabWidget::changeEvent(event);
    // Colours taken from the palette when the widgets were made follow a change of appearance.
    if (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::PaletteChange) {
        refreshIcons();
        refreshSecondary(this);
    }
}

void SettingsView::refreshIcons() {
    const QColor color = theme::primary(palette());
    for (int i = 0; i < count(); ++i)
        setTabIcon(i, symbols::icon(kTabSymbols[std::size_t(i)], color));
}

} // namespace morvane
