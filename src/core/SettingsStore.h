#pragma once

#include "DefaultsStore.h"
#include "Prefs.h"

#include <QObject>

#include <functional>

namespace morvane {

// Holds the one settings record and persists it as JSON under "prefs.v1" whenever it changes.
class SettingsStore final : public QObject {
    Q_OBJECT
public:
    static inline const QString kKey = QStringLiteral("prefs.v1");

    // Loads the record from `defaults` (defaults when absent or unreadable); writes nothing.
    explicit SettingsStore(DefaultsStore& defaults, QObject* parent = nullptr);

    // The process-wide store on the real per-user file, built on first use.
    static SettingsStore& shared();
    // The per-user file behind shared(); the engine keeps its run state there too.
    static DefaultsStore& sharedDefaults();

    const Prefs& p() const { return m_p; }

    // Replaces the record. Subscribers of aboutToChange see the new record first (while p()
    // still answers the old one); then the record is replaced, saved if it differs (and JSON can
    // hold it: see Prefs::toJson), and changed() is emitted. An equal record writes nothing and emits
    // nothing.
    void setP(const Prefs& next);

    // Convenience for changing a few fields: edits a copy and assigns it.
    void update(const std::function<void(Prefs&)>& edit);

Q_SIGNALS:
    void aboutToChange(const morvane::Prefs& next);
    void changed();

private:
    void save();

    DefaultsStore& m_defaults;
    Prefs m_p;
};

} // namespace morvane
