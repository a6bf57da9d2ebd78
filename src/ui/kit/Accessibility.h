#pragma once

// What assistive tools (a screen reader walking the AT-SPI tree) learn about a control beyond what
// Qt gives them by itself: the name a sighted user reads beside the control, and a slider's value
// as the text shown next to it.

#include <QString>

#include <functional>

class QLabel;
class QSlider;
class QWidget;

namespace morvane::a11y {

// `label` names `control` for assistive tools as it does for the eye: its text becomes the
// control's accessible name, and the label its buddy (so tools also see "labelled by").
void labelFor(QLabel* label, QWidget* control);

// A control that shows only a symbol is known by its tooltip; screen readers take a tooltip for a
// description, never for a name, so `tip` becomes both.
void setToolTipName(QWidget* control, const QString& tip);

// Enter (or Return) clicks the focused button inside `root`, as Space does: outside dialogs Qt's
// buttons leave Enter to a default button, and there is none here.
void enterClicksButtons(QWidget* root);

// Chains the keyboard focus of the controls laid out in `root` in the order its layouts place them
// (top to bottom, left to right), whatever order they were created in.
void followReadingOrder(QWidget* root);

// How a slider's positions read to assistive tools.
struct SliderValue {
    // The quantity a position stands for (seconds, percent, …).
    std::function<double(int)> fromPosition;
    // The position closest to a quantity.
    std::function<int(double)> toPosition;
    // The quantity now, where the position only comes close to it; empty: the position's.
    std::function<double()> current;
    // The quantity as the text beside the slider shows it ("2 min", "20%"); empty when nothing is
    // shown there.
    std::function<QString(double)> text;
};

// Assistive tools read `slider`'s value as the quantity it stands for (not its raw position), can
// set and step it, and get `value.text` as its value text and its description. Qt 6.4's AT-SPI
// bridge has no channel for a value text of its own (no object attributes, no Value.Text), so
// there the description carries it.
void exposeValue(QSlider* slider, SliderValue value);
// Tells assistive tools when the value text of `slider` changed (screen readers speak a changed
// description of the focused control). Call after every change of the value.
void valueChanged(QSlider* slider);

} // namespace morvane::a11y
