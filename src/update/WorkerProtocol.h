#pragma once

// What the application and the updater's worker process say to each other. The worker is the
// application's own executable started with kWorkerFlag: the network, archive and signature
// libraries then live only in that short-lived process. The application writes one request line
// on the worker's standard input; the worker answers with one event a line on its standard output.
// A step and "installing" wait for the application's go (an empty line), so that the installation
// never runs ahead of what the application has heard, and stops where the application ended.

#include "Bundle.h"
#include "InstallStep.h"
#include "Unpacker.h"
#include "UpdateInfo.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

namespace morvane {

inline constexpr char kWorkerFlag[] = "--update-worker";

struct WorkerRequest {
    enum class Kind { check, install };
    Kind kind = Kind::check;
    QUrl url;                  // the feed, or the archive
    QByteArray caCertificates; // PEM; empty: the system's certificate authorities
    int timeoutMs = 20000;
    qint64 maxBytes = 0;
    // An installation's.
    UpdateInfo info;
    RunningBundle running;
    UnpackLimits limits;

    bool operator==(const WorkerRequest&) const = default;

    QByteArray toLine() const;
    // Nothing unless `line` holds every field with the right type.
    static std::optional<WorkerRequest> fromLine(const QByteArray& line);
};

struct WorkerEvent {
    enum class Kind {
        feed,       // the check's answer: the body, or nothing after a failed transfer
        size,       // the archive's length, as its server announced it before the body
        step,       // waits for the go
        installing, // the exchange comes next; waits for the go
        failed,     // the installation stopped with `text`
        installed,  // the new bundle is in place and its working directory gone
    };
    Kind kind = Kind::failed;
    std::optional<QByteArray> feed;
    InstallStep step = InstallStep::downloaded;
    QString text;
    qint64 size = 0;

    bool operator==(const WorkerEvent&) const = default;
    bool waitsForGo() const { return kind == Kind::step || kind == Kind::installing; }
    // Whether nothing follows it.
    bool ends() const { return kind == Kind::feed || kind == Kind::failed || kind == Kind::installed; }

    QByteArray toLine() const;
    static std::optional<WorkerEvent> fromLine(const QByteArray& line);
};

} // namespace morvane
