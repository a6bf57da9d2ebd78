#include "TrayIcon.h"

#include "Engine.h"
#include "Fmt.h"
#include "Prefs.h"
#include "Symbols.h"

#include <QPainter>

namespace morvane {

namespace {

const QColor kGlyph(0xF4, 0xF4, 0xF4);
const QColor kRim(0x1A, 0x1A, 0x1A, 0xD8);

QImage glyph(TrayState state, int size, const QColor& color) {
    switch (state) {
    case TrayState::off:
        return symbols::image(Symbol::pointer, size, color);
    case TrayState::on:
        return symbols::image(Symbol::pointerMotion, size, color);
    case TrayState::blocked:
        return symbols::image(Symbol::pointerSlash, size, color);
    case TrayState::working:
        return symbols::working(size, color);
    }
    return {};
}

} // namespace

TrayState trayState(const Engine& engine) {
    if (engine.working())
        return TrayState::working;
    if (engine.enabled())
        return engine.blocked() ? TrayState::blocked : TrayState::on;
    return TrayState::off;
}

QString trayStateName(TrayState state) {
    switch (state) {
    case TrayState::off:
        break;
    case TrayState::on:
        return QStringLiteral("on");
    case TrayState::blocked:
        return QStringLiteral("blocked");
    case TrayState::working:
        return QStringLiteral("working");
    }
    return QStringLiteral("off");
}

QString panelCountdown(const Engine& engine, const Prefs& prefs, const Instant& now) {
    const OptInstant& stopAt = engine.stopAt();
    if (!prefs.countdownInMenuBar || !engine.enabled() || !stopAt)
        return {};
    return Fmt::countdown(instant::secondsBetween(now, *stopAt));
}

QImage trayImage(TrayState state, int size) {
    // The glyph is drawn a little smaller than the square so that its rim fits inside.
    const int inner = qMax(8, size - qMax(2, size / 8));
    const QImage light = glyph(state, inner, kGlyph);
    const QImage dark = glyph(state, inner, kRim);
    const int rim = qMax(1, size / 16);
    QImage out(light.width() + (size - inner), size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter p(&out);
    const QPoint origin((out.width() - light.width()) / 2, (size - light.height()) / 2);
    for (int dx = -rim; dx <= rim; ++dx) {
        for (int dy = -rim; dy <= rim; ++dy) {
            if (dx != 0 || dy != 0)
                p.drawImage(origin + QPoint(dx, dy), dark);
        }
    }
    p.drawImage(origin, light);
    p.end();
    return out;
}

QIcon trayIcon(TrayState state) {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48})
        icon.addPixmap(QPixmap::fromImage(trayImage(state, size)));
    return icon;
}

} // namespace morvane
