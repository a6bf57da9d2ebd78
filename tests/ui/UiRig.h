#pragma once

// The real engine and settings store on fake ports, an updater that never reaches a network, and
// application actions that record what the views ask for: what every view test starts from.

#include "AppActions.h"
#include "FakePorts.h"
#include "Updater.h"

#include <QAbstractButton>
#include <QLabel>
#include <QStringList>

#include <memory>

namespace morvane::test {

struct UiRig : Rig {
    // Every call the views made through the actions, in order: "closePopover", "showSettings:N",
    // "quit", "requestPermission", "resetPermission", "relaunch", "showDiagnosis".
    QStringList calls;
    AppActions actions;
    std::unique_ptr<Updater> updater;

    explicit UiRig(UpdaterOptions options = unreachableFeed()) {
        actions.closePopover = [this] { calls << QStringLiteral("closePopover"); };
        actions.showSettings = [this](SettingsTab tab) {
            calls << QStringLiteral("showSettings:%1").arg(int(tab));
        };
        actions.quit = [this] { calls << QStringLiteral("quit"); };
        actions.requestPermission = [this] { calls << QStringLiteral("requestPermission"); };
        actions.resetPermission = [this] { calls << QStringLiteral("resetPermission"); };
        actions.relaunch = [this] { calls << QStringLiteral("relaunch"); };
        actions.showDiagnosis = [this] { calls << QStringLiteral("showDiagnosis"); };
        updater = std::make_unique<Updater>(
            *store, notifier, [this](const QString&) { calls << "relaunch"; }, options);
    }

    static UpdaterOptions unreachableFeed() {
        UpdaterOptions o;
        o.feedUrl = QUrl(QStringLiteral("https://127.0.0.1:9/appcast.json"));
        o.bundlePath = QStringLiteral("/nonexistent/Morvane.app");
        return o;
    }
};

// The visible buttons and labels under `root` that got less height than they need: a button less
// than its size hint (or, for a wrapping link, its height for its width), a label less than its
// whole text at its width. Empty when the layout gave every one its room.
inline QStringList squeezedWidgets(const QWidget& root) {
    QStringList squeezed;
    const auto check = [&](const QWidget* w, int needed) {
        if (w->isVisibleTo(&root) && w->height() < needed)
            squeezed << QStringLiteral("%1 \"%2\" %3 < %4")
                            .arg(QLatin1String(w->metaObject()->className()), w->objectName())
                            .arg(w->height())
                            .arg(needed);
    };
    for (const QAbstractButton* b : root.findChildren<QAbstractButton*>())
        check(b, b->hasHeightForWidth() ? b->heightForWidth(b->width()) : b->sizeHint().height());
    for (const QLabel* l : root.findChildren<QLabel*>())
        check(l, l->hasHeightForWidth() ? l->heightForWidth(l->width()) : l->minimumSizeHint().height());
    return squeezed;
}

} // namespace morvane::test
