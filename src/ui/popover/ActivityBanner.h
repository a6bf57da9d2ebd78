#pragma once

#include <QWidget>

#include <functional>

class QLabel;

namespace morvane {

class Engine;

// The popover's banner for a session that does not register the movements, drawn like the
// permission banner: a warning, and "Ver diagnóstico", which opens the diagnosis window. Shown
// while the engine's verdict is "unverified"; it goes by itself once a movement registers.
class ActivityBanner final : public QWidget {
    Q_OBJECT
public:
    explicit ActivityBanner(std::function<void()> showDiagnosis, QWidget* parent = nullptr);

    // Whether the banner belongs in the popover now.
    static bool wanted(const Engine& engine);

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void drawIcon();

    QLabel* m_icon;
};

} // namespace morvane
