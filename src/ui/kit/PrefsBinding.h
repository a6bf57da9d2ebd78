#pragma once

// One line per control: binds a widget to a field of the settings record. The widget shows the
// stored value from the start and after every change of the store; the user's edits are written
// through SettingsStore::update at once. Refreshing never echoes an edit back (a text field keeps
// its caret while the user types).

#include "Prefs.h"

#include <cstdint>

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace morvane {

class Clock;
class SettingsStore;
class TimeField;

void bindToggle(QAbstractButton* button, SettingsStore& store, bool Prefs::*field);
void bindText(QLineEdit* edit, SettingsStore& store, QString Prefs::*field);
void bindTime(TimeField* field, SettingsStore& store, std::int64_t Prefs::*minutes, const Clock& clock);
// `widget` is enabled exactly while `field` is true.
void bindEnabled(QWidget* widget, SettingsStore& store, bool Prefs::*field);

} // namespace morvane
