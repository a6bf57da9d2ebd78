#include "ControlContract.h"

namespace morvane::contract {

std::optional<SettingsTab> parseTab(const QString& name) {
    if (name.isEmpty() || name == QLatin1String("general"))
        return SettingsTab::general;
    if (name == QLatin1String("movimiento"))
        return SettingsTab::movement;
    if (name == QLatin1String("condiciones"))
        return SettingsTab::conditions;
    if (name == QLatin1String("horarios"))
        return SettingsTab::schedules;
    return std::nullopt;
}

QString unknownTab(const QString& name) {
    return QStringLiteral("pestaña desconocida: «%1» (general, movimiento, condiciones u horarios)")
        .arg(name);
}

} // namespace morvane::contract
