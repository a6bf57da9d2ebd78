#include "ActivityBanner.h"

#include "Engine.h"
#include "MenuParts.h"
#include "Symbols.h"
#include "Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace morvane {

namespace {

// As the permission banner: the same padding, corner and tint.
constexpr int kPadding = 8;
constexpr qreal kRadius = 8;
constexpr int kIcon = 14;

} // namespace

ActivityBanner::ActivityBanner(std::function<void()> showDiagnosis, QWidget* parent)
    : QWidget(parent)
    , m_icon(new QLabel) {
    setObjectName(QStringLiteral("activityBanner"));
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    l->setSpacing(6);

    auto* warning = new QWidget;
    QHBoxLayout* warningRow = menu::row(warning, 6);
    QLabel* text = menu::label(
        QStringLiteral("La sesión no está registrando los movimientos: la pantalla puede apagarse igual."),
        theme::caption());
    text->setObjectName(QStringLiteral("activityBannerText"));
    text->setWordWrap(true);
    QPalette orange = text->palette();
    orange.setColor(QPalette::WindowText, theme::orange());
    text->setPalette(orange);
    warningRow->addWidget(m_icon, 0, Qt::AlignTop);
    warningRow->addWidget(text, 1);
    l->addWidget(warning);

    QPushButton* diagnose =
        menu::smallButton(QStringLiteral("Ver diagnóstico"), QStringLiteral("diagnoseButton"));
    diagnose->setAccessibleName(QStringLiteral("Ver el diagnóstico de Morvane"));
    auto* buttons = new QWidget;
    QHBoxLayout* buttonRow = menu::row(buttons, 8);
    buttonRow->addWidget(diagnose);
    buttonRow->addStretch(1);
    l->addWidget(buttons);
    connect(diagnose, &QPushButton::clicked, this, [showDiagnosis = std::move(showDiagnosis)] {
        if (showDiagnosis)
            showDiagnosis();
    });
    drawIcon();
}

bool ActivityBanner::wanted(const Engine& engine) {
    return engine.activityCheck().verdict() == Verdict::unverified;
}

void ActivityBanner::drawIcon() {
    m_icon->setPixmap(symbols::pixmap(Symbol::warningTriangle, kIcon, theme::orange(), devicePixelRatioF()));
}

void ActivityBanner::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ScreenChangeInternal)
        drawIcon();
    QWidget::changeEvent(event);
}

void ActivityBanner::showEvent(QShowEvent* event) {
    // The screen, and with it the pixel ratio, is known once shown.
    drawIcon();
    QWidget::showEvent(event);
}

void ActivityBanner::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(theme::withOpacity(theme::orange(), 0.12));
    p.drawRoundedRect(QRectF(rect()), kRadius, kRadius);
}

} // namespace morvane
