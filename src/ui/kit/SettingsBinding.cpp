#include "SettingsBinding.h"

#include "Accessibility.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>
#include <limits>

namespace morvane {

void followStore(QObject* context, SettingsStore& store, const std::function<void()>& refresh) {
    refresh();
    QObject::connect(&store, &SettingsStore::changed, context, refresh);
}

SliderScale wholeNumbers() {
    return {[](double value) {
                // Out-of-range and non-finite values only pin the slider to an end; the stored
                // value is kept until the user moves it.
                if (!std::isfinite(value))
                    return value > 0 ? std::numeric_limits<int>::max() : std::numeric_limits<int>::min();
                return int(std::lround(std::clamp(value, -1e9, 1e9)));
            },
            [](int position) { return double(position); }};
}

void bindSlider(QSlider* slider, SettingsStore& store, double Prefs::*field, const SliderScale& scale,
                std::function<QString(double)> valueText) {
    a11y::exposeValue(slider, {scale.fromPosition, scale.toPosition,
                               [&store, field] { return store.p().*field; }, std::move(valueText)});
    followStore(slider, store, [slider, &store, field, scale] {
        {
            const QSignalBlocker quiet(slider);
            slider->setValue(scale.toPosition(store.p().*field));
        }
        a11y::valueChanged(slider);
    });
    QObject::connect(slider, &QSlider::valueChanged, slider, [&store, field, scale](int position) {
        const double value = scale.fromPosition(position);
        if (store.p().*field != value)
            store.update([&](Prefs& p) { p.*field = value; });
    });
}

QString percentText(double value) {
    return std::isfinite(value) ? QString::number(std::llround(std::clamp(value, -1e15, 1e15))) + u'%'
                                : QStringLiteral("—");
}

void bindPercent(QLabel* label, SettingsStore& store, double Prefs::*field) {
    followStore(label, store, [label, &store, field] {
        const QString text = percentText(store.p().*field);
        if (label->text() != text)
            label->setText(text);
    });
}

void bindVisible(QWidget* widget, SettingsStore& store, std::function<bool(const Prefs&)> shown) {
    followStore(widget, store, [widget, &store, shown = std::move(shown)] {
        const bool visible = shown(store.p());
        if (widget->isHidden() == visible)
            widget->setHidden(!visible);
    });
}

} // namespace morvane
