#include "WorkerProcess.h"

#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <climits>

namespace morvane {

namespace {
// Far beyond the longest event (a feed of the largest accepted size, in Base64).
constexpr qint64 kMaxLineBytes = 4 << 20;
// How long a killed worker may take to be gone before the run ends without it.
constexpr int kDyingMs = 5000;
} // namespace

WorkerProcess::WorkerProcess(QStringList command, QObject* parent)
    : QObject(parent)
    , m_command(std::move(command))
    , m_process(new QProcess)
    , m_deadline(new QTimer(this)) {
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &WorkerProcess::expire);
}

WorkerProcess::~WorkerProcess() {
    // It must not report back to us any more.
    m_process->disconnect(this);
    m_process->kill();
    // QProcess's own destructor would wait up to 30 s on this thread for a worker stuck in the
    // kernel (syncfs on a slow disk, say) to die. One already given its time to die, or still not
    // gone after a moment, is reaped once it has gone instead.
    if (m_process->state() != QProcess::NotRunning && (m_refused || !m_process->waitForFinished(1000))) {
        connect(m_process, &QProcess::finished, m_process, &QObject::deleteLater);
        return;
    }
    delete m_process;
}

void WorkerProcess::start(const WorkerRequest& request) {
    // The worker's diagnostics go where the application's go.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &WorkerProcess::readEvents);
    connect(m_process, &QProcess::finished, this, &WorkerProcess::finish);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish();
    });
    if (m_command.isEmpty()) {
        finish();
        return;
    }
    m_process->start(m_command.first(), m_command.mid(1));
    if (m_process->state() != QProcess::NotRunning)
        m_process->write(request.toLine());
}

void WorkerProcess::setDeadline(qint64 ms) {
    if (!m_refused && !m_finished)
        m_deadline->start(int(std::clamp<qint64>(ms, 0, INT_MAX)));
}

void WorkerProcess::readEvents() {
    while (!m_finished && !m_refused && m_process->canReadLine()) {
        const QByteArray line = m_process->readLine(kMaxLineBytes);
        const auto event = WorkerEvent::fromLine(line);
        if (!event || m_ended) {
            // Nothing after the end, and nothing unreadable: such a worker is not ours to follow.
            refuse();
            return;
        }
        m_ended = event->ends();
        if (onEvent)
            onEvent(*event);
        if (event->waitsForGo() && m_process->state() == QProcess::Running)
            m_process->write("\n");
    }
    if (!m_refused && !m_process->canReadLine() && m_process->bytesAvailable() > kMaxLineBytes)
        refuse();
}

void WorkerProcess::refuse() {
    // What is already buffered behind the refused line (an "installed", say) must not be read
    // when the exit is reported.
    m_refused = true;
    m_process->kill();
    m_deadline->start(kDyingMs);
}

void WorkerProcess::expire() {
    if (m_refused)
        finish(); // killed, and still not gone
    else
        refuse();
}

void WorkerProcess::finish() {
    if (m_finished)
        return;
    readEvents();
    m_finished = true;
    m_deadline->stop();
    if (onFinished)
        onFinished(m_ended);
}

} // namespace morvane
