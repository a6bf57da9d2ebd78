#include "ControlClient.h"

#include "Bundle.h"
#include "ControlContract.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QThread>

#include <cstdio>

namespace morvane::cli {

namespace {

// Long enough for an instance busy building its settings window; a hung one still gets noticed.
constexpr int kReplyTimeoutMs = 10000;
// How long --quit waits for the instance to leave the bus.
constexpr int kQuitTimeoutMs = 5000;

struct Call {
    QString method;
    QVariantList arguments;
};

Call callFor(const Request& request) {
    switch (request.action) {
    case Action::on:
        return {QStringLiteral("SwitchOn"), {}};
    case Action::off:
        return {QStringLiteral("SwitchOff"), {}};
    case Action::toggle:
        return {QStringLiteral("Toggle"), {}};
    case Action::activateFor:
        return {QStringLiteral("ActivateFor"), {QVariant::fromValue(qlonglong(request.seconds))}};
    case Action::activateUntil:
        return {QStringLiteral("ActivateUntil"),
                {QStringLiteral("%1:%2")
                     .arg(request.minuteOfDay / 60, 2, 10, QLatin1Char('0'))
                     .arg(request.minuteOfDay % 60, 2, 10, QLatin1Char('0'))}};
    case Action::pause:
        return {QStringLiteral("Pause"), {QVariant::fromValue(qlonglong(request.seconds))}};
    case Action::cancel:
        return {QStringLiteral("CancelTimers"), {}};
    case Action::status:
        return {QStringLiteral("StatusLines"), {}};
    case Action::diagnose:
        return {QStringLiteral("Diagnose"), {}};
    case Action::preferences:
        return {QStringLiteral("OpenSettings"), {request.tab}};
    case Action::quit:
        return {QStringLiteral("Quit"), {}};
    case Action::runApp:
    case Action::help:
    case Action::version:
        break;
    }
    Q_UNREACHABLE();
}

void printLine(std::FILE* stream, const QString& line) {
    std::fputs(line.toLocal8Bit().append('\n').constData(), stream);
}

void fail(const QString& why) {
    printLine(stderr, QStringLiteral("morvane: ") + why);
}

bool nameOwned(const QDBusConnection& bus) {
    return bus.interface()->isServiceRegistered(contract::kName).value();
}

// The instance answers Quit before it leaves its event loop; a script that starts Morvane again
// right after --quit must find the name free.
bool waitUntilGone(const QDBusConnection& bus) {
    const QDeadlineTimer deadline(kQuitTimeoutMs);
    while (nameOwned(bus)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

} // namespace

int runCommand(const Request& request) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (request.action != Action::diagnose)
            fail(QStringLiteral("no hay bus de sesión de D-Bus, así que Morvane no está en marcha"));
        return kExitNotRunning;
    }
    const Call call = callFor(request);
    QDBusMessage message =
        QDBusMessage::createMethodCall(contract::kName, contract::kPath, contract::kInterface, call.method);
    message.setArguments(call.arguments);
    message.setAutoStartService(false);
    const QDBusMessage reply = bus.call(message, QDBus::Block, kReplyTimeoutMs);

    if (reply.type() != QDBusMessage::ReplyMessage) {
        const QDBusError error(reply);
        if (error.type() == QDBusError::ServiceUnknown ||
            error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
            // The diagnosis then probes the session itself, and says that Morvane is not running.
            if (request.action != Action::diagnose)
                fail(QStringLiteral("Morvane no está en marcha"));
            return kExitNotRunning;
        }
        if (request.action == Action::quit && waitUntilGone(bus))
            return kExitOk; // it left before its answer went out
        fail(error.type() == QDBusError::NoReply ? QStringLiteral("Morvane no respondió") : error.message());
        return error.type() == QDBusError::InvalidArgs ? kExitUsage : kExitFailed;
    }

    if (request.action == Action::status) {
        const QStringList lines = reply.arguments().value(0).toStringList();
        for (const QString& line : lines)
            printLine(stdout, line);
    }
    if (request.action == Action::diagnose) {
        const QString report = reply.arguments().value(0).toString();
        std::fputs(report.toLocal8Bit().constData(), stdout);
        const bool problems = report.startsWith(kProblemMark + QLatin1Char(' ')) ||
                              report.contains(QLatin1Char('\n') + kProblemMark + QLatin1Char(' '));
        return problems ? kExitProblems : kExitOk;
    }
    if (request.action == Action::quit && !waitUntilGone(bus)) {
        fail(QStringLiteral("Morvane aceptó salir pero sigue en marcha"));
        return kExitFailed;
    }
    return kExitOk;
}

QString versionLine() {
    // Straight from Info.json, as the updater reads it: the installer's code would bring its
    // archive and crypto libraries into every command.
    const auto info = BundleInfo::read(bundle::locateRunning());
    return QStringLiteral("Morvane ") + (info && info->version ? *info->version : RunningBundle().version);
}

} // namespace morvane::cli
