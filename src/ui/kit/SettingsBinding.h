#pragma once

// The settings window's bindings beyond PrefsBinding's: radio groups, sliders, rounded values
// and visibility. Like those, each shows the stored value from the start and after every change
// of the store, writes the user's edits through SettingsStore::update, and never echoes an edit
// back into the control that made it.

#include "Prefs.h"
#include "SettingsStore.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QObject>

#include <array>
#include <functional>

class QLabel;
class QSlider;

namespace morvane {

// Runs `refresh` now and after every change of `store`, for as long as `context` lives.
void followStore(QObject* context, SettingsStore& store, const std::function<void()>& refresh);

// Slider positions for a double field: `toPosition` reads the field, `fromPosition` gives the
// value a position stands for.
struct SliderScale {
    std::function<int(double)> toPosition;
    std::function<double(int)> fromPosition;
};
// The plain scale: positions are the value rounded to whole numbers.
SliderScale wholeNumbers();
// Assistive tools read the slider as the field's value, and as `valueText` of it when given (the
// text shown beside the slider).
void bindSlider(QSlider* slider, SettingsStore& store, double Prefs::*field, const SliderScale& scale,
                std::function<QString(double)> valueText = {});

// `value` rounded to a whole number (halves away from zero) followed by "%"; "—" when not finite.
QString percentText(double value);
// `label` shows the field as percentText.
void bindPercent(QLabel* label, SettingsStore& store, double Prefs::*field);

// `widget` is shown exactly while `shown` holds for the record.
void bindVisible(QWidget* widget, SettingsStore& store, std::function<bool(const Prefs&)> shown);

// One checkable button per case, exclusive: the button of the stored case is checked, and
// checking another stores its case.
template <typename E, std::size_t N>
void bindChoice(QButtonGroup* group, const std::array<E, N>& cases, SettingsStore& store, E Prefs::*field) {
    group->setExclusive(true);
    followStore(group, store, [group, cases, &store, field] {
        for (std::size_t i = 0; i < N; ++i)
            if (QAbstractButton* button = group->button(int(i)); button && cases[i] == store.p().*field)
                button->setChecked(true);
    });
    QObject::connect(group, &QButtonGroup::idToggled, group, [cases, &store, field](int id, bool on) {
        if (on && id >= 0 && std::size_t(id) < N && store.p().*field != cases[std::size_t(id)])
            store.update([&](Prefs& p) { p.*field = cases[std::size_t(id)]; });
    });
}

} // namespace morvane
