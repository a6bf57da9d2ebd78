#include "SettingsStore.h"
#include "QSettingsDefaultsStore.h"
#include "RunState.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using namespace morvane;

namespace {

class MemoryDefaults final : public DefaultsStore {
public:
    QVariant value(const QString& key) const override { return values.value(key); }
    void setValue(const QString& key, const QVariant& value) override {
        ++writes;
        values.insert(key, value);
    }

    QVariantHash values;
    int writes = 0;
};

Prefs withoutIds(Prefs p) {
    for (Schedule& s : p.schedules)
        s.id = QUuid();
    return p;
}

bool isAllDefaults(const Prefs& p) {
    return withoutIds(p) == withoutIds(Prefs()) && p.schedules.size() == 1 && !p.schedules[0].id.isNull();
}

} // namespace

TEST(SettingsStore, LoadsWhatIsStoredWithoutWriting) {
    MemoryDefaults defaults;
    EXPECT_TRUE(isAllDefaults(SettingsStore(defaults).p()));

    defaults.values.insert(SettingsStore::kKey, QByteArray(R"({"interval":30,"mode":"zen"})"));
    const SettingsStore store(defaults);
    EXPECT_EQ(store.p().interval, 30);
    EXPECT_EQ(store.p().mode, JiggleMode::zen);
    EXPECT_EQ(defaults.writes, 0);
}

TEST(SettingsStore, UnreadableDocumentStaysUntilTheNextChange) {
    for (const QByteArray& bad :
         {QByteArray("[1,2,3]"), QByteArray("\x00\xff not json", sizeof("\x00\xff not json") - 1)}) {
        MemoryDefaults defaults;
        defaults.values.insert(SettingsStore::kKey, bad);
        SettingsStore store(defaults);
        EXPECT_TRUE(isAllDefaults(store.p()));
        EXPECT_EQ(defaults.writes, 0);
        EXPECT_EQ(defaults.values.value(SettingsStore::kKey).toByteArray(), bad);

        store.update([](Prefs& p) { p.hotkey = false; });
        EXPECT_EQ(defaults.writes, 1);
        const auto reloaded = Prefs::fromJson(defaults.values.value(SettingsStore::kKey).toByteArray());
        ASSERT_TRUE(reloaded);
        EXPECT_EQ(*reloaded, store.p());
        EXPECT_FALSE(reloaded->hotkey);
    }
}

TEST(SettingsStore, EqualAssignmentDoesNothing) {
    MemoryDefaults defaults;
    SettingsStore store(defaults);
    int announced = 0;
    int changed = 0;
    QObject::connect(&store, &SettingsStore::aboutToChange, [&] { ++announced; });
    QObject::connect(&store, &SettingsStore::changed, [&] { ++changed; });

    store.setP(store.p());
    store.update([](Prefs& p) { p.interval = 120; });
    EXPECT_EQ(defaults.writes, 0);
    EXPECT_EQ(announced, 0);
    EXPECT_EQ(changed, 0);
}

TEST(SettingsStore, NonFiniteNumbersAreNeverStored) {
    MemoryDefaults defaults;
    SettingsStore store(defaults);
    store.update([](Prefs& p) { p.interval = 30; });
    const QVariant stored = defaults.values.value(SettingsStore::kKey);
    for (const double bad :
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN()}) {
        store.update([bad](Prefs& p) { p.distance = bad; });
        EXPECT_EQ(defaults.values.value(SettingsStore::kKey), stored) << bad;
    }
    EXPECT_TRUE(std::isnan(store.p().distance)); // the change itself holds while the program runs
    EXPECT_EQ(SettingsStore(defaults).p().interval, 30);
}

TEST(SettingsStore, OneChangeWritesTheWholeRecordOnce) {
    MemoryDefaults defaults;
    SettingsStore store(defaults);
    const Prefs before = store.p();

    int announced = 0;
    QObject::connect(&store, &SettingsStore::aboutToChange, [&](const Prefs& next) {
        ++announced;
        // Subscribers compare the incoming record with the current one, and nothing is on disk yet.
        EXPECT_EQ(store.p(), before);
        EXPECT_TRUE(next.showIconOnJiggle);
        EXPECT_EQ(defaults.writes, 0);
    });
    int changed = 0;
    QObject::connect(&store, &SettingsStore::changed, [&] {
        ++changed;
        EXPECT_TRUE(store.p().showIconOnJiggle);
        EXPECT_EQ(defaults.writes, 1);
    });

    store.update([](Prefs& p) { p.showIconOnJiggle = true; });
    EXPECT_EQ(announced, 1);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(defaults.writes, 1);

    const QVariant stored = defaults.values.value(SettingsStore::kKey);
    EXPECT_EQ(stored.typeId(), QMetaType::QByteArray);
    const QJsonObject o = QJsonDocument::fromJson(stored.toByteArray()).object();
    EXPECT_EQ(o.size(), 34);
    EXPECT_TRUE(o.value(QStringLiteral("showIconOnJiggle")).toBool());

    // A second store on the same data sees the same record, schedule id included.
    EXPECT_EQ(SettingsStore(defaults).p(), store.p());
}

// --- The real file ---------------------------------------------------------------------------

namespace {

// QSettings keeps a per-process cache keyed by file name, so a second store on the same path
// could answer from memory. A copy under a new name forces a genuine read of the bytes on disk.
QVariant readBackFromDisk(const QString& path, const QString& key) {
    static int copies = 0;
    const QString copy = QFileInfo(path).absolutePath() + QStringLiteral("/copy%1.conf").arg(++copies);
    if (!QFile::copy(path, copy))
        return {};
    return QSettingsDefaultsStore(copy).value(key);
}

bool isRegularFile(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

TEST(QSettingsDefaultsStore, PathFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/morvane-xdg-test");
    const QString path = QSettingsDefaultsStore::defaultPath();
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
    EXPECT_EQ(path, QStringLiteral("/tmp/morvane-xdg-test/morvane/morvane.conf"));
}

TEST(QSettingsDefaultsStore, SettingsSurviveTheFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("not/yet/there/morvane.conf"));

    QSettingsDefaultsStore defaults(path);
    SettingsStore store(defaults);
    store.update([](Prefs& p) {
        p.reqAppsList = QStringLiteral("Música, Zoom; \"x\" = [y]\n");
        p.interval = 0.1 + 0.2;
        p.schedules.push_back(Schedule{});
    });
    EXPECT_TRUE(isRegularFile(path));

    const auto reloaded = Prefs::fromJson(readBackFromDisk(path, SettingsStore::kKey).toByteArray());
    ASSERT_TRUE(reloaded);
    EXPECT_EQ(*reloaded, store.p());
}

TEST(QSettingsDefaultsStore, RunStateNumbersRoundTripExactly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("morvane.conf"));
    const QString key = QStringLiteral("state.v1");

    const RunState::Numbers written{1,
                                    1765200000.123,
                                    253402300799.999,
                                    0,
                                    -62135596800,
                                    1e308,
                                    0.1 + 0.2,
                                    std::numeric_limits<double>::denorm_min()};
    QSettingsDefaultsStore(path).setValue(key, RunState::toVariant(written));

    // The INI file keeps list elements as text; the reader must still get every bit back.
    const QVariant stored = readBackFromDisk(path, key);
    const auto parsed = RunState::parse(stored);
    ASSERT_TRUE(parsed) << stored.typeName();
    for (size_t i = 0; i < written.size(); ++i)
        EXPECT_EQ(std::bit_cast<std::uint64_t>((*parsed)[i]), std::bit_cast<std::uint64_t>(written[i]))
            << "element " << i << ": " << (*parsed)[i];
}

// --- Hostile files at the settings path --------------------------------------------------------

namespace {

struct Hostile {
    const char* name;
    std::function<bool(const QString& path)> make;
    bool replaceable;
};

// The big file holds a perfectly good setting at its top: loading defaults proves it was not read.
bool makeHugeFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("[General]\nprefs.v1=@ByteArray({\\\"interval\\\":30})\n");
    const QByteArray padding(1023, ';');
    for (int i = 0; i < 10 * 1024; ++i)
        f.write(padding + '\n');
    return f.size() > QSettingsDefaultsStore::kMaxFileBytes;
}

void PrintTo(const Hostile& hostile, std::ostream* os) {
    *os << hostile.name;
}

class HostileFileTest : public testing::TestWithParam<Hostile> {};

} // namespace

TEST_P(HostileFileTest, LoadsDefaultsAndRecoversOnTheNextChange) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("morvane.conf"));
    ASSERT_TRUE(GetParam().make(path));

    // A FIFO or /dev/zero would block or never end here if the store opened them.
    QSettingsDefaultsStore defaults(path);
    EXPECT_FALSE(defaults.value(SettingsStore::kKey).isValid());
    SettingsStore store(defaults);
    EXPECT_TRUE(isAllDefaults(store.p()));

    store.update([](Prefs& p) { p.interval = 45; });
    // The same process keeps seeing its own change either way.
    const auto inProcess = Prefs::fromJson(defaults.value(SettingsStore::kKey).toByteArray());
    ASSERT_TRUE(inProcess);
    EXPECT_EQ(inProcess->interval, 45);

    if (GetParam().replaceable) {
        ASSERT_TRUE(isRegularFile(path));
        const auto reloaded = Prefs::fromJson(readBackFromDisk(path, SettingsStore::kKey).toByteArray());
        ASSERT_TRUE(reloaded);
        EXPECT_EQ(*reloaded, store.p());
    } else {
        // Someone's directory is never removed, and nothing is written into it.
        EXPECT_TRUE(QFileInfo(path).isDir());
        EXPECT_TRUE(QFile::exists(path + QStringLiteral("/keep.txt")));
        EXPECT_FALSE(QSettingsDefaultsStore(path).value(SettingsStore::kKey).isValid());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, HostileFileTest,
    testing::Values(
        Hostile{"TenMegabytes", makeHugeFile, true},
        Hostile{"Fifo",
                [](const QString& p) { return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; }, true},
        Hostile{"SymlinkToDevZero", [](const QString& p) { return QFile::link("/dev/zero", p); }, true},
        Hostile{"Directory",
                [](const QString& p) {
                    QFile keep(p + QStringLiteral("/keep.txt"));
                    return QDir().mkpath(p) && keep.open(QIODevice::WriteOnly);
                },
                false}),
    [](const testing::TestParamInfo<Hostile>& info) { return std::string(info.param.name); });

TEST(QSettingsDefaultsStore, SymlinkToARealFileIsFollowed) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("dotfiles.conf"));
    const QString path = dir.filePath(QStringLiteral("morvane.conf"));
    QSettingsDefaultsStore(target).setValue(SettingsStore::kKey, QByteArray(R"({"interval":30})"));
    ASSERT_TRUE(QFile::link(target, path));

    QSettingsDefaultsStore linked(path);
    EXPECT_EQ(SettingsStore(linked).p().interval, 30);
}
