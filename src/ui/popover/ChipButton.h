#pragma once

#include <QPushButton>

namespace morvane {

// The duration chips of the popover and the schedules tab: the label in the callout font,
// centred on a rounded tint of the text colour (8 %, 18 % while pressed) that fills whatever
// width the layout gives the chip.
class ChipButton final : public QPushButton {
    Q_OBJECT
public:
    explicit ChipButton(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace morvane
