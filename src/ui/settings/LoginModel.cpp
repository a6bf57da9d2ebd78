#include "LoginModel.h"

#include "LoginItem.h"

namespace morvane {

LoginModel::LoginModel(const std::function<bool()>& readEnabled, std::function<void(bool)> setEnabled,
                       QObject* parent)
    : QObject(parent)
    , m_setEnabled(std::move(setEnabled))
    , m_on(readEnabled && readEnabled()) {}

LoginModel::LoginModel(LoginItem& item, QObject* parent)
    : LoginModel([&item] { return item.isEnabled(); }, [&item](bool on) { item.set(on); }, parent) {}

LoginModel& LoginModel::shared() {
    static LoginItem* item = new LoginItem;                    // lives until the process ends
    static LoginModel* model = new LoginModel(*item, nullptr); // likewise
    return *model;
}

void LoginModel::setOn(bool on) {
    if (on == m_on)
        return;
    m_on = on;
    Q_EMIT changed();
    if (m_setEnabled)
        m_setEnabled(on);
}

} // namespace morvane
