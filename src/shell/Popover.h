#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QWidget>

#include <functional>

namespace morvane {

// The popover's frame: a frameless window that opens at a point (below it or above it, whichever
// fits, kept inside the available area of that point's screen), closes on a click outside it, on
// Escape and when it loses the focus, follows its content's size, and never gets a taskbar entry.
// It is no Qt::Popup, which Qt leaves out of the accessibility tree: on X11 it is a tool window
// that no window manager handles and that holds the pointer and the keyboard while open, as a
// popup does. On Wayland the compositor places it.
class Popover final : public QWidget {
    Q_OBJECT
public:
    explicit Popover(QWidget* parent = nullptr);

    // Hosts `content` (taking ownership); its size hint decides the popover's size.
    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }
    // Builds the content with `make` each time it is needed (showAt or prepare), so that start-up
    // does not wait for it; content built so is released when the popover closes, so that a
    // process with no window open holds none of its widgets.
    void setContentFactory(std::function<QWidget*()> make);
    // Builds the content now, if it is still to be built.
    void prepare();

    // Opens at `anchor` (global coordinates) with no field focused.
    void showAt(QPoint anchor);
    // Whether a press outside the popover closed it a moment ago: the click on the tray icon that
    // would reopen it is then that same press.
    bool justClosed() const;

Q_SIGNALS:
    void shown();
    void closed();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();
    void grabInput(bool grab);

    QWidget* m_content = nullptr;
    std::function<QWidget*()> m_makeContent;
    QPoint m_anchor;
    QElapsedTimer m_sinceOutsidePress;
    const bool m_holdsInput;
    bool m_closing = false;
};

} // namespace morvane
