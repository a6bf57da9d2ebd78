#pragma once

// What the settings window tests share: the rig, a login model that counts its calls, and a shown
// SettingsView whose controls are found by object name.

#include "LoginModel.h"
#include "SettingsTabState.h"
#include "SettingsView.h"
#include "UiRig.h"

#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QTest>

#include <memory>

namespace morvane::test {

struct SettingsRig : UiRig {
    bool loginAtStart = false;
    int loginReads = 0;
    std::vector<bool> loginSets;
    std::unique_ptr<LoginModel> login;
    SettingsTabState tabs;
    std::unique_ptr<SettingsView> view;

    explicit SettingsRig(UpdaterOptions options = unreachableFeed())
        : UiRig(std::move(options)) {}

    // Builds and shows the view over the rig as it is now, on `tab`.
    SettingsView& open(SettingsTab tab = SettingsTab::general) {
        tabs.setTab(tab);
        login = std::make_unique<LoginModel>(
            [this] {
                ++loginReads;
                return loginAtStart;
            },
            [this](bool on) { loginSets.push_back(on); });
        view = std::make_unique<SettingsView>(tabs, *store, *engine, *updater, *login, clock, actions);
        view->show();
        settle();
        return *view;
    }

    static void settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QApplication::processEvents();
        }
    }

    template <typename T = QWidget> T* find(const QString& name, QWidget* in = nullptr) const {
        T* found = (in ? in : view.get())->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << "no widget named " << name.toStdString();
        return found;
    }

    // What the store saved under "prefs.v1".
    Prefs persisted() const {
        return Prefs::fromJson(defaults.value(SettingsStore::kKey).toByteArray()).value_or(Prefs{});
    }
};

// A left click where a user would aim: on the box of a check box or radio button (their widgets
// may be wider than their text), in the middle of anything else.
inline void click(QWidget* w) {
    ASSERT_NE(w, nullptr);
    const bool boxed = qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w);
    QTest::mouseClick(w, Qt::LeftButton, {}, boxed ? QPoint(7, w->height() / 2) : w->rect().center());
    SettingsRig::settle();
}

} // namespace morvane::test
