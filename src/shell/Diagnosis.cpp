#include "Diagnosis.h"

#include "Cli.h"
#include "ControlClient.h"
#include "Engine.h"
#include "LinuxPorts.h"
#include "LoginItem.h"
#include "QSettingsDefaultsStore.h"
#include "QtPorts.h"
#include "SessionSleepGuard.h"
#include "SettingsStore.h"
#include "StatusController.h"
#include "StatusNotifierItem.h"
#include "Updater.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSystemTrayIcon>

#include <algorithm>
#include <cstdio>

namespace morvane {

namespace {

using Mark = DiagnosisLine::Mark;

DiagnosisLine line(Mark mark, const QString& text, const QStringList& details = {}) {
    return DiagnosisLine{mark, text, details};
}

QString orEmpty(const QString& value) {
    return value.isEmpty() ? QStringLiteral("(vacía)") : value;
}

QString seconds(const std::optional<double>& value) {
    return value ? QString::number(*value, 'f', 1) + QStringLiteral(" s") : QStringLiteral("—");
}

QString stateName(InhibitionState state) {
    switch (state) {
    case InhibitionState::off:
        return QStringLiteral("no pedida");
    case InhibitionState::asking:
        return QStringLiteral("pedida, sin respuesta todavía");
    case InhibitionState::held:
        return QStringLiteral("aceptada");
    case InhibitionState::refused:
        return QStringLiteral("rechazada");
    case InhibitionState::absent:
        break;
    }
    return QStringLiteral("el servicio no está");
}

DiagnosisLine sessionLine(const LinuxPorts& ports) {
    const SessionEnvironment& env = ports.environment();
    QStringList onBus;
    if (env.mutterOnBus)
        onBus << QStringLiteral("Mutter");
    if (env.kwinOnBus)
        onBus << QStringLiteral("KWin");
    if (!env.swaySocket.isEmpty())
        onBus << QStringLiteral("sway (SWAYSOCK)");
    return line(Mark::note, QStringLiteral("Sesión: ") + sessionKindName(ports.sessionKind()),
                {QStringLiteral("XDG_SESSION_TYPE=%1, XDG_CURRENT_DESKTOP=%2, DISPLAY=%3, WAYLAND_DISPLAY=%4")
                     .arg(orEmpty(env.sessionType), orEmpty(env.currentDesktop), orEmpty(env.display),
                          orEmpty(env.waylandDisplay)),
                 QStringLiteral("compositor: ") + (onBus.isEmpty() ? QStringLiteral("ninguno reconocido")
                                                                   : onBus.join(QStringLiteral(", ")))});
}

DiagnosisLine adaptersLine(const LinuxPorts& ports) {
    const LinuxPorts::Choices c = ports.choices();
    return line(Mark::note, QStringLiteral("Adaptadores"),
                {QStringLiteral("inactividad: ") + c.idle, QStringLiteral("movimientos: ") + c.jiggler,
                 QStringLiteral("permiso de entrada: ") + c.trust, QStringLiteral("apps: ") + c.apps,
                 QStringLiteral("ícono junto al puntero: ") + c.overlay,
                 QStringLiteral("atajo: ") + c.hotKeys});
}

DiagnosisLine trayLine(const DiagnosisSources& s) {
    const QString watcher = StatusNotifierItem::watcherProgram(s.bus);
    const QString owner = watcher.isEmpty() ? QString() : QStringLiteral(" (vigilante: %1)").arg(watcher);
    if (s.status) {
        switch (s.status->host()) {
        case StatusController::Host::statusNotifier:
            return line(Mark::note, QStringLiteral("Bandeja: StatusNotifierItem") + owner);
        case StatusController::Host::xembed:
            return line(Mark::note, QStringLiteral("Bandeja: ícono XEmbed"));
        case StatusController::Host::gnomeShell:
            return line(Mark::note,
                        QStringLiteral("Bandeja: la extensión de Morvane en la barra superior de GNOME"));
        case StatusController::Host::none:
            break;
        }
        return line(Mark::note, QStringLiteral("Bandeja: ninguna; Morvane sigue funcionando sin ícono"));
    }
    if (!watcher.isEmpty())
        return line(Mark::note, QStringLiteral("Bandeja: StatusNotifierItem") + owner);
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) && QSystemTrayIcon::isSystemTrayAvailable())
        return line(Mark::note, QStringLiteral("Bandeja: ícono XEmbed"));
    return line(Mark::note, QStringLiteral("Bandeja: ninguna; Morvane funcionaría sin ícono"));
}

DiagnosisLine autostartLine() {
    const LoginItem item;
    return line(Mark::note,
                QStringLiteral("Inicio con la sesión: ") +
                    (item.isEnabled() ? QStringLiteral("activado") : QStringLiteral("desactivado")),
                {item.entryPath()});
}

DiagnosisLine updatesLine(const DiagnosisSources& s) {
    const QString automatic = s.store.p().autoCheckUpdates
                                  ? QStringLiteral("comprobación automática activada")
                                  : QStringLiteral("comprobación automática desactivada");
    if (!s.updater)
        return line(Mark::note, QStringLiteral("Actualizaciones: ") + automatic);
    QStringList details;
    if (const auto& available = s.updater->available())
        details << QStringLiteral("disponible: ") + available->version;
    if (s.updater->busy())
        details << QStringLiteral("instalando");
    if (!s.updater->message().isEmpty())
        details << s.updater->message();
    return line(Mark::note, QStringLiteral("Actualizaciones: ") + automatic, details);
}

} // namespace

bool DiagnosisReport::ok() const {
    return std::none_of(lines.cbegin(), lines.cend(),
                        [](const DiagnosisLine& l) { return l.mark == Mark::problem; });
}

QString DiagnosisReport::text() const {
    QString out = heading + QLatin1Char('\n');
    int problems = 0;
    for (const DiagnosisLine& l : lines) {
        const QString mark = l.mark == Mark::ok        ? QStringLiteral("✓")
                             : l.mark == Mark::problem ? cli::kProblemMark
                                                       : QStringLiteral("·");
        problems += l.mark == Mark::problem ? 1 : 0;
        out += mark + QLatin1Char(' ') + l.text + QLatin1Char('\n');
        for (const QString& detail : l.details)
            out += QStringLiteral("    ") + detail + QLatin1Char('\n');
    }
    out += problems == 0 ? QStringLiteral("Resultado: todo lo que se pudo comprobar funciona\n")
                         : QStringLiteral("Resultado: %1 %2\n")
                               .arg(problems)
                               .arg(problems == 1 ? QStringLiteral("problema") : QStringLiteral("problemas"));
    return out;
}

namespace diagnosis {

DiagnosisLine idleSource(bool available, const QString& adapter) {
    if (available)
        return line(Mark::ok, QStringLiteral("Inactividad de la sesión: se puede leer (%1)").arg(adapter));
    return line(Mark::problem, QStringLiteral("Inactividad de la sesión: no se puede leer (%1); no se puede "
                                              "comprobar si la sesión registra los movimientos")
                                   .arg(adapter));
}

DiagnosisLine idleWatch(bool canWatch, const QString& adapter) {
    if (canWatch)
        return line(Mark::ok, QStringLiteral("Cambios de actividad: los avisa la sesión (%1); activado y sin "
                                             "ventanas abiertas, Morvane solo despierta cuando algo cambia")
                                  .arg(adapter));
    return line(Mark::note, QStringLiteral("Cambios de actividad: la sesión no los avisa (%1); activado, "
                                           "Morvane lee la inactividad cada segundo")
                                .arg(adapter));
}

DiagnosisLine inputPermission(bool trusted, JiggleMode mode, const QString& adapter) {
    if (trusted)
        return line(Mark::ok, QStringLiteral("Permiso para mover el puntero: concedido (%1)").arg(adapter));
    if (mode == JiggleMode::zen)
        return line(
            Mark::note,
            QStringLiteral("Permiso para mover el puntero: no concedido (%1); el modo zen no lo necesita")
                .arg(adapter));
    return line(Mark::problem,
                QStringLiteral("Permiso para mover el puntero: no concedido (%1)").arg(adapter));
}

DiagnosisLine movements(const ActivityCheck& check, bool running, const Instant& now, const QTimeZone& zone) {
    if (!running)
        return line(Mark::note, QStringLiteral("Movimientos: ninguno (Morvane no está en marcha)"));
    QStringList details;
    for (const Readback& r : check.recent()) {
        QString detail = r.movedAt.toTimeZone(zone).toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') +
                         actionName(r.action) + QStringLiteral(": ") + outcomeName(r.outcome) +
                         QStringLiteral(" (inactividad antes ") + seconds(r.idleBefore);
        if (r.readAt)
            detail +=
                QStringLiteral(", %1 después").arg(seconds(instant::secondsBetween(r.movedAt, *r.readAt))) +
                QStringLiteral(": ") + seconds(r.idleAfter);
        details << detail + QLatin1Char(')');
    }
    const Mark mark = check.verdict() == Verdict::verified     ? Mark::ok
                      : check.verdict() == Verdict::unverified ? Mark::problem
                                                               : Mark::note;
    return line(mark,
                QStringLiteral("Movimientos (%1): ").arg(verdictName(check.verdict())) + check.line(now),
                details);
}

DiagnosisLine inhibitions(bool wanted, const std::vector<InhibitionStatus>& services) {
    if (!wanted)
        return line(Mark::note, QStringLiteral("Pantalla encendida: no se pide ahora (Morvane apagado o "
                                               "«Mantener la pantalla encendida» desactivado)"));
    QStringList details;
    bool held = false;
    bool denied = false;
    for (const InhibitionStatus& s : services) {
        QString detail = s.service + QStringLiteral(": ") + stateName(s.state);
        if (s.confirmed)
            detail += *s.confirmed ? QStringLiteral("; confirma que la sesión cuenta como inhibida")
                                   : QStringLiteral("; dice que la sesión NO cuenta como inhibida");
        held = held || s.state == InhibitionState::held;
        denied = denied || s.confirmed == false;
        details << detail;
    }
    if (!held)
        return line(Mark::problem, QStringLiteral("Pantalla encendida: ningún servicio aceptó la inhibición"),
                    details);
    if (denied)
        return line(Mark::problem,
                    QStringLiteral("Pantalla encendida: aceptada, pero la sesión no la cuenta"), details);
    return line(Mark::ok, QStringLiteral("Pantalla encendida: inhibición aceptada"), details);
}

DiagnosisLine settingsFile(const QString& path) {
    const QFileInfo file(path);
    if (!file.exists())
        return line(Mark::note,
                    QStringLiteral("Ajustes: todavía no hay archivo (se crea con el primer cambio)"), {path});
    if (file.isFile() && file.isReadable() && file.isWritable())
        return line(Mark::ok, QStringLiteral("Ajustes: el archivo se puede leer y escribir"), {path});
    return line(Mark::problem,
                QStringLiteral("Ajustes: el archivo no es un archivo común que se pueda leer y escribir"),
                {path});
}

} // namespace diagnosis

void gatherDiagnosis(const DiagnosisSources& sources, std::function<void(const DiagnosisReport&)> done) {
    SessionSleepGuard& guard = sources.ports.sleepGuard();
    guard.confirm([sources, done, &guard] {
        const Prefs& p = sources.store.p();
        EnginePorts ports = sources.ports.ports();
        const LinuxPorts::Choices choices = sources.ports.choices();
        const bool running = sources.engine != nullptr;
        const std::vector<InhibitionStatus> services = guard.inhibitions();
        const bool wanted = std::any_of(services.cbegin(), services.cend(), [](const InhibitionStatus& s) {
            return s.state != InhibitionState::off;
        });
        const QString version = sources.updater ? sources.updater->currentVersion()
                                                : cli::versionLine().section(QLatin1Char(' '), 1);
        DiagnosisReport report;
        report.heading =
            QStringLiteral("Morvane %1: %2")
                .arg(version, running ? QStringLiteral("en marcha, ") + (sources.engine->enabled()
                                                                             ? QStringLiteral("activado")
                                                                             : QStringLiteral("desactivado"))
                                      : QStringLiteral("no está en marcha (informe de una prueba de "
                                                       "la sesión)"));
        static const ActivityCheck nothing;
        report.lines = {sessionLine(sources.ports),
                        adaptersLine(sources.ports),
                        diagnosis::idleSource(ports.idle.available(), choices.idle),
                        diagnosis::idleWatch(ports.idle.canWatch(), choices.idle),
                        diagnosis::inputPermission(ports.trust.trusted(), p.mode, choices.trust),
                        diagnosis::movements(running ? sources.engine->activityCheck() : nothing, running,
                                             sources.clock.now(), sources.clock.timeZone()),
                        diagnosis::inhibitions(wanted, services),
                        trayLine(sources),
                        autostartLine(),
                        diagnosis::settingsFile(QSettingsDefaultsStore::defaultPath()),
                        updatesLine(sources)};
        done(report);
    });
}

int runDiagnosis() {
    SettingsStore& store = SettingsStore::shared();
    LinuxPorts::Options options;
    options.useOverlay = false;
    LinuxPorts ports(store, SettingsStore::sharedDefaults(), options);
    SystemClock clock;
    // Mutter's idle monitor and remote desktop answer over the bus shortly after the adapters
    // ask; a trial inhibition, when the setting asks for one, gets its answers meanwhile.
    EnginePorts engine = ports.ports();
    const bool trial = store.p().preventDisplaySleep;
    ports.sleepGuard().set(trial);
    const auto settled = [&] {
        const auto services = ports.sleepGuard().inhibitions();
        return engine.idle.available() && engine.trust.trusted() &&
               std::none_of(services.cbegin(), services.cend(),
                            [](const InhibitionStatus& s) { return s.state == InhibitionState::asking; });
    };
    const QDeadlineTimer deadline(1000);
    while (!settled() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);

    std::optional<DiagnosisReport> report;
    gatherDiagnosis({ports, store, clock, QDBusConnection::sessionBus()},
                    [&](const DiagnosisReport& r) { report = r; });
    // Every question in there has a timeout of its own; this one only guards against a bug.
    const QDeadlineTimer answered(10000);
    while (!report && !answered.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    ports.sleepGuard().set(false);
    if (!report) {
        std::fputs("morvane: el diagnóstico no terminó\n", stderr);
        return cli::kExitFailed;
    }
    std::fputs(report->text().toLocal8Bit().constData(), stdout);
    return report->ok() ? cli::kExitOk : cli::kExitProblems;
}

} // namespace morvane
