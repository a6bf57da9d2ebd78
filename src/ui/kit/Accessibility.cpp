#include "Accessibility.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QSlider>

namespace morvane::a11y {

namespace {

// Carries a slider's SliderValue, as the slider's child, to the interface built for it.
class ValueHolder final : public QObject {
public:
    ValueHolder(SliderValue value, QSlider* slider)
        : QObject(slider)
        , value(std::move(value)) {}
    const SliderValue value;
    QString announced; // the value text assistive tools were last told about
};

// ValueHolder has no meta-object of its own, so findChild/qobject_cast would take any child QObject
// for it; dynamic_cast knows the real type.
ValueHolder* holderOf(const QObject* slider) {
    if (!slider)
        return nullptr;
    for (QObject* child : slider->children())
        if (auto* holder = dynamic_cast<ValueHolder*>(child))
            return holder;
    return nullptr;
}

// A slider that reads as the quantity it stands for, and that an assistive tool steps from one
// quantity to the next.
class SliderAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    SliderAccessible(QSlider* slider, const ValueHolder* holder)
        : QAccessibleWidget(slider, QAccessible::Slider)
        , m_holder(holder) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text t) const override {
        const bool description = t == QAccessible::Description && widget()->accessibleDescription().isEmpty();
        if ((t == QAccessible::Value || description) && m_holder && m_holder->value.text)
            return m_holder->value.text(current());
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return current(); }
    QVariant minimumValue() const override { return quantity(slider()->minimum()); }
    QVariant maximumValue() const override { return quantity(slider()->maximum()); }
    QVariant minimumStepSize() const override {
        // Zero tells the tool the steps are uneven (a logarithmic scale), not that there are none.
        const int from = slider()->minimum();
        return std::max(0.0, quantity(std::min(slider()->maximum(), from + slider()->singleStep())) -
                                 quantity(from));
    }
    void setCurrentValue(const QVariant& value) override {
        if (m_holder && m_holder->value.toPosition)
            slider()->setValue(m_holder->value.toPosition(value.toDouble()));
    }

    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << increaseAction() << decreaseAction();
    }
    void doAction(const QString& name) override {
        if (name == increaseAction())
            step(+1);
        else if (name == decreaseAction())
            step(-1);
        else
            QAccessibleWidget::doAction(name);
    }

private:
    QSlider* slider() const { return static_cast<QSlider*>(widget()); }

    // To the nearest position that stands for a quantity beyond the current one: on a scale that
    // snaps to a grid, one position may not be enough.
    void step(int direction) {
        const double from = current();
        int position = slider()->value();
        do
            position += direction * std::max(1, slider()->singleStep());
        while (position > slider()->minimum() && position < slider()->maximum() &&
               (quantity(position) - from) * direction <= 0);
        slider()->setValue(position);
    }
    double current() const {
        return m_holder && m_holder->value.current ? m_holder->value.current() : quantity(slider()->value());
    }
    double quantity(int position) const {
        return m_holder && m_holder->value.fromPosition ? m_holder->value.fromPosition(position)
                                                        : double(position);
    }

    // The holder goes with the slider's children, possibly before this interface is dropped.
    QPointer<const ValueHolder> m_holder;
};

QAccessibleInterface* sliderFactory(const QString& className, QObject* object) {
    if (className != QLatin1String("QSlider"))
        return nullptr;
    auto* slider = qobject_cast<QSlider*>(object);
    const ValueHolder* holder = holderOf(slider);
    return holder ? new SliderAccessible(slider, holder) : nullptr;
}

// Sees the Enter that the focused control left unhandled on its way up to the root.
class EnterClicks final : public QObject {
public:
    explicit EnterClicks(QWidget* root)
        : QObject(root)
        , m_root(root) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* button = qobject_cast<QAbstractButton*>(m_root->window()->focusWidget());
        if (!button || !button->isEnabled() || !m_root->isAncestorOf(button))
            return false;
        button->click();
        return true;
    }

private:
    QWidget* m_root;
};

void collectTabStops(QLayout* layout, QList<QWidget*>& stops);

void collectTabStops(QWidget* widget, QList<QWidget*>& stops) {
    if (widget->layout())
        collectTabStops(widget->layout(), stops);
    else if (widget->focusPolicy() & Qt::TabFocus)
        stops << widget;
}

void collectTabStops(QLayout* layout, QList<QWidget*>& stops) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* widget = item->widget())
            collectTabStops(widget, stops);
        else if (QLayout* inner = item->layout())
            collectTabStops(inner, stops);
    }
}

} // namespace

void enterClicksButtons(QWidget* root) {
    root->installEventFilter(new EnterClicks(root));
}

void followReadingOrder(QWidget* root) {
    QList<QWidget*> stops;
    collectTabStops(root, stops);
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
}

void labelFor(QLabel* label, QWidget* control) {
    label->setBuddy(control);
    control->setAccessibleName(label->text());
}

void setToolTipName(QWidget* control, const QString& tip) {
    control->setToolTip(tip);
    control->setAccessibleName(tip);
}

void exposeValue(QSlider* slider, SliderValue value) {
    static const bool installed = [] {
        QAccessible::installFactory(sliderFactory);
        return true;
    }();
    Q_UNUSED(installed);
    delete holderOf(slider);
    new ValueHolder(std::move(value), slider);
    // With a screen reader running, the slider was announced while it was built and Qt cached its
    // stock interface then: drop it, so that the next question builds ours.
    QAccessibleInterface* cached = QAccessible::queryAccessibleInterface(slider);
    if (cached && !dynamic_cast<SliderAccessible*>(cached))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(cached));
}

void valueChanged(QSlider* slider) {
    ValueHolder* holder = holderOf(slider);
    if (!holder || !holder->value.text)
        return;
    const QString text = holder->value.text(
        holder->value.current ? holder->value.current() : holder->value.fromPosition(slider->value()));
    if (text == holder->announced)
        return;
    holder->announced = text;
    if (QAccessible::isActive()) {
        QAccessibleEvent changed(slider, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

} // namespace morvane::a11y
