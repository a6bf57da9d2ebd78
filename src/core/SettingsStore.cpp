#include "SettingsStore.h"

#include "QSettingsDefaultsStore.h"

namespace morvane {

namespace {

Prefs load(const DefaultsStore& defaults) {
    const QVariant stored = defaults.value(SettingsStore::kKey);
    if (!stored.isValid())
        return Prefs();
    // Whatever sits there is left alone: an unreadable document is only replaced by the next
    // change, never at startup.
    return Prefs::fromJson(stored.toByteArray()).value_or(Prefs());
}

} // namespace

SettingsStore::SettingsStore(DefaultsStore& defaults, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_p(load(defaults)) {}

DefaultsStore& SettingsStore::sharedDefaults() {
    static QSettingsDefaultsStore defaults;
    return defaults;
}

SettingsStore& SettingsStore::shared() {
    static SettingsStore store(sharedDefaults());
    return store;
}

void SettingsStore::setP(const Prefs& next) {
    if (next == m_p)
        return;
    // Subscribers such as the engine's hot-key switch compare against p() here, so the old
    // record must still be in place while they run.
    Q_EMIT aboutToChange(next);
    m_p = next;
    save();
    Q_EMIT changed();
}

void SettingsStore::update(const std::function<void(Prefs&)>& edit) {
    Prefs next = m_p;
    edit(next);
    setP(next);
}

void SettingsStore::save() {
    // A record JSON cannot hold stays in memory only: the document stored before is a better
    // start next time than one with a setting gone back to its default.
    if (const auto json = m_p.toJson())
        m_defaults.setValue(kKey, *json);
}

} // namespace morvane
