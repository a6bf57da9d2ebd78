#include "UpdatesSection.h"

#include "GroupedForm.h"
#include "PrefsBinding.h"
#include "Theme.h"
#include "Updater.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace morvane {

UpdatesSection::UpdatesSection(SettingsStore& store, Updater& updater, QWidget* parent)
    : FormGroup(QStringLiteral("Actualizaciones"), {}, parent)
    , m_updater(updater)
    , m_message(new QLabel(this))
    , m_install(new QPushButton(this))
    , m_check(new QPushButton(QStringLiteral("Buscar ahora"), this)) {
    auto* autoCheck = new QCheckBox(QStringLiteral("Buscar actualizaciones automáticamente"), this);
    autoCheck->setObjectName(QStringLiteral("autoCheckUpdates"));
    bindToggle(autoCheck, store, &Prefs::autoCheckUpdates);
    addRow(autoCheck);

    auto* autoInstall =
        new QCheckBox(QStringLiteral("Instalarlas solas (reinicia la app y mantiene el estado)"), this);
    autoInstall->setObjectName(QStringLiteral("autoInstallUpdates"));
    bindToggle(autoInstall, store, &Prefs::autoInstallUpdates);
    bindEnabled(autoInstall, store, &Prefs::autoCheckUpdates);
    addRow(autoInstall);

    m_message->setObjectName(QStringLiteral("updateMessage"));
    m_message->setFont(theme::caption());
    m_message->setWordWrap(true);
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    markSecondary(m_message);
    m_install->setObjectName(QStringLiteral("installUpdate"));
    m_check->setObjectName(QStringLiteral("checkUpdates"));
    auto* actions = new QHBoxLayout;
    actions->addWidget(m_message, 1);
    actions->addWidget(m_install);
    actions->addWidget(m_check);
    addRow(actions);

    connect(m_install, &QPushButton::clicked, this, [this] {
        if (const auto& info = m_updater.available())
            m_updater.install(*info);
    });
    connect(m_check, &QPushButton::clicked, this, [this] { m_updater.check(true); });
    connect(&m_updater, &Updater::changed, this, &UpdatesSection::refresh);
    refresh();
}

void UpdatesSection::refresh() {
    if (m_message->text() != m_updater.message())
        m_message->setText(m_updater.message());
    const auto& available = m_updater.available();
    if (available)
        m_install->setText(QStringLiteral("Instalar ") + available->version);
    m_install->setHidden(!available);
    m_install->setEnabled(!m_updater.busy());
    m_check->setEnabled(!m_updater.busy());
}

} // namespace morvane
