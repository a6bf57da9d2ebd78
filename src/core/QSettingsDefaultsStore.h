#pragma once

#include "DefaultsStore.h"

#include <QString>
#include <QVariantHash>

#include <memory>

class QSettings;

namespace morvane {

// The real per-user store: an INI file read and written through QSettings, synced after every
// write. A file that is not a regular file of sane size (a FIFO, a device, a directory, a huge
// file) is never read, so loading cannot hang or exhaust memory; the first write replaces it
// where that is possible.
class QSettingsDefaultsStore final : public DefaultsStore {
public:
    // Uses `$XDG_CONFIG_HOME/morvane/morvane.conf`.
    QSettingsDefaultsStore();
    // Uses the INI file at `path` (tests point it at a temporary directory).
    explicit QSettingsDefaultsStore(const QString& path);
    ~QSettingsDefaultsStore() override;

    QVariant value(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;

    // Files larger than this are not read.
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;

    static QString defaultPath();

private:
    QString m_path;
    bool m_readable = false; // the path was a sane regular file (or absent) when last checked
    std::unique_ptr<QSettings> m_settings;
    QVariantHash m_memory; // values that could not go to the file (a directory sits at the path)
};

} // namespace morvane
