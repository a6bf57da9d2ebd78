#include "Symbols.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QtMath>

#include <array>
#include <optional>

namespace morvane::symbols {

namespace {

// Every symbol is one filled path on a 24 × 24 grid; lines become their stroked outlines, and
// cut-outs are path subtractions, so a symbol can be drawn over any background.
constexpr qreal kGrid = 24;

QPainterPath stroked(const QPainterPath& line, qreal width) {
    QPainterPathStroker s;
    s.setWidth(width);
    s.setCapStyle(Qt::RoundCap);
    s.setJoinStyle(Qt::RoundJoin);
    return s.createStroke(line).simplified();
}

QPainterPath polyline(std::initializer_list<QPointF> points) {
    QPainterPath p;
    bool first = true;
    for (const QPointF& pt : points) {
        if (first)
            p.moveTo(pt);
        else
            p.lineTo(pt);
        first = false;
    }
    return p;
}

QPainterPath circle(QPointF centre, qreal radius) {
    QPainterPath p;
    p.addEllipse(centre, radius, radius);
    return p;
}

QPainterPath ring(QPointF centre, qreal radius, qreal width) {
    return circle(centre, radius + width / 2).subtracted(circle(centre, radius - width / 2));
}

QPainterPath roundedRect(const QRectF& r, qreal radius) {
    QPainterPath p;
    p.addRoundedRect(r, radius, radius);
    return p;
}

// The arrow pointer: its tip at `tip`, `scale` times the size of the plain pointer symbol.
QPainterPath arrow(QPointF tip, qreal scale) {
    static const QPointF shape[] = {{0, 0},      {0, 17.5},   {4.2, 13.6}, {7.1, 19.8},
                                    {9.9, 18.5}, {7.1, 12.4}, {12.8, 12.4}};
    QPolygonF poly;
    for (const QPointF& p : shape)
        poly << tip + p * scale;
    poly << poly.first();
    QPainterPath path;
    path.addPolygon(poly);
    // A slightly rounded outline reads better at panel sizes than razor corners.
    return path.united(stroked(path, 1.0 * scale));
}

QPainterPath check(QPointF a, QPointF b, QPointF c, qreal width) {
    return stroked(polyline({a, b, c}), width);
}

QPainterPath pointerMotion() {
    QPainterPath p = arrow({8.5, 2.5}, 0.95);
    p = p.united(stroked(polyline({{2.0, 8.5}, {5.5, 8.5}}), 1.8));
    p = p.united(stroked(polyline({{1.0, 12.5}, {5.5, 12.5}}), 1.8));
    p = p.united(stroked(polyline({{2.0, 16.5}, {5.5, 16.5}}), 1.8));
    return p;
}

QPainterPath seal() {
    QPolygonF poly;
    const QPointF c(12, 12);
    for (int i = 0; i < 24; ++i) {
        const qreal angle = M_PI * 2 * i / 24 - M_PI / 2;
        const qreal r = (i % 2 == 0) ? 11.0 : 9.4;
        poly << c + QPointF(std::cos(angle) * r, std::sin(angle) * r);
    }
    QPainterPath p;
    p.addPolygon(poly);
    p.closeSubpath();
    return p.united(stroked(p, 1.2));
}

QPainterPath gear() {
    const QPointF c(12, 12);
    QPainterPath p = circle(c, 7.6);
    for (int i = 0; i < 8; ++i) {
        QTransform t;
        t.translate(c.x(), c.y());
        t.rotate(45.0 * i);
        p = p.united(t.map(roundedRect(QRectF(-2.1, -11, 4.2, 5), 1.0)));
    }
    return p.subtracted(circle(c, 3.4));
}

QPainterPath path(Symbol symbol) {
    switch (symbol) {
    case Symbol::pointer:
        return arrow({6, 2.5}, 1.0);
    case Symbol::pointerMotion:
        return pointerMotion();
    case Symbol::pointerSlash: {
        // Across the arrow's axis, so the stroke cannot be mistaken for part of the pointer.
        const QPainterPath slash = polyline({{3.0, 20.5}, {20.0, 3.5}});
        return arrow({6, 2.5}, 1.0).subtracted(stroked(slash, 5.0)).united(stroked(slash, 2.0));
    }
    case Symbol::checkmark:
        return check({4.5, 12.8}, {9.6, 17.8}, {19.8, 6.4}, 3.0);
    case Symbol::checkmarkCircleFill:
        return circle({12, 12}, 10.5).subtracted(check({7.2, 12.4}, {10.6, 15.8}, {16.9, 8.6}, 2.4));
    case Symbol::checkmarkSeal:
        return seal().subtracted(check({7.6, 12.3}, {10.7, 15.3}, {16.5, 9.0}, 2.2));
    case Symbol::pauseCircle:
        return ring({12, 12}, 9.5, 1.9)
            .united(roundedRect(QRectF(8.6, 7.6, 2.4, 8.8), 0.8))
            .united(roundedRect(QRectF(13.0, 7.6, 2.4, 8.8), 0.8));
    case Symbol::pauseCircleFill:
        return circle({12, 12}, 10.5)
            .subtracted(roundedRect(QRectF(8.4, 7.2, 2.6, 9.6), 0.8))
            .subtracted(roundedRect(QRectF(13.0, 7.2, 2.6, 9.6), 0.8));
    case Symbol::timer:
        return ring({12, 13.5}, 8.2, 2.0)
            .united(roundedRect(QRectF(9.5, 1.5, 5, 2.4), 1.0))
            .united(stroked(polyline({{12, 4.0}, {12, 5.2}}), 2.0))
            .united(stroked(polyline({{18.2, 6.2}, {19.6, 4.8}}), 2.0))
            .united(stroked(polyline({{12, 13.5}, {12, 8.6}}), 2.0));
    case Symbol::alarm:
        return ring({12, 13}, 7.8, 2.0)
            .united(stroked(polyline({{12, 13}, {12, 8.8}}), 1.9))
            .united(stroked(polyline({{12, 13}, {14.8, 15.2}}), 1.9))
            .united(stroked(polyline({{2.8, 6.2}, {6.2, 2.8}}), 2.2))
            .united(stroked(polyline({{21.2, 6.2}, {17.8, 2.8}}), 2.2))
            .united(stroked(polyline({{6.9, 19.3}, {5.2, 21.4}}), 2.0))
            .united(stroked(polyline({{17.1, 19.3}, {18.8, 21.4}}), 2.0));
    case Symbol::calendar: {
        QPainterPath p = roundedRect(QRectF(2.5, 4.0, 19, 17.5), 3.0)
                             .subtracted(roundedRect(QRectF(4.4, 9.6, 15.2, 10.0), 1.4));
        p = p.united(stroked(polyline({{7.5, 2.2}, {7.5, 5.5}}), 2.0));
        p = p.united(stroked(polyline({{16.5, 2.2}, {16.5, 5.5}}), 2.0));
        for (int row = 0; row < 2; ++row) {
            for (int col = 0; col < 3; ++col)
                p = p.united(roundedRect(QRectF(6.3 + col * 4.3, 11.6 + row * 4.0, 2.8, 2.4), 0.6));
        }
        return p;
    }
    case Symbol::warningTriangle: {
        QPainterPath t;
        t.addPolygon(QPolygonF{QPointF(12, 3.2), QPointF(21.6, 20.0), QPointF(2.4, 20.0), QPointF(12, 3.2)});
        t = t.united(stroked(t, 2.6));
        return t.subtracted(stroked(polyline({{12, 9.0}, {12, 14.0}}), 2.3))
            .subtracted(circle({12, 17.3}, 1.3));
    }
    case Symbol::arrowDownCircle:
        return circle({12, 12}, 10.5)
            .subtracted(stroked(polyline({{12, 6.4}, {12, 16.6}}), 2.3))
            .subtracted(stroked(polyline({{7.6, 12.6}, {12, 17.0}, {16.4, 12.6}}), 2.3));
    case Symbol::gear:
        return gear();
    case Symbol::power: {
        QPainterPath arc;
        const QRectF box(4.0, 5.0, 16, 16);
        arc.arcMoveTo(box, 125);
        arc.arcTo(box, 125, 290);
        return stroked(arc, 2.2).united(stroked(polyline({{12, 2.8}, {12, 11.5}}), 2.2));
    }
    case Symbol::sliders: {
        QPainterPath p;
        const qreal knobs[] = {15.5, 8.0, 13.0};
        for (int i = 0; i < 3; ++i) {
            const qreal y = 5.5 + i * 6.5;
            p = p.united(stroked(polyline({{3, y}, {21, y}}), 1.7));
            p = p.united(circle({knobs[i], y}, 2.6));
        }
        return p;
    }
    case Symbol::plus:
        return stroked(polyline({{12, 4}, {12, 20}}), 2.4)
            .united(stroked(polyline({{4, 12}, {20, 12}}), 2.4));
    case Symbol::trash: {
        QPainterPath body;
        body.addPolygon(QPolygonF{QPointF(5.6, 8), QPointF(18.4, 8), QPointF(17.2, 21.2), QPointF(6.8, 21.2),
                                  QPointF(5.6, 8)});
        body = body.united(stroked(body, 1.2));
        body = body.subtracted(stroked(polyline({{10, 11.2}, {10, 18}}), 1.5))
                   .subtracted(stroked(polyline({{14, 11.2}, {14, 18}}), 1.5));
        return body.united(stroked(polyline({{3.8, 5.6}, {20.2, 5.6}}), 2.0))
            .united(stroked(polyline({{9.6, 5.2}, {9.6, 3.0}, {14.4, 3.0}, {14.4, 5.2}}), 1.8));
    }
    }
    return {};
}

const QPainterPath& cachedPath(Symbol symbol) {
    // Paths are built once per symbol; drawing is then one fill.
    static std::array<std::optional<QPainterPath>, 18> cache;
    auto& slot = cache.at(std::size_t(symbol));
    if (!slot)
        slot = path(symbol);
    return *slot;
}

} // namespace

void paint(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& color) {
    const qreal side = std::min(box.width(), box.height());
    const QRectF square(box.center() - QPointF(side / 2, side / 2), QSizeF(side, side));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(square.topLeft());
    painter.scale(side / kGrid, side / kGrid);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(cachedPath(symbol));
    painter.restore();
}

QImage image(Symbol symbol, int size, const QColor& color, qreal dpr) {
    const int px = qMax(1, qRound(size * dpr));
    QImage img(px, px, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        paint(p, symbol, QRectF(0, 0, px, px), color);
    }
    img.setDevicePixelRatio(dpr);
    return img;
}

QPixmap pixmap(Symbol symbol, int size, const QColor& color, qreal dpr) {
    return QPixmap::fromImage(image(symbol, size, color, dpr));
}

QIcon icon(Symbol symbol, const QColor& color) {
    QIcon result;
    QColor faded = color;
    faded.setAlphaF(color.alphaF() * 0.4f);
    for (const int size : {16, 22, 24, 32, 48}) {
        for (const qreal dpr : {1.0, 2.0}) {
            result.addPixmap(pixmap(symbol, size, color, dpr), QIcon::Normal);
            result.addPixmap(pixmap(symbol, size, faded, dpr), QIcon::Disabled);
        }
    }
    return result;
}

QPainterPath outline(Symbol symbol) {
    return cachedPath(symbol);
}

QPainterPath workingOutline() {
    // Laid out on a 17-unit-high canvas: the symbol is 17 × 17, the canvas 5 units wider, and the
    // badge a 10-unit dot in the lower right corner.
    QTransform fit;
    fit.scale(17 / kGrid, 17 / kGrid);
    const QRectF badge(22 - 10, 17 - 10, 10, 10);
    QPainterPath dot;
    dot.addEllipse(badge);
    QPainterPath gap;
    gap.addEllipse(badge.adjusted(-1.5, -1.5, 1.5, 1.5));
    // The check mark, cut out of the dot (y measured from the top here).
    QPainterPath tick;
    tick.moveTo(badge.left() + 2.6, badge.bottom() - 5.2);
    tick.lineTo(badge.left() + 4.3, badge.bottom() - 2.6);
    tick.lineTo(badge.right() - 2.4, badge.top() + 2.8);
    // A transparent ring separates the badge from the pointer.
    return fit.map(cachedPath(Symbol::pointerMotion))
        .subtracted(gap)
        .united(dot.subtracted(stroked(tick, 1.5)));
}

QImage working(int height, const QColor& color, qreal dpr) {
    const qreal u = height / 17.0;
    QImage img(qMax(1, qCeil(22 * u * dpr)), qMax(1, qCeil(17 * u * dpr)),
               QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(dpr * u, dpr * u);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPath(workingOutline());
    }
    img.setDevicePixelRatio(dpr);
    return img;
}

} // namespace morvane::symbols
