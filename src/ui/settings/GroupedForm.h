#pragma once

// The settings window's page layout: a scrolling column of groups, each a rounded box of rows with
// an optional header above and footer below, the way desktop preference panes group options.

#include <QScrollArea>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace morvane {

// Gives `widget` the secondary text colour of the application's palette; refreshSecondary() gives
// it again after the palette changes.
void markSecondary(QWidget* widget);
// Re-applies the secondary colour to every marked widget in `root`.
void refreshSecondary(QWidget* root);

// One group: a header, a box whose rows are separated by hairlines, and a footer. A header or
// footer given as empty text is not shown.
class FormGroup : public QWidget {
    Q_OBJECT
public:
    explicit FormGroup(const QString& header = {}, const QString& footer = {}, QWidget* parent = nullptr);

    // Appends `row` to the box; hidden rows take no room and get no hairline.
    void addRow(QWidget* row);
    // Appends a row holding `layout` (its margins zeroed) and returns that row.
    QWidget* addRow(QLayout* layout);

    // Replaces the footer text; empty hides it.
    void setFooter(const QString& text);
    QLabel* footer() const { return m_footer; }

private:
    class Box;
    Box* m_box;
    QLabel* m_footer;
};

class GroupedForm : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kGroupSpacing = 14;

    explicit GroupedForm(QWidget* parent = nullptr);

    // Appends a new group to the column.
    FormGroup* addGroup(const QString& header = {}, const QString& footer = {});
    // Appends any widget to the column (a container of groups, say).
    void addWidget(QWidget* widget);

    // Makes every slider, spin box and combo box inside the form pass wheel events on to the
    // page, so that scrolling the page never changes a value. Call again after adding controls.
    void guardWheels();

protected:
    // The Tab key follows the page in reading order, whatever order its controls were made in.
    void showEvent(QShowEvent* event) override;

private:
    QVBoxLayout* m_column;
    QObject* m_wheelGuard;
};

} // namespace morvane
