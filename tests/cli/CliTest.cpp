// The command line: which arguments become which request, and which are refused before anything is
// sent to the running instance.
#include "Cli.h"

#include <gtest/gtest.h>

namespace morvane::cli {
namespace {

inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

struct DurationCase {
    const char* text;
    std::optional<qint64> seconds;
};

TEST(CliTest, DurationsInHoursMinutesAndSeconds) {
    const DurationCase cases[] = {
        {"90s", 90},
        {"15m", 900},
        {"1h30m", 5400},
        {"2h", 7200},
        {"1h0m1s", 3601},
        {"0h5m", 300},
        {"007m", 420},
        // Absurd lengths are cut to a century, however many digits.
        {"999999999999999999999999999999h", qint64(kMaxSeconds)},
        {"876000h1s", qint64(kMaxSeconds)},
        // Refused: nothing, zero, no unit, units out of order or twice, signs, spaces, other units.
        {"", std::nullopt},
        {"0s", std::nullopt},
        {"0h0m", std::nullopt},
        {"30", std::nullopt},
        {"m", std::nullopt},
        {"30m1h", std::nullopt},
        {"1m1m", std::nullopt},
        {"-5m", std::nullopt},
        {"+5m", std::nullopt},
        {"5 m", std::nullopt},
        {"1.5h", std::nullopt},
        {"5min", std::nullopt},
        {"1d", std::nullopt},
        {"١٥m", std::nullopt}, // digits of another script
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseDuration(QString::fromUtf8(c.text)), c.seconds) << c.text;
}

TEST(CliTest, TimesOfDayIn24Hours) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"18:00", 1080},        {"8:05", 485},
        {"08:05", 485},         {"0:00", 0},
        {"23:59", 1439},        {"24:00", std::nullopt},
        {"7:60", std::nullopt}, {"8:5", std::nullopt},
        {"800", std::nullopt},  {"18:00:00", std::nullopt},
        {"", std::nullopt},     {"-1:00", std::nullopt},
        {"6pm", std::nullopt},  {"123:00", std::nullopt},
    };
    for (const auto& [text, minutes] : cases)
        EXPECT_EQ(parseTimeOfDay(QString::fromUtf8(text)), minutes) << text;
}

struct ParseCase {
    QStringList arguments;
    Request request;
};

TEST(CliTest, CommandsBecomeRequests) {
    const ParseCase cases[] = {
        {{}, {Action::runApp}},
        {{"--snapshot", "out", "--dark"}, {Action::runApp}},
        {{"--snapshot"}, {Action::runApp}},
        {{"-platform", "xcb"}, {Action::runApp}}, // Qt's own options
        {{"--help"}, {Action::help}},
        {{"-h"}, {Action::help}},
        {{"--version"}, {Action::version}},
        {{"--on"}, {Action::on}},
        {{"--off"}, {Action::off}},
        {{"--toggle"}, {Action::toggle}},
        {{"--for", "30m"}, {Action::activateFor, 1800}},
        {{"--for=1h30m"}, {Action::activateFor, 5400}},
        {{"--until", "18:00"}, {Action::activateUntil, 0, 1080}},
        {{"--until=8:05"}, {Action::activateUntil, 0, 485}},
        {{"--pause", "15m"}, {Action::pause, 900}},
        {{"--cancel"}, {Action::cancel}},
        {{"--status"}, {Action::status}},
        {{"--diagnose"}, {Action::diagnose}},
        {{"--preferences"}, {Action::preferences}},
        {{"--preferences", "horarios"}, {Action::preferences, 0, 0, "horarios"}},
        {{"--preferences=movimiento"}, {Action::preferences, 0, 0, "movimiento"}},
        {{"--quit"}, {Action::quit}},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.arguments);
        EXPECT_TRUE(parsed.error.isEmpty())
            << c.arguments.join(' ').toStdString() << ": " << parsed.error.toStdString();
        EXPECT_EQ(parsed.request, c.request) << c.arguments.join(' ').toStdString();
    }
}

struct RefusedCase {
    QStringList arguments;
    const char* errorStart;
    bool showUsage;
};

TEST(CliTest, BadCommandsAreRefusedWithAReason) {
    const RefusedCase cases[] = {
        {{"--bogus"}, "opción desconocida: «--bogus»", true},
        {{"--for=30m", "--on"}, "sobra «--on»", true},
        {{"--on", "--off"}, "sobra «--off»", true},
        {{"toggle"}, "argumento inesperado: «toggle»", true},
        {{"--for"}, "--for necesita un valor", true},
        {{"--pause", "--on"}, "--pause necesita un valor", true},
        {{"--on=1"}, "--on no lleva valor", true},
        {{"--diagnose", "x"}, "sobra «x»: una orden por vez", true},
        {{"--for", "0"}, "duración no válida: «0»", false},
        {{"--pause", "abc"}, "duración no válida: «abc»", false},
        {{"--for", ""}, "duración no válida: «»", false},
        {{"--until", "25:00"}, "hora no válida: «25:00»", false},
        {{"--preferences", "ajustes"}, "pestaña desconocida: «ajustes»", false},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.arguments);
        const std::string args = c.arguments.join(' ').toStdString();
        EXPECT_TRUE(parsed.error.startsWith(QString::fromUtf8(c.errorStart)))
            << args << ": " << parsed.error.toStdString();
        EXPECT_EQ(parsed.showUsage, c.showUsage) << args;
    }
}

} // namespace
} // namespace morvane::cli
