#pragma once

#include "WorkerProtocol.h"

#include <QObject>
#include <QStringList>

#include <functional>

class QProcess;
class QTimer;

namespace morvane {

// One run of the updater's worker process, seen from the application: it sends the request,
// delivers each event on this thread and, once the handler has returned, lets a waiting worker
// go on. A worker that cannot start, dies, or says something unreadable (it is then killed) ends
// without its final event; nothing it said after the refused line counts. So does one still running
// past its deadline (killed too). Deleting this object kills a worker still running.
class WorkerProcess final : public QObject {
    Q_OBJECT
public:
    // `command`: the program and its arguments.
    WorkerProcess(QStringList command, QObject* parent = nullptr);
    ~WorkerProcess() override;

    // Called for each event, in order.
    std::function<void(const WorkerEvent&)> onEvent;
    // Called once, after the last event: whether an event that ends the run (WorkerEvent::ends)
    // came. Not called when this object is deleted first.
    std::function<void(bool ended)> onFinished;

    void start(const WorkerRequest& request);
    // From now, how long the worker may go on until its next event; each call replaces the last.
    // Past it the worker is killed, and the run ends once it is gone, or a few seconds later
    // should it not die (a process in the middle of syncfs on a slow disk dies only after it).
    void setDeadline(qint64 ms);

private:
    void readEvents();
    // Kills the worker and ignores whatever it said or still says.
    void refuse();
    void expire();
    void finish();

    QStringList m_command;
    QProcess* m_process = nullptr;
    QTimer* m_deadline = nullptr;
    bool m_ended = false;
    bool m_refused = false;
    bool m_finished = false;
};

} // namespace morvane
