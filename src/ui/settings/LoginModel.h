#pragma once

#include <QObject>

#include <functional>

namespace morvane {

class LoginItem;

// Whether the program opens at login, as the settings window's toggle shows it. The registration
// is read once, at creation; afterwards the model holds the user's last choice, even when the
// registration call failed.
class LoginModel final : public QObject {
    Q_OBJECT
public:
    // `readEnabled` is called once, now; `setEnabled` on every real change of on().
    LoginModel(const std::function<bool()>& readEnabled, std::function<void(bool)> setEnabled,
               QObject* parent = nullptr);
    // Reads and writes `item`, which must outlive the model.
    explicit LoginModel(LoginItem& item, QObject* parent = nullptr);

    // The process-wide model over the user's autostart entry, built on first use.
    static LoginModel& shared();

    bool on() const { return m_on; }
    // Stores `on` and announces it; registers or unregisters only when the value changes.
    void setOn(bool on);

Q_SIGNALS:
    void changed();

private:
    std::function<void(bool)> m_setEnabled;
    bool m_on;
};

} // namespace morvane
