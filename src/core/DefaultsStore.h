#pragma once

#include <QString>
#include <QVariant>

namespace morvane {

// The per-user key-value store the settings and the run state live in.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    // The value stored under `key`, or an invalid QVariant when there is none or it cannot be read.
    virtual QVariant value(const QString& key) const = 0;

    // Replaces the value under `key` and makes it durable before returning (best effort: a
    // store that cannot be written keeps the value in memory only, silently).
    virtual void setValue(const QString& key, const QVariant& value) = 0;
};

} // namespace morvane
