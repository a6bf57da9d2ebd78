#pragma once

#include "Bundle.h"
#include "InstallStep.h"
#include "Unpacker.h"
#include "UpdateInfo.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace morvane {

class Notifier;
class SettingsStore;
class WorkerProcess;
struct WorkerEvent;
struct WorkerRequest;

// How long the worker may go on, phase by phase, before it is taken for hung: it is then killed and
// its run ends as one whose worker was lost. Generous: a slow line or disk is no reason to give up.
struct WorkerDeadlines {
    qint64 checkMs = 2 * 60 * 1000; // the whole check (a feed is at most 64 KiB)
    // The download: this, plus the archive's size (as its server announced it, else the largest
    // accepted) at the slowest rate still worth waiting for.
    qint64 downloadMs = 2 * 60 * 1000;
    qint64 downloadBytesPerSecond = 32 * 1024;
    qint64 stepMs = 10 * 60 * 1000; // from each installation step to the next
};

// Everything about the updater that tests and the composition root may choose.
struct UpdaterOptions {
    QUrl feedUrl = QUrl(QStringLiteral("https://updates.morvane.app/software/morvane/appcast.json"));
    QByteArray caCertificates;            // PEM of the authorities trusted for HTTPS; empty: the system's
    QString bundlePath;                   // the installed bundle; empty: the one this process runs from
    std::optional<QString> systemRelease; // the kernel release; nothing: uname -r
    int timeoutMs = 20000;
    qint64 maxFeedBytes = 64 * 1024;
    qint64 maxArchiveBytes = qint64(256) << 20;
    UnpackLimits unpackLimits;
    int firstCheckDelayMs = 15 * 1000;
    int checkIntervalMs = 21600 * 1000;
    WorkerDeadlines deadlines;
    StepObserver observe; // called at each installation step, on the main thread
    // The worker process (program and arguments); empty: this executable with kWorkerFlag.
    QStringList workerCommand;
};

// Finds out whether a newer build is published, and downloads, verifies, installs it in place
// and restarts into it. Observable; main thread only. The network, the verification, the unpacking
// and the exchange run in a short-lived worker process (see WorkerProtocol.h), so that the
// long-running application never loads their libraries.
class Updater final : public QObject {
    Q_OBJECT
public:
    // Starts the given executable once this process has gone, and ends this process.
    using Relaunch = std::function<void(const QString& executable)>;

    Updater(SettingsStore& store, Notifier& notifier, Relaunch relaunch, UpdaterOptions options = {},
            QObject* parent = nullptr);
    ~Updater() override;

    // The process-wide updater, built on first use by the factory the application installs.
    static Updater& shared();
    static void setSharedFactory(std::function<std::unique_ptr<Updater>()> factory);

    // Once at launch: removes what an interrupted installation left, shows the version line,
    // and schedules automatic checks (15 s from now, then every 6 hours).
    void start();
    // A check, unless automatic checks are off or one is under way.
    void autoCheck();
    // Fetches the feed and publishes the outcome; an automatic check that finds a newer build
    // installs it or announces it, as the settings say. Dropped while busy.
    void check(bool userInitiated);
    // Downloads, verifies and installs `info`, then restarts. Dropped while busy, and silently
    // when its URL is not valid.
    void install(const UpdateInfo& info);

    const std::optional<UpdateInfo>& available() const { return m_available; }
    bool busy() const { return m_busy; }
    const QString& message() const { return m_message; }

    QString currentVersion() const { return m_running.version; }
    qint64 currentBuild() const { return m_running.build; }
    // The installed bundle this updater replaces (empty when not running from one).
    const QString& bundlePath() const { return m_running.path; }

    // Whether the running kernel is at least the dotted version `v` (see versions::requirement).
    bool systemAtLeast(const QString& v) const;

Q_SIGNALS:
    // After any change of available, busy or message.
    void changed();

private:
    // Starts a worker for `request`, with `deadlineMs` to its first event; the events and the end
    // come back to the given handlers.
    void runWorker(const WorkerRequest& request, qint64 deadlineMs,
                   std::function<void(const WorkerEvent&)> onEvent,
                   std::function<void(bool ended)> onFinished);
    // The download's deadline for an archive of `bytes`.
    qint64 downloadDeadlineMs(qint64 bytes) const;
    void onFeed(const std::optional<QByteArray>& body, bool userInitiated);
    void onInstallEvent(const WorkerEvent& event, const UpdateInfo& info);
    // After the worker's "installed", or its end without a final event: relaunches into the new
    // build when the installed bundle is it, else ends the installation as a failure.
    void settleInstallation(const UpdateInfo& info);
    void installed(const UpdateInfo& info);
    void observe(InstallStep step) const;
    void setBusy(bool busy);
    void setMessage(const QString& message);
    void setAvailable(const std::optional<UpdateInfo>& available);

    SettingsStore& m_store;
    Notifier& m_notifier;
    Relaunch m_relaunch;
    UpdaterOptions m_options;
    RunningBundle m_running;
    QString m_systemRelease;
    QTimer* m_timer = nullptr;
    std::optional<InstallStep> m_lastStep; // of the installation under way
    QPointer<WorkerProcess> m_worker;      // the one running

    std::optional<UpdateInfo> m_available;
    bool m_busy = false;
    QString m_message;
};

} // namespace morvane
