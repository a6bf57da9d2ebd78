#include "SettingsWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace morvane {

SettingsWindow::SettingsWindow(SettingsTabState& tabs, ContentFactory makeContent, QObject* parent)
    : QObject(parent)
    , m_tabs(tabs)
    , m_makeContent(std::move(makeContent)) {}

SettingsWindow::~SettingsWindow() {
    delete m_window;
}

void SettingsWindow::show(SettingsTab tab) {
    m_tabs.setTab(tab);
    if (!m_window) {
        auto* window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                                Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
        window->setObjectName(QStringLiteral("settingsWindow"));
        window->setWindowTitle(QStringLiteral("Preferencias de Morvane"));
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_makeContent());
        // Not resizable: the window takes its content's size.
        layout->setSizeConstraint(QLayout::SetFixedSize);
        window->adjustSize();
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
        m_window = window;
    }
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace morvane
