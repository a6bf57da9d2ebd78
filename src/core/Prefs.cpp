#include "Prefs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace morvane {

QString toText(JiggleMode mode) {
    switch (mode) {
    case JiggleMode::standard:
        return QStringLiteral("standard");
    case JiggleMode::zen:
        return QStringLiteral("zen");
    case JiggleMode::click:
        return QStringLiteral("click");
    }
    return QStringLiteral("standard");
}

QString toText(TriggerPolicy policy) {
    switch (policy) {
    case TriggerPolicy::always:
        return QStringLiteral("always");
    case TriggerPolicy::whenIdle:
        return QStringLiteral("whenIdle");
    }
    return QStringLiteral("whenIdle");
}

std::optional<JiggleMode> jiggleModeFromText(const QString& text) {
    for (JiggleMode mode : kAllJiggleModes)
        if (toText(mode) == text)
            return mode;
    return std::nullopt;
}

std::optional<TriggerPolicy> triggerPolicyFromText(const QString& text) {
    for (TriggerPolicy policy : kAllTriggerPolicies)
        if (toText(policy) == text)
            return policy;
    return std::nullopt;
}

QString label(JiggleMode mode) {
    switch (mode) {
    case JiggleMode::standard:
        return QStringLiteral("Estándar — mueve el cursor");
    case JiggleMode::zen:
        return QStringLiteral("Zen — resetea la inactividad sin mover el cursor");
    case JiggleMode::click:
        return QStringLiteral("Click — hace un click sin mover el cursor");
    }
    return {};
}

QString label(TriggerPolicy policy) {
    switch (policy) {
    case TriggerPolicy::always:
        return QStringLiteral("Siempre que esté activo");
    case TriggerPolicy::whenIdle:
        return QStringLiteral("Solo si no tocaste teclado ni mouse");
    }
    return {};
}

namespace {

// Each reader leaves `field` untouched unless the value has exactly the field's type, so that a
// hand-edited or older document degrades one field at a time instead of as a whole.

void read(const QJsonObject& o, const QString& key, double& field) {
    const QJsonValue v = o.value(key);
    // Qt's parser already refuses numbers that overflow a double; the finiteness check keeps the
    // rule in one place should that ever change, since the writer would turn them into null.
    if (v.isDouble() && std::isfinite(v.toDouble()))
        field = v.toDouble();
}

void read(const QJsonObject& o, const QString& key, std::int64_t& field) {
    // toInteger answers the fallback for fractions and for numbers beyond the 64-bit range, and
    // accepts 12.0 as 12.
    const QJsonValue v = o.value(key);
    if (v.isDouble())
        field = v.toInteger(field);
}

void read(const QJsonObject& o, const QString& key, bool& field) {
    const QJsonValue v = o.value(key);
    if (v.isBool())
        field = v.toBool();
}

void read(const QJsonObject& o, const QString& key, QString& field) {
    const QJsonValue v = o.value(key);
    if (v.isString())
        field = v.toString();
}

void read(const QJsonObject& o, const QString& key, JiggleMode& field) {
    const QJsonValue v = o.value(key);
    if (!v.isString())
        return;
    if (const auto mode = jiggleModeFromText(v.toString()))
        field = *mode;
}

void read(const QJsonObject& o, const QString& key, TriggerPolicy& field) {
    const QJsonValue v = o.value(key);
    if (!v.isString())
        return;
    if (const auto policy = triggerPolicyFromText(v.toString()))
        field = *policy;
}

// All or nothing: a list with one unreadable entry would otherwise silently drop a schedule the
// user still expects to run.
void read(const QJsonObject& o, const QString& key, std::vector<Schedule>& field) {
    const QJsonValue v = o.value(key);
    if (!v.isArray())
        return;
    const QJsonArray array = v.toArray();
    std::vector<Schedule> schedules;
    schedules.reserve(size_t(array.size()));
    for (const QJsonValue& element : array) {
        auto schedule = Schedule::fromJson(element);
        if (!schedule)
            return;
        schedules.push_back(std::move(*schedule));
    }
    field = std::move(schedules);
}

} // namespace

std::optional<QByteArray> Prefs::toJson() const {
    QJsonArray scheduleArray;
    for (const Schedule& s : schedules)
        scheduleArray.append(s.toJson());

    QJsonObject o;
    o.insert(QLatin1String("interval"), interval);
    o.insert(QLatin1String("policy"), toText(policy));
    o.insert(QLatin1String("mode"), toText(mode));
    o.insert(QLatin1String("distance"), distance);
    o.insert(QLatin1String("randomize"), randomize);
    o.insert(QLatin1String("showIconOnJiggle"), showIconOnJiggle);
    o.insert(QLatin1String("preventDisplaySleep"), preventDisplaySleep);
    o.insert(QLatin1String("reqCPU"), reqCPU);
    o.insert(QLatin1String("cpuThreshold"), cpuThreshold);
    o.insert(QLatin1String("reqRemovableDisk"), reqRemovableDisk);
    o.insert(QLatin1String("reqAudio"), reqAudio);
    o.insert(QLatin1String("reqApps"), reqApps);
    o.insert(QLatin1String("reqAppsList"), reqAppsList);
    o.insert(QLatin1String("neverOnBattery"), neverOnBattery);
    o.insert(QLatin1String("neverBatteryLow"), neverBatteryLow);
    o.insert(QLatin1String("batteryThreshold"), batteryThreshold);
    o.insert(QLatin1String("neverLocked"), neverLocked);
    o.insert(QLatin1String("neverFrontmost"), neverFrontmost);
    o.insert(QLatin1String("neverFrontmostList"), neverFrontmostList);
    o.insert(QLatin1String("schedulesEnabled"), schedulesEnabled);
    o.insert(QLatin1String("schedules"), scheduleArray);
    o.insert(QLatin1String("restoreState"), restoreState);
    o.insert(QLatin1String("notifications"), notifications);
    o.insert(QLatin1String("hotkey"), hotkey);
    o.insert(QLatin1String("countdownInMenuBar"), countdownInMenuBar);
    o.insert(QLatin1String("quitWhenTimerEnds"), quitWhenTimerEnds);
    o.insert(QLatin1String("autoCheckUpdates"), autoCheckUpdates);
    o.insert(QLatin1String("autoInstallUpdates"), autoInstallUpdates);
    // qint64 keeps the integer fields as JSON integers; going through double would round them.
    o.insert(QLatin1String("lastUntilMinutes"), qint64(lastUntilMinutes));
    o.insert(QLatin1String("lastStartMinutes"), qint64(lastStartMinutes));
    o.insert(QLatin1String("lastStopMinutes"), qint64(lastStopMinutes));
    o.insert(QLatin1String("lastStopEnabled"), lastStopEnabled);
    o.insert(QLatin1String("customActivateMinutes"), qint64(customActivateMinutes));
    o.insert(QLatin1String("customPauseMinutes"), qint64(customPauseMinutes));
    for (const QJsonValue& value : o) {
        if (value.isDouble() && !std::isfinite(value.toDouble()))
            return std::nullopt;
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Prefs> Prefs::fromJson(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();

    Prefs p;
    read(o, QStringLiteral("interval"), p.interval);
    read(o, QStringLiteral("policy"), p.policy);
    read(o, QStringLiteral("mode"), p.mode);
    read(o, QStringLiteral("distance"), p.distance);
    read(o, QStringLiteral("randomize"), p.randomize);
    read(o, QStringLiteral("showIconOnJiggle"), p.showIconOnJiggle);
    read(o, QStringLiteral("preventDisplaySleep"), p.preventDisplaySleep);
    read(o, QStringLiteral("reqCPU"), p.reqCPU);
    read(o, QStringLiteral("cpuThreshold"), p.cpuThreshold);
    read(o, QStringLiteral("reqRemovableDisk"), p.reqRemovableDisk);
    read(o, QStringLiteral("reqAudio"), p.reqAudio);
    read(o, QStringLiteral("reqApps"), p.reqApps);
    read(o, QStringLiteral("reqAppsList"), p.reqAppsList);
    read(o, QStringLiteral("neverOnBattery"), p.neverOnBattery);
    read(o, QStringLiteral("neverBatteryLow"), p.neverBatteryLow);
    read(o, QStringLiteral("batteryThreshold"), p.batteryThreshold);
    read(o, QStringLiteral("neverLocked"), p.neverLocked);
    read(o, QStringLiteral("neverFrontmost"), p.neverFrontmost);
    read(o, QStringLiteral("neverFrontmostList"), p.neverFrontmostList);
    read(o, QStringLiteral("schedulesEnabled"), p.schedulesEnabled);
    read(o, QStringLiteral("schedules"), p.schedules);
    read(o, QStringLiteral("restoreState"), p.restoreState);
    read(o, QStringLiteral("notifications"), p.notifications);
    read(o, QStringLiteral("hotkey"), p.hotkey);
    read(o, QStringLiteral("countdownInMenuBar"), p.countdownInMenuBar);
    read(o, QStringLiteral("quitWhenTimerEnds"), p.quitWhenTimerEnds);
    read(o, QStringLiteral("autoCheckUpdates"), p.autoCheckUpdates);
    read(o, QStringLiteral("autoInstallUpdates"), p.autoInstallUpdates);
    read(o, QStringLiteral("lastUntilMinutes"), p.lastUntilMinutes);
    read(o, QStringLiteral("lastStartMinutes"), p.lastStartMinutes);
    read(o, QStringLiteral("lastStopMinutes"), p.lastStopMinutes);
    read(o, QStringLiteral("lastStopEnabled"), p.lastStopEnabled);
    read(o, QStringLiteral("customActivateMinutes"), p.customActivateMinutes);
    read(o, QStringLiteral("customPauseMinutes"), p.customPauseMinutes);
    return p;
}

} // namespace morvane
