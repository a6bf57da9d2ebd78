#include "Snapshot.h"

#include "MenuView.h"
#include "SettingsTabState.h"
#include "SettingsView.h"
#include "Theme.h"

#include <QApplication>
#include <QDir>
#include <QImage>

namespace morvane::Snapshot {

namespace {

constexpr std::array<std::pair<SettingsTab, const char*>, 4> kTabFiles{{
    {SettingsTab::general, "general"},
    {SettingsTab::movement, "movimiento"},
    {SettingsTab::conditions, "condiciones"},
    {SettingsTab::schedules, "horarios"},
}};

// The index of the output directory in `arguments`, or -1.
qsizetype directoryIndex(const QStringList& arguments) {
    const qsizetype flag = arguments.indexOf(QStringLiteral("--snapshot"), 1);
    return flag > 0 && flag + 1 < arguments.size() ? flag + 1 : -1;
}

// Lets queued layout requests and deferred shows run, so that the view draws as it would on screen.
void settle() {
    for (int pass = 0; pass < 3; ++pass) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
}

// Draws `view` at its own size on the window background into `path`.
void renderTo(QWidget& view, const QString& path, const std::function<void(const QString&)>& written) {
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.setAutoFillBackground(true);
    view.setBackgroundRole(QPalette::Window);
    view.show();
    settle();
    view.adjustSize();
    settle();
    QImage image(view.size() * kScale, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return;
    image.setDevicePixelRatio(kScale);
    image.fill(view.palette().color(QPalette::Window));
    view.render(&image);
    view.hide();
    if (image.save(path, "PNG") && written)
        written(path);
}

} // namespace

bool requested(const QStringList& arguments) {
    return directoryIndex(arguments) > 0;
}

bool requested(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc && argv[i]; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return requested(arguments);
}

bool runIfRequested(const QStringList& arguments, SettingsStore& store, Engine& engine, Updater& updater,
                    LoginModel& login, const Clock& clock) {
    const qsizetype index = directoryIndex(arguments);
    if (index < 0)
        return false;
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return true; // nothing can be drawn; the caller quits all the same
    theme::applyAppearance(*app, arguments.indexOf(QStringLiteral("--dark"), 1) > 0);
    const QString dir = QDir::current().absoluteFilePath(arguments.at(index));
    QDir().mkpath(dir); // a failure shows as missing pictures
    render(dir, store, engine, updater, login, clock);
    return true;
}

void render(const QString& dir, SettingsStore& store, Engine& engine, Updater& updater, LoginModel& login,
            const Clock& clock, const std::function<void(const QString&)>& written) {
    const QDir out(dir);
    {
        MenuView menu(engine, store, updater, clock, MenuView::defaultQuick(), AppActions{});
        renderTo(menu, out.filePath(QStringLiteral("menu.png")), written);
    }
    SettingsTabState tabs;
    SettingsView settings(tabs, store, engine, updater, login, clock, AppActions{});
    for (const auto& [tab, name] : kTabFiles) {
        tabs.setTab(tab);
        renderTo(settings, out.filePath(QStringLiteral("pref-%1.png").arg(QLatin1String(name))), written);
    }
}

} // namespace morvane::Snapshot
