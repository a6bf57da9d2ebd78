#pragma once

#include "GroupedForm.h"

namespace morvane {

class LoginModel;
class SettingsStore;
class Updater;

// The "General" tab: start-up, menu-bar, notification and display settings, the updates group,
// and the version and maker lines.
class GeneralTab final : public GroupedForm {
    Q_OBJECT
public:
    // Who made the program, as the "Hecho por" row shows it.
    static inline const QString kCredit = QStringLiteral("Equipo de Morvane");

    GeneralTab(SettingsStore& store, LoginModel& login, Updater& updater, QWidget* parent = nullptr);
};

} // namespace morvane
