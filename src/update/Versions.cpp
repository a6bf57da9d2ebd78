#include "Versions.h"

#include <QList>

#include <limits>
#include <sys/utsname.h>

namespace morvane::versions {

std::optional<qint64> readInteger(QStringView text) {
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    // Accumulated as a negative number, whose range is one larger, so that the minimum reads too.
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        if (value < (kMin + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == kMin)
            return std::nullopt;
        value = -value;
    }
    return value;
}

qint64 buildNumber(const std::optional<QString>& text) {
    if (!text)
        return 0;
    return readInteger(*text).value_or(0);
}

Triple requirement(QStringView dotted) {
    QList<qint64> numbers;
    for (const QStringView piece : dotted.split(u'.', Qt::SkipEmptyParts)) {
        if (const auto n = readInteger(piece))
            numbers.append(*n);
    }
    Triple t;
    if (numbers.size() > 0)
        t.major = numbers[0];
    if (numbers.size() > 1)
        t.minor = numbers[1];
    if (numbers.size() > 2)
        t.patch = numbers[2];
    return t;
}

std::optional<Triple> kernelVersion(QStringView release) {
    qsizetype end = 0;
    while (end < release.size() && (release[end].isDigit() || release[end] == u'.') &&
           release[end].unicode() < 0x80)
        ++end;
    if (end == 0 || release.front() == u'.')
        return std::nullopt;
    return requirement(release.left(end));
}

QString kernelRelease() {
    struct utsname names {};
    if (::uname(&names) != 0)
        return {};
    return QString::fromLocal8Bit(names.release);
}

} // namespace morvane::versions
