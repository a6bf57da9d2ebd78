#include "Updater.h"

#include "Fail.h"
#include "FileOps.h"
#include "Ports.h"
#include "SettingsStore.h"
#include "Versions.h"
#include "WorkerProcess.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

namespace morvane {

namespace {

std::function<std::unique_ptr<Updater>()>& sharedFactory() {
    static std::function<std::unique_ptr<Updater>()> factory;
    return factory;
}

} // namespace

Updater::Updater(SettingsStore& store, Notifier& notifier, Relaunch relaunch, UpdaterOptions options,
                 QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_notifier(notifier)
    , m_relaunch(std::move(relaunch))
    , m_options(std::move(options)) {
    // Read once, like the Info dictionary of a running application: a later change on disk (an
    // installation, say) does not change who this process is.
    m_running =
        RunningBundle::read(m_options.bundlePath.isEmpty() ? bundle::locateRunning() : m_options.bundlePath);
    m_systemRelease = m_options.systemRelease ? *m_options.systemRelease : versions::kernelRelease();
}

Updater::~Updater() = default;

Updater& Updater::shared() {
    static std::unique_ptr<Updater> updater = [] {
        Q_ASSERT_X(sharedFactory(), "Updater::shared", "no factory installed");
        return sharedFactory()();
    }();
    return *updater;
}

void Updater::setSharedFactory(std::function<std::unique_ptr<Updater>()> factory) {
    sharedFactory() = std::move(factory);
}

void Updater::start() {
    // The installed path always holds one complete bundle (the exchange is atomic); an
    // installation killed on the way can only have left its working directory behind.
    fileops::recover(m_running.path);
    setMessage(QStringLiteral("Versión %1 (%2)").arg(currentVersion()).arg(currentBuild()));
    QTimer::singleShot(m_options.firstCheckDelayMs, this, &Updater::autoCheck);
    if (!m_timer) {
        m_timer = new QTimer(this);
        m_timer->setInterval(m_options.checkIntervalMs);
        connect(m_timer, &QTimer::timeout, this, &Updater::autoCheck);
        m_timer->start();
    }
}

void Updater::autoCheck() {
    if (!m_store.p().autoCheckUpdates || m_busy)
        return;
    check(false);
}

void Updater::check(bool userInitiated) {
    if (m_busy)
        return;
    setBusy(true);
    setMessage(QStringLiteral("Buscando…"));
    WorkerRequest request;
    request.kind = WorkerRequest::Kind::check;
    request.url = m_options.feedUrl;
    request.caCertificates = m_options.caCertificates;
    request.timeoutMs = m_options.timeoutMs;
    request.maxBytes = m_options.maxFeedBytes;
    runWorker(
        request, m_options.deadlines.checkMs,
        [this, userInitiated](const WorkerEvent& event) {
            if (event.kind == WorkerEvent::Kind::feed)
                onFeed(event.feed, userInitiated);
        },
        [this, userInitiated](bool ended) {
            if (!ended)
                onFeed(std::nullopt, userInitiated);
        });
}

void Updater::runWorker(const WorkerRequest& request, qint64 deadlineMs,
                        std::function<void(const WorkerEvent&)> onEvent,
                        std::function<void(bool ended)> onFinished) {
    QStringList command = m_options.workerCommand;
    if (command.isEmpty())
        command = {QCoreApplication::applicationFilePath(), QString::fromLatin1(kWorkerFlag)};
    // A child of the updater: it goes (and kills a worker still running) with it.
    auto* worker = new WorkerProcess(command, this);
    worker->onEvent = std::move(onEvent);
    worker->onFinished = [worker, onFinished = std::move(onFinished)](bool ended) {
        worker->deleteLater();
        onFinished(ended);
    };
    worker->start(request);
    worker->setDeadline(deadlineMs);
    m_worker = worker;
}

qint64 Updater::downloadDeadlineMs(qint64 bytes) const {
    const WorkerDeadlines& d = m_options.deadlines;
    return d.downloadMs +
           std::min(bytes, m_options.maxArchiveBytes) * 1000 / std::max<qint64>(1, d.downloadBytesPerSecond);
}

void Updater::onFeed(const std::optional<QByteArray>& body, bool userInitiated) {
    setBusy(false);
    const auto info = body && !body->isEmpty() ? UpdateInfo::fromJson(*body) : std::nullopt;
    if (!info) {
        setMessage(QStringLiteral("No se pudo consultar el servidor"));
        return;
    }
    if (info->minimumSystem && !m_systemRelease.isEmpty() && !systemAtLeast(*info->minimumSystem)) {
        setMessage(
            QStringLiteral("La versión %1 requiere Linux %2").arg(info->version, *info->minimumSystem));
        return;
    }
    if (!(currentBuild() < info->build)) {
        setAvailable(std::nullopt);
        setMessage(QStringLiteral("Estás al día (%1)").arg(currentVersion()));
        return;
    }
    setAvailable(info);
    setMessage(QStringLiteral("Hay una versión nueva: %1").arg(info->version));
    if (userInitiated)
        return;
    // A bundle this user may not replace (a system-wide installation) is announced instead.
    if (m_store.p().autoInstallUpdates && !fileops::replaceable(m_running.path))
        install(*info);
    else
        m_notifier.send(QStringLiteral("Morvane %1 disponible").arg(info->version),
                        QStringLiteral("Abrí el menú de Morvane para instalarla."));
}

void Updater::install(const UpdateInfo& info) {
    if (m_busy)
        return;
    const QUrl url(info.url, QUrl::StrictMode);
    if (info.url.isEmpty() || !url.isValid() || url.isRelative())
        return;
    // Refused before the download rather than at the swap, in the words the swap would use.
    if (const auto error = fileops::replaceable(m_running.path)) {
        setMessage(replaceFailure(*error).text);
        return;
    }
    setBusy(true);
    setMessage(QStringLiteral("Descargando %1…").arg(info.version));
    // The archive proves itself by its signature, but a file:// or plain http:// location in a
    // feed is a mistake or worse, and is not fetched.
    if (url.scheme() != QLatin1String("https")) {
        QTimer::singleShot(0, this, [this] {
            setBusy(false);
            setMessage(QStringLiteral("No se pudo descargar"));
        });
        return;
    }
    WorkerRequest request;
    request.kind = WorkerRequest::Kind::install;
    request.url = url;
    request.caCertificates = m_options.caCertificates;
    request.timeoutMs = m_options.timeoutMs;
    request.maxBytes = m_options.maxArchiveBytes;
    request.info = info;
    request.running = m_running;
    request.limits = m_options.unpackLimits;
    m_lastStep.reset();
    runWorker(
        request, downloadDeadlineMs(m_options.maxArchiveBytes),
        [this, info](const WorkerEvent& event) { onInstallEvent(event, info); },
        [this, info](bool ended) {
            if (!ended)
                settleInstallation(info);
        });
}

void Updater::onInstallEvent(const WorkerEvent& event, const UpdateInfo& info) {
    // The download's time now follows from the archive's size; past it, each step has its own.
    if (m_worker)
        m_worker->setDeadline(event.kind == WorkerEvent::Kind::size ? downloadDeadlineMs(event.size)
                                                                    : m_options.deadlines.stepMs);
    switch (event.kind) {
    case WorkerEvent::Kind::step:
        m_lastStep = event.step;
        observe(event.step);
        break;
    case WorkerEvent::Kind::installing:
        setMessage(QStringLiteral("Instalando…"));
        break;
    case WorkerEvent::Kind::failed:
        setBusy(false);
        setMessage(event.text);
        break;
    case WorkerEvent::Kind::installed:
        settleInstallation(info);
        break;
    case WorkerEvent::Kind::size:
    case WorkerEvent::Kind::feed:
        break;
    }
}

void Updater::settleInstallation(const UpdateInfo& info) {
    // The worker is done, with its last word or without it (it could not start, crashed, or was
    // killed past its deadline, possibly between the exchange and its report of it). What it left
    // beside the application is no longer held by anyone, and goes as at the next start. Whether
    // the new build is in place is read on disk, not taken from what the worker last said.
    fileops::recover(m_running.path);
    const auto onDisk = BundleInfo::read(m_running.path);
    if (currentBuild() < info.build && onDisk && onDisk->build &&
        versions::readInteger(*onDisk->build) == info.build) {
        installed(info);
        return;
    }
    setBusy(false);
    setMessage(m_lastStep ? replaceFailure(QStringLiteral("la instalación se interrumpió")).text
                          : QStringLiteral("No se pudo descargar"));
}

void Updater::installed(const UpdateInfo& info) {
    m_notifier.send(QStringLiteral("Morvane actualizado a %1").arg(info.version),
                    info.notes.value_or(QStringLiteral("Se reinició con la versión nueva.")));
    // busy stays true: this process is about to end.
    if (m_relaunch)
        m_relaunch(m_running.path + QLatin1Char('/') + QLatin1String(bundle::kExecutable));
}

bool Updater::systemAtLeast(const QString& v) const {
    const auto running = versions::kernelVersion(m_systemRelease);
    return running && *running >= versions::requirement(v);
}

void Updater::observe(InstallStep step) const {
    if (m_options.observe)
        m_options.observe(step);
}

void Updater::setBusy(bool busy) {
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT changed();
}

void Updater::setMessage(const QString& message) {
    if (m_message == message)
        return;
    m_message = message;
    Q_EMIT changed();
}

void Updater::setAvailable(const std::optional<UpdateInfo>& available) {
    if (m_available == available)
        return;
    m_available = available;
    Q_EMIT changed();
}

} // namespace morvane
