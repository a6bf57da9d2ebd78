#include "X11JiggleOverlay.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace morvane {

namespace {

constexpr int kHoldMs = 500;
constexpr int kFadeMs = 500;
// Where the panel's top-left corner sits relative to the pointer's hot spot.
constexpr QPoint kOffset(14, 10);

// Whether a compositing manager runs on the screen of $DISPLAY: it owns the _NET_WM_CM_Sn selection.
// Without one the transparent corners of the panel would show as black. One round trip on Qt's
// connection; true when that connection is not an X one.
bool compositing() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return true;
    int screen = 0;
    char* host = nullptr;
    int displayNumber = 0;
    if (xcb_parse_display(nullptr, &host, &displayNumber, &screen))
        std::free(host);
    const std::string name = "_NET_WM_CM_S" + std::to_string(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, false, uint16_t(name.size()), name.c_str()), nullptr);
    if (!atom)
        return true;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    std::free(atom);
    return owned;
}

// A round badge in the accent colour with a white pointer and the motion lines behind it.
class OverlayPanel final : public QWidget {
public:
    OverlayPanel()
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                               Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                               Qt::WindowTransparentForInput) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(X11JiggleOverlay::kSize, X11JiggleOverlay::kSize);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(palette().color(QPalette::Active, QPalette::Highlight));
        p.drawEllipse(QRectF(rect()));

        // Drawn on a 40 × 40 grid: an arrow about 17 px tall like a glyph of that size, with
        // three speed lines trailing behind it; together they span x 9.5 to 30.5, centred.
        p.scale(width() / 40.0, height() / 40.0);
        p.translate(1.5, 0);
        QPainterPath arrow;
        arrow.moveTo(17, 10);
        arrow.lineTo(17, 27);
        arrow.lineTo(21, 23.5);
        arrow.lineTo(24, 30);
        arrow.lineTo(26.5, 29);
        arrow.lineTo(23.5, 22.5);
        arrow.lineTo(29, 22);
        arrow.closeSubpath();
        p.setBrush(Qt::white);
        p.drawPath(arrow);

        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 17), QPointF(13.5, 17));
        p.drawLine(QPointF(8, 21.5), QPointF(13.5, 21.5));
        p.drawLine(QPointF(10, 26), QPointF(13.5, 26));
    }
};

} // namespace

X11JiggleOverlay::X11JiggleOverlay() = default;

X11JiggleOverlay::~X11JiggleOverlay() = default;

void X11JiggleOverlay::flash() {
    if (!m_panel)
        m_panel = std::make_unique<OverlayPanel>();
    QWidget* panel = m_panel.get();

    // Shape the window to the circle where nothing blends the translucent corners away.
    if (compositing())
        panel->clearMask();
    else
        panel->setMask(QRegion(panel->rect(), QRegion::Ellipse));
    panel->move(QCursor::pos() + kOffset);
    panel->setWindowOpacity(1.0);
    panel->show();
    panel->raise();

    // Each flash fades on its own schedule and none cancels another: an earlier fade that ends
    // while a later flash shows hides the panel early, which only shortens that later flash.
    // The timer and the animation belong to the panel, so neither outlives it.
    QTimer::singleShot(kHoldMs, panel, [panel] {
        auto* fade = new QPropertyAnimation(panel, "windowOpacity", panel);
        fade->setDuration(kFadeMs);
        fade->setEndValue(0.0);
        QObject::connect(fade, &QPropertyAnimation::finished, panel, &QWidget::hide);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    });
}

} // namespace morvane
