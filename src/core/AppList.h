#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace morvane::AppList {

// The terms of a comma-separated list: each part trimmed of spaces and tabs, lower-cased,
// empty parts dropped, in list order.
QStringList terms(const QString& list);

// True when the lower-cased `name` contains one of the terms of `list`.
bool matches(const QString& name, const QString& list);

// The first of `names` (in order, as given, empty names skipped) that contains a term of
// `list`; nothing when the list has no terms.
std::optional<QString> firstMatch(const QStringList& names, const QString& list);

} // namespace morvane::AppList
