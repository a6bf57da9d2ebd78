#include "UpdateWorker.h"

#include "Crypto.h"
#include "Fetch.h"
#include "FileOps.h"
#include "Installer.h"
#include "WorkerProtocol.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QSocketNotifier>
#include <QSslCertificate>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>

namespace morvane {

namespace {

// The application closed our input, or stopped reading our output: it is gone, or gave up on us.
[[noreturn]] void applicationGone() {
    ::_exit(3);
}

// One line of standard input without its newline; nothing at its end. Read byte by byte so that
// nothing beyond the line is taken from the descriptor the download phase watches.
std::optional<QByteArray> readLine() {
    QByteArray line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        if (c == '\n')
            return line;
        line.append(c);
    }
}

void send(const WorkerEvent& event) {
    const QByteArray line = event.toLine();
    qsizetype written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, line.constData() + written, size_t(line.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            applicationGone();
        written += n;
    }
    // The application answers these with an empty line once it has taken note; until then the
    // installation does not move.
    if (event.waitsForGo() && !readLine())
        applicationGone();
}

void step(InstallStep s) {
    WorkerEvent e;
    e.kind = WorkerEvent::Kind::step;
    e.step = s;
    send(e);
}

void fail(const QString& text) {
    WorkerEvent e;
    e.kind = WorkerEvent::Kind::failed;
    e.text = text;
    send(e);
}

std::optional<QByteArray> download(const WorkerRequest& request) {
    FetchPolicy policy;
    if (!request.caCertificates.isEmpty())
        policy.tls.setCaCertificates(QSslCertificate::fromData(request.caCertificates, QSsl::Pem));
    policy.timeoutMs = request.timeoutMs;
    policy.maxBytes = request.maxBytes;
    // The application sizes the download's deadline by the archive.
    if (request.kind == WorkerRequest::Kind::install) {
        policy.announced = [](qint64 bytes) {
            WorkerEvent e;
            e.kind = WorkerEvent::Kind::size;
            e.size = bytes;
            send(e);
        };
    }

    QNetworkAccessManager network;
    QEventLoop loop;
    std::optional<QByteArray> result;
    bool done = false;
    fetch(network, request.url, policy, &loop, [&](std::optional<QByteArray> body) {
        result = std::move(body);
        done = true;
        loop.quit();
    });
    // The application writes nothing while we download: readable input means it has gone.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [] { applicationGone(); });
    if (!done)
        loop.exec();
    return result;
}

void install(const WorkerRequest& request) {
    std::optional<QByteArray> archive = download(request);
    if (!archive) {
        fail(QStringLiteral("No se pudo descargar"));
        return;
    }
    step(InstallStep::downloaded);
    const Prepared prepared = prepare(PrepareJob{std::move(*archive), request.info, request.running,
                                                 request.limits, [](InstallStep s) { step(s); }});
    archive.reset();
    if (prepared.fail) {
        fail(prepared.fail->text);
        return;
    }
    fileops::flush(prepared.workDir->fd());
    step(InstallStep::flushed);

    WorkerEvent installing;
    installing.kind = WorkerEvent::Kind::installing;
    send(installing);
    if (const auto error = fileops::exchange(prepared.newBundle, request.running.path)) {
        prepared.workDir->remove();
        fail(replaceFailure(*error).text);
        return;
    }
    step(InstallStep::swapped);
    // The old bundle now sits in the working directory; removing it can only fail to finish,
    // and the next start's recovery removes whatever stays.
    prepared.workDir->remove([] { step(InstallStep::removingOld); });
    step(InstallStep::cleanedUp);
    WorkerEvent done;
    done.kind = WorkerEvent::Kind::installed;
    send(done);
}

} // namespace

int runUpdateWorker(int argc, char** argv) {
    // Also when the application is killed outright while we download or unpack.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // A write to an application that went away fails instead of killing us mid-step.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const auto line = readLine();
    const auto request = line ? WorkerRequest::fromLine(*line) : std::nullopt;
    if (!request) {
        std::fputs("morvane: --update-worker espera su pedido en la entrada estándar\n", stderr);
        return 2;
    }
    if (request->kind == WorkerRequest::Kind::check) {
        WorkerEvent e;
        e.kind = WorkerEvent::Kind::feed;
        e.feed = download(*request);
        send(e);
    } else {
        install(*request);
    }
    crypto::releaseThreadState();
    return 0;
}

} // namespace morvane
