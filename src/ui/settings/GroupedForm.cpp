#include "GroupedForm.h"

#include "Accessibility.h"
#include "Theme.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QSlider>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace morvane {

namespace {

const char* const kSecondaryProperty = "morvaneSecondary";

constexpr int kRowSpacing = 9;
constexpr int kBoxPadding = 12;

QLabel* makeCaption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(theme::caption());
    label->setWordWrap(true);
    markSecondary(label);
    label->setVisible(!text.isEmpty());
    return label;
}

// Hands wheel events aimed at value controls to the page's scroll bar instead.
class WheelGuard final : public QObject {
public:
    WheelGuard(QScrollArea* area)
        : QObject(area)
        , m_area(area) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Wheel)
            return false;
        const auto* wheel = static_cast<QWheelEvent*>(event);
        QScrollBar* bar = std::abs(wheel->angleDelta().x()) > std::abs(wheel->angleDelta().y())
                              ? m_area->horizontalScrollBar()
                              : m_area->verticalScrollBar();
        if (bar && watched != bar)
            QCoreApplication::sendEvent(bar, event);
        return true;
    }

private:
    QScrollArea* m_area;
};

} // namespace

void markSecondary(QWidget* widget) {
    widget->setProperty(kSecondaryProperty, true);
    theme::setSecondary(widget);
}

void refreshSecondary(QWidget* root) {
    for (QWidget* widget : root->findChildren<QWidget*>())
        if (widget->property(kSecondaryProperty).toBool())
            theme::setSecondary(widget);
}

// The rounded box behind a group's rows, with a hairline between each two visible rows.
class FormGroup::Box final : public QWidget {
public:
    explicit Box(QWidget* parent)
        : QWidget(parent)
        , m_rows(new QVBoxLayout(this)) {
        m_rows->setContentsMargins(kBoxPadding, 6, kBoxPadding, 6);
        m_rows->setSpacing(kRowSpacing);
    }

    QVBoxLayout* rows() const { return m_rows; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QPalette& pal = palette();
        const bool dark = theme::isDark(pal);
        const QColor window = pal.color(QPalette::Window);
        // Light pages get white boxes; dark ones boxes a shade lighter than the page.
        const QColor fill = dark
                                ? QColor::fromRgbF(window.redF() * 0.9f + 0.1f, window.greenF() * 0.9f + 0.1f,
                                                   window.blueF() * 0.9f + 0.1f)
                                : pal.color(QPalette::Base);
        const QColor line = theme::withOpacity(theme::primary(pal), dark ? 0.12 : 0.1);
        QPainterPath outline;
        outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        p.fillPath(outline, fill);
        p.setPen(QPen(line, 1));
        p.drawPath(outline);

        p.setRenderHint(QPainter::Antialiasing, false);
        const QWidget* previous = nullptr;
        for (int i = 0; i < m_rows->count(); ++i) {
            const QWidget* row = m_rows->itemAt(i)->widget();
            if (!row || row->isHidden())
                continue;
            if (previous) {
                const int y = (previous->geometry().bottom() + row->geometry().top() + 1) / 2;
                p.drawLine(kBoxPadding, y, width() - 1, y);
            }
            previous = row;
        }
    }

private:
    QVBoxLayout* m_rows;
};

FormGroup::FormGroup(const QString& header, const QString& footer, QWidget* parent)
    : QWidget(parent)
    , m_box(new Box(this))
    , m_footer(makeCaption(footer, this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    if (!header.isEmpty()) {
        auto* title = new QLabel(header, this);
        title->setFont(theme::headline());
        title->setWordWrap(true);
        title->setContentsMargins(kBoxPadding / 2, 0, 0, 0);
        column->addWidget(title);
    }
    column->addWidget(m_box);
    m_footer->setContentsMargins(kBoxPadding / 2, 0, kBoxPadding / 2, 0);
    column->addWidget(m_footer);
}

void FormGroup::addRow(QWidget* row) {
    m_box->rows()->addWidget(row);
}

QWidget* FormGroup::addRow(QLayout* layout) {
    auto* row = new QWidget(m_box);
    layout->setContentsMargins(0, 0, 0, 0);
    row->setLayout(layout);
    addRow(row);
    return row;
}

void FormGroup::setFooter(const QString& text) {
    if (m_footer->text() != text)
        m_footer->setText(text);
    m_footer->setVisible(!text.isEmpty());
}

GroupedForm::GroupedForm(QWidget* parent)
    : QScrollArea(parent)
    , m_wheelGuard(new WheelGuard(this)) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* page = new QWidget(this);
    page->setBackgroundRole(QPalette::Window);
    m_column = new QVBoxLayout(page);
    m_column->setContentsMargins(16, 12, 16, 12);
    m_column->setSpacing(kGroupSpacing);
    m_column->addStretch(1);
    setWidget(page);
    viewport()->setBackgroundRole(QPalette::Window);
    a11y::enterClicksButtons(this);
}

void GroupedForm::showEvent(QShowEvent* event) {
    a11y::followReadingOrder(widget());
    QScrollArea::showEvent(event);
}

FormGroup* GroupedForm::addGroup(const QString& header, const QString& footer) {
    auto* group = new FormGroup(header, footer, widget());
    addWidget(group);
    return group;
}

void GroupedForm::addWidget(QWidget* w) {
    // Before the closing stretch, which keeps short pages at the top.
    m_column->insertWidget(m_column->count() - 1, w);
}

void GroupedForm::guardWheels() {
    const auto guard = [this](QWidget* w) {
        w->removeEventFilter(m_wheelGuard);
        w->installEventFilter(m_wheelGuard);
    };
    for (QAbstractSlider* slider : widget()->findChildren<QAbstractSlider*>())
        if (!qobject_cast<QScrollBar*>(slider))
            guard(slider);
    for (QAbstractSpinBox* spin : widget()->findChildren<QAbstractSpinBox*>())
        guard(spin);
    for (QComboBox* combo : widget()->findChildren<QComboBox*>())
        guard(combo);
}

} // namespace morvane
