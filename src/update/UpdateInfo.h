#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace morvane {

// One entry of the update feed.
struct UpdateInfo {
    QString version;   // for display, e.g. 1.4.2
    qint64 build = 0;  // the only value compared
    QString url;       // the archive
    QString sha256;    // of the archive, hexadecimal, either case
    QString signature; // Base64 of the Ed25519 signature of the archive
    std::optional<QString> notes;
    std::optional<QString> minimumSystem; // dotted, e.g. 6.1

    bool operator==(const UpdateInfo&) const = default;

    // A JSON object with the feed's keys; absent optional fields are left out.
    QByteArray toJson() const;

    // Nothing unless `json` is an object with every required key of the right type: text for
    // "version", "url", "sha256" and "signature", a whole JSON number within 64 bits for "build";
    // "notes" and "minimumSystem" absent, null or text. Unknown keys are ignored.
    static std::optional<UpdateInfo> fromJson(const QByteArray& json);
};

} // namespace morvane
