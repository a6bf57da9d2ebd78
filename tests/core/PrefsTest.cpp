#include "Prefs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <limits>

using namespace morvane;

namespace {

// Two default records differ only in their fresh schedule ids; blank them to compare the rest.
Prefs withoutIds(Prefs p) {
    for (Schedule& s : p.schedules)
        s.id = QUuid();
    return p;
}

Prefs decode(const char* json) {
    const auto p = Prefs::fromJson(QByteArray(json));
    EXPECT_TRUE(p.has_value()) << json;
    return p.value_or(Prefs());
}

bool isDefaultScheduleList(const std::vector<Schedule>& list) {
    Schedule expected;
    return list.size() == 1 && !list[0].id.isNull() && list[0].enabled == expected.enabled &&
           list[0].name == QStringLiteral("Horario laboral") &&
           list[0].days == std::set<std::int64_t>{2, 3, 4, 5, 6} && list[0].start == 540 &&
           list[0].end == 1080;
}

Prefs everythingChanged() {
    Prefs p;
    p.interval = 37.25;
    p.policy = TriggerPolicy::always;
    p.mode = JiggleMode::click;
    p.distance = 0.5;
    p.randomize = false;
    p.showIconOnJiggle = true;
    p.preventDisplaySleep = false;
    p.reqCPU = true;
    p.cpuThreshold = 35;
    p.reqRemovableDisk = true;
    p.reqAudio = true;
    p.reqApps = true;
    p.reqAppsList = QStringLiteral("Música, \"Zoom\"\n\\Teams");
    p.neverOnBattery = true;
    p.neverBatteryLow = false;
    p.batteryThreshold = 7.5;
    p.neverLocked = false;
    p.neverFrontmost = true;
    p.neverFrontmostList = QStringLiteral("Keynote");
    p.schedulesEnabled = true;
    Schedule night;
    night.id = QUuid::fromString(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e"));
    night.enabled = false;
    night.name = QStringLiteral("Guardia nocturna ñ");
    night.days = {1, 7, 9};
    night.start = 1320;
    night.end = 360;
    Schedule empty;
    empty.days = {};
    p.schedules = {night, empty};
    p.restoreState = false;
    p.notifications = false;
    p.hotkey = false;
    p.countdownInMenuBar = false;
    p.quitWhenTimerEnds = true;
    p.autoCheckUpdates = false;
    p.autoInstallUpdates = false;
    p.lastUntilMinutes = std::numeric_limits<std::int64_t>::max();
    p.lastStartMinutes = std::numeric_limits<std::int64_t>::min();
    p.lastStopMinutes = -1;
    p.lastStopEnabled = false;
    p.customActivateMinutes = 0;
    p.customPauseMinutes = 45;
    return p;
}

} // namespace

TEST(PrefsDecode, EmptyObjectIsAllDefaults) {
    const Prefs p = decode("{}");
    EXPECT_EQ(withoutIds(p), withoutIds(Prefs()));
    EXPECT_TRUE(isDefaultScheduleList(p.schedules));
}

TEST(PrefsDecode, OnlyIntervalKeepsEveryOtherDefault) {
    const Prefs p = decode(R"({"interval":30})");
    Prefs expected;
    expected.interval = 30;
    EXPECT_EQ(withoutIds(p), withoutIds(expected));
    EXPECT_TRUE(isDefaultScheduleList(p.schedules));
}

TEST(PrefsDecode, MistypedFieldsFallBackOneByOne) {
    // Each bad value must cost only its own field: interval and name-list are good throughout.
    const Prefs p = decode(R"({"interval":45, "mode":"turbo", "policy":1, "customPauseMinutes":12.5,
        "randomize":1, "showIconOnJiggle":"true", "distance":"8", "reqAppsList":["Zoom"],
        "neverFrontmostList":"Slack", "customActivateMinutes":"60", "lastUntilMinutes":null,
        "batteryThreshold":null, "unknownKey":{"x":1}})");
    EXPECT_EQ(p.interval, 45);
    EXPECT_EQ(p.mode, JiggleMode::standard);
    EXPECT_EQ(p.policy, TriggerPolicy::whenIdle);
    EXPECT_EQ(p.customPauseMinutes, 30);
    EXPECT_TRUE(p.randomize);
    EXPECT_FALSE(p.showIconOnJiggle);
    EXPECT_EQ(p.distance, 4);
    EXPECT_EQ(p.reqAppsList, QStringLiteral("Teams, Slack, Zoom"));
    EXPECT_EQ(p.neverFrontmostList, QStringLiteral("Slack"));
    EXPECT_EQ(p.customActivateMinutes, 90);
    EXPECT_EQ(p.lastUntilMinutes, 1080);
    EXPECT_EQ(p.batteryThreshold, 20);
}

TEST(PrefsDecode, NumbersReadByFieldType) {
    const Prefs p = decode(R"({"cpuThreshold":35, "interval":0.001, "customPauseMinutes":12.0,
        "customActivateMinutes":1e3, "lastStopMinutes":-5, "distance":-2,
        "lastStartMinutes":9223372036854775807, "lastUntilMinutes":9223372036854775808,
        "mode":"zen", "policy":"always"})");
    EXPECT_EQ(p.cpuThreshold, 35);
    EXPECT_EQ(p.interval, 0.001);
    EXPECT_EQ(p.customPauseMinutes, 12);
    EXPECT_EQ(p.customActivateMinutes, 1000);
    // Stored as given: the record never clamps.
    EXPECT_EQ(p.lastStopMinutes, -5);
    EXPECT_EQ(p.distance, -2);
    EXPECT_EQ(p.lastStartMinutes, std::numeric_limits<std::int64_t>::max());
    // 2^63 no longer fits in 64 bits, so the field keeps its default.
    EXPECT_EQ(p.lastUntilMinutes, 1080);
    EXPECT_EQ(p.mode, JiggleMode::zen);
    EXPECT_EQ(p.policy, TriggerPolicy::always);
}

TEST(PrefsDecode, HugeNumbers) {
    EXPECT_EQ(decode(R"({"interval":1e308})").interval, 1e308);
    EXPECT_EQ(decode(R"({"interval":1e308, "customPauseMinutes":1e308})").customPauseMinutes, 30);

    // Beyond a double: must not crash nor leave an infinite interval behind.
    const auto overflow = Prefs::fromJson(R"({"interval":1e400,"distance":8})");
    EXPECT_TRUE(!overflow || overflow->interval == 120);
    const auto negative = Prefs::fromJson(R"({"interval":-1e400})");
    EXPECT_TRUE(!negative || negative->interval == 120);
}

TEST(PrefsDecode, ScheduleList) {
    EXPECT_TRUE(decode(R"({"schedules":[]})").schedules.empty());
    EXPECT_TRUE(isDefaultScheduleList(decode(R"({"schedules":{}})").schedules));
    EXPECT_TRUE(isDefaultScheduleList(decode(R"({"schedules":"none"})").schedules));
    EXPECT_TRUE(isDefaultScheduleList(decode(R"({"schedules":null})").schedules));

    const Prefs good = decode(R"({"schedules":[
        {"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","enabled":false,"name":"B","days":[3,3,1],
         "start":1320,"end":360},
        {"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","enabled":true,"name":"A","days":[],
         "start":0,"end":0}]})");
    ASSERT_EQ(good.schedules.size(), 2u);
    EXPECT_EQ(good.schedules[0].id,
              QUuid::fromString(QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF")));
    EXPECT_EQ(good.schedules[0].days, (std::set<std::int64_t>{1, 3}));
    EXPECT_EQ(good.schedules[1].name, QStringLiteral("A"));

    // One element without "end" rejects the whole list, yet the rest of the document loads.
    const Prefs partial = decode(R"({"interval":30, "schedulesEnabled":true, "schedules":[
        {"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","enabled":true,"name":"ok","days":[2],
         "start":60,"end":120},
        {"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","enabled":true,"name":"broken","days":[2],
         "start":60}], "mode":"click"})");
    EXPECT_TRUE(isDefaultScheduleList(partial.schedules));
    EXPECT_EQ(partial.interval, 30);
    EXPECT_TRUE(partial.schedulesEnabled);
    EXPECT_EQ(partial.mode, JiggleMode::click);

    EXPECT_TRUE(isDefaultScheduleList(decode(R"({"schedules":[null]})").schedules));
}

TEST(PrefsDecode, NotAnObjectIsRefused) {
    for (const char* bad : {"[]", R"([{"interval":30}])", "not json", "", "null", "42", "\"{}\"",
                            R"({"interval":30)", "{\"interval\":30}garbage"}) {
        EXPECT_FALSE(Prefs::fromJson(QByteArray(bad))) << bad;
    }
}

TEST(PrefsEncode, WritesAllKeysWithTheirJsonTypes) {
    const QJsonDocument doc = QJsonDocument::fromJson(Prefs().toJson().value());
    ASSERT_TRUE(doc.isObject());
    const QJsonObject o = doc.object();

    // Sorted, as QJsonObject::keys() answers them.
    const QStringList expectedKeys =
        QStringLiteral(
            "autoCheckUpdates autoInstallUpdates batteryThreshold countdownInMenuBar cpuThreshold "
            "customActivateMinutes customPauseMinutes distance hotkey interval lastStartMinutes "
            "lastStopEnabled lastStopMinutes lastUntilMinutes mode neverBatteryLow neverFrontmost "
            "neverFrontmostList neverLocked neverOnBattery notifications policy preventDisplaySleep "
            "quitWhenTimerEnds randomize reqApps reqAppsList reqAudio reqCPU reqRemovableDisk "
            "restoreState schedules schedulesEnabled showIconOnJiggle")
            .split(u' ');
    ASSERT_EQ(expectedKeys.size(), 34);
    EXPECT_EQ(o.keys(), expectedKeys);

    EXPECT_EQ(o.value("policy").toString(), QStringLiteral("whenIdle"));
    EXPECT_EQ(o.value("mode").toString(), QStringLiteral("standard"));
    EXPECT_TRUE(o.value("interval").isDouble());
    EXPECT_TRUE(o.value("randomize").isBool());
    EXPECT_TRUE(o.value("schedules").isArray());
    EXPECT_EQ(o.value("schedules").toArray().size(), 1);

    // Integral values go out as bare integers, so other readers see 120 rather than 120.0.
    const QByteArray raw = Prefs().toJson().value();
    EXPECT_TRUE(raw.contains("\"interval\":120,") || raw.endsWith("\"interval\":120}")) << raw.constData();
    EXPECT_TRUE(raw.contains("\"customPauseMinutes\":30")) << raw.constData();
    EXPECT_FALSE(raw.contains('\n'));
}

TEST(PrefsEncode, RoundTripKeepsEveryField) {
    const Prefs original = everythingChanged();
    const auto decoded = Prefs::fromJson(original.toJson().value());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, original);

    const Prefs defaults;
    const auto decodedDefaults = Prefs::fromJson(defaults.toJson().value());
    ASSERT_TRUE(decodedDefaults);
    EXPECT_EQ(*decodedDefaults, defaults); // the schedule id included

    Prefs extremes;
    extremes.interval = 1e308;
    extremes.distance = std::numeric_limits<double>::denorm_min();
    extremes.cpuThreshold = 0.1 + 0.2;
    extremes.batteryThreshold = -1e-300;
    extremes.schedules.clear();
    const auto decodedExtremes = Prefs::fromJson(extremes.toJson().value());
    ASSERT_TRUE(decodedExtremes);
    EXPECT_EQ(*decodedExtremes, extremes);
}
