#include "SettingsWindow.h"

#include <QCloseEvent>
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
        // Before the views exist, so that they are made from what the engine finds now.
        Q_EMIT openChanged(true);
        auto* window = new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                                Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
        window->setObjectName(QStringLiteral("settingsWindow"));
        window->setWindowTitle(QStringLiteral("Preferencias de Morvane"));
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->installEventFilter(this);
        auto* layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_makeContent());
        // Not resizable: the window takes its content's size.
        layout->setSizeConstraint(QLayout::SetFixedSize);
        window->adjustSize();
        if (m_position) {
            window->move(*m_position);
        } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
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

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window && event->type() == QEvent::Close) {
        // Qt deletes the window once the close is done; a show() before then builds a new one.
        m_position = m_window->pos();
        m_window = nullptr;
        Q_EMIT openChanged(false);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace morvane
