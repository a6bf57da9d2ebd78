#include "RunState.h"

#include <QVariantList>

namespace morvane::RunState {

QVariant toVariant(const Numbers& numbers) {
    QVariantList list;
    list.reserve(int(numbers.size()));
    for (double n : numbers)
        list.append(n);
    return list;
}

namespace {

std::optional<double> number(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return v.toDouble();
    case QMetaType::QString: {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return d;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<Numbers> parse(const QVariant& stored) {
    QVariantList list;
    if (stored.typeId() == QMetaType::QVariantList)
        list = stored.toList();
    else if (stored.typeId() == QMetaType::QStringList)
        for (const QString& s : stored.toStringList())
            list.append(s);
    else
        return std::nullopt;

    if (list.size() < 8)
        return std::nullopt;
    Numbers out{};
    for (int i = 0; i < list.size(); ++i) {
        const auto n = number(list[i]);
        if (!n)
            return std::nullopt;
        if (i < 8)
            out[size_t(i)] = *n;
    }
    return out;
}

} // namespace morvane::RunState
