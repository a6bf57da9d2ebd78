#include "Theme.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace morvane::theme {

namespace {

QFont scaled(double factor) {
    QFont f = QApplication::font();
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * factor);
    else
        f.setPixelSize(qMax(8, qRound(f.pixelSize() * factor)));
    return f;
}

} // namespace

QFont semibold(QFont font) {
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont headline() {
    return semibold(QApplication::font());
}

QFont callout() {
    return scaled(0.93);
}

QFont caption() {
    return scaled(0.85);
}

QFont caption2() {
    return scaled(0.8);
}

QColor accent(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Highlight);
}

QColor primary(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::WindowText);
}

QColor secondary(const QPalette& palette) {
    return withOpacity(primary(palette), isDark(palette) ? 0.6 : 0.55);
}

QColor orange() {
    return QColor(0xF0, 0x8A, 0x00);
}

QColor green() {
    return QColor(0x2E, 0xA0, 0x43);
}

QColor withOpacity(QColor c, double opacity) {
    c.setAlphaF(float(c.alphaF() * std::clamp(opacity, 0.0, 1.0)));
    return c;
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

void applyAppearance(QApplication& app, bool dark) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    if (!dark) {
        app.setPalette(app.style()->standardPalette());
        return;
    }
    QPalette p;
    const QColor window(0x2B, 0x2B, 0x2E);
    // Fields and check boxes a step lighter than the window: Fusion draws their rims from the
    // window colour, which would leave them invisible on a darker base.
    const QColor base(0x3A, 0x3A, 0x3F);
    const QColor text(0xEC, 0xEC, 0xEE);
    const QColor disabled(0x80, 0x80, 0x86);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3A, 0x3A, 0x3E));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x48, 0x48, 0x4D));
    p.setColor(QPalette::Midlight, QColor(0x3E, 0x3E, 0x43));
    p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x34));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1A));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xE4));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x78, 0xAE, 0xED));
    p.setColor(QPalette::LinkVisited, QColor(0xA0, 0x8C, 0xE0));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x50, 0x50, 0x55));
    app.setPalette(p);
}

bool desktopPrefersDark() {
    // org.freedesktop.appearance color-scheme: 1 prefers dark, 2 prefers light, 0 no preference.
    QDBusMessage m = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    m << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    m.setAutoStartService(false);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(m, QDBus::Block, 500);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        // The value comes wrapped in one or two variants, depending on the portal's version.
        QVariant v = reply.arguments().constFirst();
        while (v.metaType() == QMetaType::fromType<QDBusVariant>())
            v = qvariant_cast<QDBusVariant>(v).variant();
        bool ok = false;
        const uint scheme = v.toUInt(&ok);
        if (ok && scheme != 0)
            return scheme == 1;
    }
    return isDark(QApplication::palette());
}

void setSecondary(QWidget* widget) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, secondary(QApplication::palette()));
    p.setColor(QPalette::Text, secondary(QApplication::palette()));
    widget->setPalette(p);
}

} // namespace morvane::theme
