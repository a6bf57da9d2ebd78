#pragma once

// The building blocks of the popover: painted backgrounds, the header switch, and the few
// widget factories its sections are made of.

#include <QAbstractButton>
#include <QList>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;

namespace morvane::menu {

using Tint = QColor (*)(const QPalette&);

// A rounded rectangle behind its children (the banners), or a hairline (the dividers); the
// colour is read from the palette at paint time.
class Fill final : public QWidget {
public:
    Fill(Tint tint, qreal radius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tint m_tint;
    qreal m_radius;
};

// An on/off switch whose checked state only its owner sets: a click emits clicked() and leaves
// the state alone, so the owner can ask the engine and show what the engine then says.
class Switch final : public QAbstractButton {
public:
    explicit Switch(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {40, 24}; }

protected:
    void nextCheckState() override;
    void paintEvent(QPaintEvent* event) override;
};

// A link-style button: underlined text in the accent colour that wraps when it is longer than
// the width it gets. One Tab stop; Space, Enter or a click emit clicked().
class LinkButton final : public QAbstractButton {
public:
    LinkButton(const QString& text, const QString& name, const QFont& font, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    // Only the text is the link, not the blank beside a short last line's end.
    bool hitButton(const QPoint& pos) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QRect textRect() const;
};

// A one-pixel line across the popover.
QWidget* divider();
QLabel* label(const QString& text, const QFont& font, QWidget* parent = nullptr);
// A push button that never becomes the default button (Enter belongs to the focused field).
QPushButton* button(const QString& text, const QString& name, QWidget* parent = nullptr);
// The banners' buttons: the caption font with the style's usual frame.
QPushButton* smallButton(const QString& text, const QString& name);
// A horizontal layout without margins on `parent`.
QHBoxLayout* row(QWidget* parent = nullptr, int spacing = -1);
// `items` side by side, with a flexible space before the last one when `stretchBeforeLast`.
QWidget* rowWidget(const QList<QWidget*>& items, bool stretchBeforeLast);

} // namespace morvane::menu
