#pragma once

#include <QString>

namespace morvane {

// An updater failure: the one status line the user sees.
struct Fail {
    QString text;
    bool operator==(const Fail&) const = default;
};

// The failure to put the new bundle in place of the installed one, in the system's words.
inline Fail replaceFailure(const QString& reason) {
    return {QStringLiteral("No se pudo reemplazar la app: %1").arg(reason)};
}

} // namespace morvane
