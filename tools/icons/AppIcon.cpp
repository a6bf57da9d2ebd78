#include "AppIcon.h"

#include "Symbols.h"

#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QSvgGenerator>

namespace morvane::appicon {

namespace {

const QColor kTileTop(0x3B, 0x8B, 0xF6);
const QColor kTileBottom(0x1D, 0x5F, 0xD0);
const QColor kGlyph(Qt::white);

QString fail(const QString& what, const QString& path) {
    return QStringLiteral("%1 %2").arg(what, QDir::toNativeSeparators(path));
}

} // namespace

void paint(QPainter& painter, const QRectF& box) {
    const qreal side = qMin(box.width(), box.height());
    const QRectF tile(box.center() - QPointF(side / 2, side / 2), QSizeF(side, side));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // A small margin keeps the tile the size of other applications' tiles in a launcher grid.
    const QRectF body = tile.adjusted(side / 16, side / 16, -side / 16, -side / 16);
    QLinearGradient fill(body.topLeft(), body.bottomLeft());
    fill.setColorAt(0, kTileTop);
    fill.setColorAt(1, kTileBottom);
    QPainterPath rounded;
    rounded.addRoundedRect(body, body.width() * 0.22, body.width() * 0.22);
    painter.fillPath(rounded, fill);
    // The glyph fills the middle ~60 %: at 16 pixels it still reads as a pointer.
    const qreal inset = body.width() * 0.19;
    symbols::paint(painter, Symbol::pointerMotion, body.adjusted(inset, inset, -inset, -inset), kGlyph);
    painter.restore();
}

QString writeTheme(const QString& themeDir) {
    QDir dir(themeDir);
    const QString scalable = QStringLiteral("scalable/apps");
    if (!dir.mkpath(scalable))
        return fail(QStringLiteral("could not create"), dir.filePath(scalable));
    const QString svgPath = dir.filePath(scalable + QLatin1Char('/') + QLatin1String(kName) + ".svg");
    {
        QSvgGenerator svg;
        svg.setFileName(svgPath);
        svg.setSize(QSize(128, 128));
        svg.setViewBox(QRectF(0, 0, 128, 128));
        svg.setTitle(QStringLiteral("Morvane"));
        QPainter p;
        if (!p.begin(&svg))
            return fail(QStringLiteral("could not write"), svgPath);
        paint(p, QRectF(0, 0, 128, 128));
    }
    for (const int size : kSizes) {
        const QString sub = QStringLiteral("%1x%1/apps").arg(size);
        if (!dir.mkpath(sub))
            return fail(QStringLiteral("could not create"), dir.filePath(sub));
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            paint(p, QRectF(0, 0, size, size));
        }
        const QString png = dir.filePath(sub + QLatin1Char('/') + QLatin1String(kName) + ".png");
        if (!image.save(png, "PNG"))
            return fail(QStringLiteral("could not write"), png);
    }
    return {};
}

QString writePanelIcons(const QString& dir) {
    if (!QDir().mkpath(dir))
        return fail(QStringLiteral("could not create"), dir);
    struct Glyph {
        const char* state;
        QPainterPath outline;
        QRectF viewBox;
    };
    const QRectF square(0, 0, 24, 24);
    // The working icon is wider than high: its 22 × 17 grid is centred in a square of its width.
    const Glyph glyphs[] = {{"off", symbols::outline(Symbol::pointer), square},
                            {"on", symbols::outline(Symbol::pointerMotion), square},
                            {"blocked", symbols::outline(Symbol::pointerSlash), square},
                            {"working", symbols::workingOutline(), QRectF(0.25, -2.5, 22, 22)}};
    for (const Glyph& glyph : glyphs) {
        const QString path = dir + QStringLiteral("/morvane-%1-symbolic.svg").arg(QLatin1String(glyph.state));
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(QSize(16, 16));
        svg.setViewBox(glyph.viewBox);
        svg.setTitle(QStringLiteral("Morvane"));
        QPainter p;
        if (!p.begin(&svg))
            return fail(QStringLiteral("could not write"), path);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        // The grey of symbolic icons; the shell paints them in its own colour.
        p.setBrush(QColor(0xBE, 0xBE, 0xBE));
        p.drawPath(glyph.outline);
    }
    return {};
}

} // namespace morvane::appicon
