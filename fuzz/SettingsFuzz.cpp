// Feeds arbitrary bytes to the two readers of the per-user store: the settings document and the
// run state. Beyond "no crash", it checks that whatever the settings reader accepts survives a
// save and a reload unchanged, which is what a user's file goes through on every change.

#include "Instant.h"
#include "Prefs.h"
#include "RunState.h"

#include <QByteArray>
#include <QStringList>
#include <QVariant>

#include <cstddef>
#include <cstdint>

namespace {

void checkSettingsRoundTrip(const QByteArray& bytes) {
    const auto first = morvane::Prefs::fromJson(bytes);
    if (!first)
        return;
    // The reader keeps only finite numbers, so whatever it accepts can be written back.
    const auto json = first->toJson();
    if (!json)
        __builtin_trap();
    const auto second = morvane::Prefs::fromJson(*json);
    if (!second || !(*second == *first))
        __builtin_trap();
}

void checkRunState(const QByteArray& bytes) {
    // The INI file hands the run state back as a list of texts, one per comma-separated element.
    QStringList elements;
    for (const QByteArray& part : bytes.split(','))
        elements.append(QString::fromUtf8(part));
    const auto numbers = morvane::RunState::parse(QVariant(elements));
    if (!numbers)
        return;
    for (double seconds : *numbers) {
        const morvane::Instant t = morvane::instant::fromEpochSeconds(seconds);
        const qint64 msecs = t.toMSecsSinceEpoch();
        if (!t.isValid() || msecs < morvane::instant::kMinMSecs || msecs > morvane::instant::kMaxMSecs)
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A real copy rather than fromRawData: nothing downstream may count on a terminating NUL.
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    checkSettingsRoundTrip(bytes);
    checkRunState(bytes);
    return 0;
}
