#include "Popover.h"

#include "Theme.h"

#include <QAccessibleWidget>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace morvane {

namespace {

// Between the click point and the popover's edge.
constexpr int kGap = 6;
// A close this recent means the click on the tray icon itself closed the popover.
constexpr int kReopenGuardMs = 300;

// A Wayland client can neither place its windows nor see clicks outside them: there the popover is
// a small frameless window that the compositor places and that closes when it loses the focus.
bool compositorPlacesWindows() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// Elsewhere (X11) the window manager never sees it (override-redirect): no taskbar entry, no
// decoration, placed where we put it.
Qt::WindowFlags popoverFlags() {
    if (compositorPlacesWindows())
        return Qt::Window | Qt::FramelessWindowHint;
    return Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint;
}

// Screen readers announce the popover as the window it is, not as a bare pane.
QAccessibleInterface* accessibleWindow(const QString& className, QObject* object) {
    if (className != QLatin1String("morvane::Popover"))
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
}

} // namespace

Popover::Popover(QWidget* parent)
    : QWidget(parent, popoverFlags())
    , m_holdsInput(!compositorPlacesWindows()) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleWindow);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setObjectName(QStringLiteral("popover"));
    setAttribute(Qt::WA_X11NetWmWindowTypeDropDownMenu);
    setFocusPolicy(Qt::StrongFocus);
    // Never shown by a panel (no taskbar entry), but names the window for tools and screen readers.
    setWindowTitle(QStringLiteral("Morvane"));
    setAccessibleName(windowTitle());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void Popover::setContent(QWidget* content) {
    delete m_content;
    m_content = content;
    layout()->addWidget(content);
}

void Popover::setContentFactory(std::function<QWidget*()> make) {
    m_makeContent = std::move(make);
}

void Popover::prepare() {
    if (!m_content && m_makeContent)
        setContent(m_makeContent());
}

void Popover::showAt(QPoint anchor) {
    prepare();
    m_anchor = anchor;
    adjustSize();
    place();
    show();
    raise();
    activateWindow();
    grabInput(true);
    // The popover itself takes the focus, so that no field starts with a caret; Tab then walks
    // through the controls.
    setFocus(Qt::PopupFocusReason);
}

void Popover::grabInput(bool grab) {
    // Shown unmanaged, the window is mapped as soon as show() returns, so the grabs hold: every
    // press lands here (one outside closes), and the keyboard stays here (so the window is the
    // active one for Qt and for screen readers, whatever window had the focus).
    if (!m_holdsInput || !windowHandle())
        return;
    windowHandle()->setMouseGrabEnabled(grab);
    windowHandle()->setKeyboardGrabEnabled(grab);
}

bool Popover::justClosed() const {
    return !isVisible() && m_sinceOutsidePress.isValid() && m_sinceOutsidePress.elapsed() < kReopenGuardMs;
}

void Popover::place() {
    QScreen* screen = QGuiApplication::screenAt(m_anchor);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize size = frameSize().isValid() ? frameSize() : sizeHint();
    int x = m_anchor.x() - size.width() / 2;
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    int y = m_anchor.y() + kGap;
    if (y + size.height() > area.bottom() + 1 && m_anchor.y() - kGap - size.height() >= area.top())
        y = m_anchor.y() - kGap - size.height();
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    move(x, y);
}

void Popover::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Popover::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Closing takes the activation away too; only a loss while open says the user went elsewhere.
    if (event->type() == QEvent::ActivationChange && isVisible() && !m_closing && !isActiveWindow()) {
        // Focus moving to the tray icon is the click that would reopen it: same guard as a press.
        m_sinceOutsidePress.start();
        close();
    }
}

void Popover::closeEvent(QCloseEvent* event) {
    m_closing = true;
    QWidget::closeEvent(event);
}

void Popover::showEvent(QShowEvent* event) {
    m_closing = false;
    QWidget::showEvent(event);
    Q_EMIT shown();
}

void Popover::hideEvent(QHideEvent* event) {
    grabInput(false);
    QWidget::hideEvent(event);
    if (m_content && m_makeContent) {
        // Later: the close may come from one of the content's own buttons.
        layout()->removeWidget(m_content);
        m_content->hide();
        m_content->deleteLater();
        m_content = nullptr;
    }
    Q_EMIT closed();
}

void Popover::mousePressEvent(QMouseEvent* event) {
    // While open, the popover receives presses anywhere on the screen; one outside closes it, and
    // if it landed on the tray icon the icon's own click follows right after.
    if (!rect().contains(event->position().toPoint())) {
        m_sinceOutsidePress.start();
        close();
        return;
    }
    QWidget::mousePressEvent(event);
}

void Popover::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // A banner appearing or leaving changes the height: stay clear of the point and the screen edge.
    if (isVisible())
        place();
}

void Popover::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.setPen(theme::withOpacity(theme::primary(palette()), 0.25));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace morvane
