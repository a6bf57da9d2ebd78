#pragma once

// Helpers of the installation tests: permission bits that hold for root as for everyone else,
// the installer scripts run into a temporary home, and the file lists they are checked against.

#include <QString>
#include <QStringList>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace morvane::test {

// While it lives, this thread's effective capabilities lack CAP_DAC_OVERRIDE, so that a folder
// without write permission refuses root too, as it refuses any user (CI runs the tests as root).
// The capability stays permitted and comes back at the end. Nothing changes for a normal user.
class PermissionBitsHold {
public:
    PermissionBitsHold() {
        m_ok = ::syscall(SYS_capget, &m_header, m_saved) == 0;
        if (!m_ok)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
        m_ok = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~PermissionBitsHold() {
        if (m_ok)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    PermissionBitsHold(const PermissionBitsHold&) = delete;
    PermissionBitsHold& operator=(const PermissionBitsHold&) = delete;
    bool ok() const { return m_ok; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_ok = false;
};

// The files an installation puts under the data home (applications/, metainfo/, icons/hicolor/),
// relative to it.
inline QStringList dataFiles() {
    QStringList files{QStringLiteral("applications/app.morvane.Morvane.desktop"),
                      QStringLiteral("metainfo/app.morvane.Morvane.metainfo.xml"),
                      QStringLiteral("icons/hicolor/scalable/apps/app.morvane.Morvane.svg")};
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256, 512})
        files << QStringLiteral("icons/hicolor/%1x%1/apps/app.morvane.Morvane.png").arg(size);
    // The GNOME Shell extension.
    for (const char* part : {"extension.js", "metadata.json", "stylesheet.css", "icons/morvane-off-symbolic.svg",
                             "icons/morvane-on-symbolic.svg", "icons/morvane-blocked-symbolic.svg",
                             "icons/morvane-working-symbolic.svg"})
        files << QStringLiteral("gnome-shell/extensions/morvane@morvane.app/") + QLatin1String(part);
    return files;
}

} // namespace morvane::test
