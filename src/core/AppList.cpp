#include "AppList.h"

namespace morvane::AppList {

namespace {

// Only spaces and tabs count as padding; a line break inside a list is part of the term.
QString trimBlanks(QStringView s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && (s[begin] == u' ' || s[begin] == u'\t'))
        ++begin;
    while (end > begin && (s[end - 1] == u' ' || s[end - 1] == u'\t'))
        --end;
    return s.sliced(begin, end - begin).toString();
}

bool containsTerm(const QString& name, const QStringList& terms) {
    const QString lower = name.toLower();
    for (const QString& term : terms)
        if (lower.contains(term))
            return true;
    return false;
}

} // namespace

QStringList terms(const QString& list) {
    QStringList out;
    for (QStringView piece : QStringView(list).split(u',', Qt::SkipEmptyParts)) {
        QString term = trimBlanks(piece).toLower();
        if (!term.isEmpty())
            out.append(std::move(term));
    }
    return out;
}

bool matches(const QString& name, const QString& list) {
    return containsTerm(name, terms(list));
}

std::optional<QString> firstMatch(const QStringList& names, const QString& list) {
    const QStringList t = terms(list);
    if (t.isEmpty())
        return std::nullopt;
    for (const QString& name : names)
        if (!name.isEmpty() && containsTerm(name, t))
            return name;
    return std::nullopt;
}

} // namespace morvane::AppList
