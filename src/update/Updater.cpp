#include "Updater.h"

#include "Bundle.h"
#include "Crypto.h"
#include "FileOps.h"
#include "Ports.h"
#include "SettingsStore.h"
#include "Versions.h"

#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace morvane {

namespace {

std::function<std::unique_ptr<Updater>()>& sharedFactory() {
    static std::function<std::unique_ptr<Updater>()> factory;
    return factory;
}

QString replaceFailure(const QString& reason) {
    return QStringLiteral("No se pudo reemplazar la app: %1").arg(reason);
}

} // namespace

Updater::Updater(SettingsStore& store, Notifier& notifier, Relaunch relaunch, UpdaterOptions options,
                 QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_notifier(notifier)
    , m_relaunch(std::move(relaunch))
    , m_options(std::move(options))
    , m_network(new QNetworkAccessManager(this)) {
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
    const FetchPolicy policy{m_options.tls, m_options.timeoutMs, m_options.maxFeedBytes};
    fetch(*m_network, m_options.feedUrl, policy, this,
          [this, userInitiated](std::optional<QByteArray> body) { onFeed(body, userInitiated); });
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
        setMessage(replaceFailure(*error));
        return;
    }
    setBusy(true);
    setMessage(QStringLiteral("Descargando %1…").arg(info.version));
    // The archive proves itself by its signature, but a file:// or plain http:// location in a
    // feed is a mistake or worse, and is not fetched.
    if (url.scheme() != QLatin1String("https")) {
        QTimer::singleShot(0, this, [this, info] { onArchive(std::nullopt, info); });
        return;
    }
    const FetchPolicy policy{m_options.tls, m_options.timeoutMs, m_options.maxArchiveBytes};
    fetch(*m_network, url, policy, this,
          [this, info](std::optional<QByteArray> body) { onArchive(std::move(body), info); });
}

void Updater::onArchive(std::optional<QByteArray> body, const UpdateInfo& info) {
    if (!body) {
        setBusy(false);
        setMessage(QStringLiteral("No se pudo descargar"));
        return;
    }
    observe(InstallStep::downloaded);
    PrepareJob job{std::move(*body), info, m_running, m_options.unpackLimits, m_options.observe};
    body.reset();
    auto* watcher = new QFutureWatcher<Prepared>(this);
    // finished() reaches this thread through the event loop: the result hops back queued.
    connect(watcher, &QFutureWatcher<Prepared>::finished, this, [this, watcher, info] {
        watcher->deleteLater();
        onPrepared(watcher->result(), info);
    });
    watcher->setFuture(QtConcurrent::run([job = std::move(job)] {
        Prepared prepared = prepare(job);
        crypto::releaseThreadState();
        if (!prepared.fail) {
            fileops::flush(prepared.workDir->fd());
            if (job.observe)
                job.observe(InstallStep::flushed);
        }
        return prepared;
    }));
}

void Updater::onPrepared(const Prepared& prepared, const UpdateInfo& info) {
    if (prepared.fail) {
        setBusy(false);
        setMessage(prepared.fail->text);
        return;
    }
    setMessage(QStringLiteral("Instalando…"));
    if (const auto error = fileops::exchange(prepared.newBundle, m_running.path)) {
        prepared.workDir->remove();
        setBusy(false);
        setMessage(replaceFailure(*error));
        return;
    }
    observe(InstallStep::swapped);
    // The old bundle now sits in the working directory; removing it can only fail to finish,
    // and the next start's recovery removes whatever stays.
    prepared.workDir->remove([this] { observe(InstallStep::removingOld); });
    observe(InstallStep::cleanedUp);

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
