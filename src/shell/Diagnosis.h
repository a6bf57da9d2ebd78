#pragma once

#include "ActivityCheck.h"
#include "InhibitionState.h"
#include "Prefs.h"

#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include <functional>
#include <vector>

namespace morvane {

class Clock;
class Engine;
class LinuxPorts;
class SettingsStore;
class StatusController;
class Updater;

// One finding of the diagnosis: a check that passed, one that failed, or a plain note.
struct DiagnosisLine {
    enum class Mark { ok, problem, note };
    Mark mark = Mark::note;
    QString text;
    QStringList details; // indented lines below it
    bool operator==(const DiagnosisLine&) const = default;
};

// The plain-text report `morvane --diagnose` prints and "Ver diagnóstico" shows, meant to be
// pasted into a bug report.
struct DiagnosisReport {
    QString heading;
    QList<DiagnosisLine> lines;
    // No check failed.
    bool ok() const;
    QString text() const;
};

// The individual findings, from values alone.
namespace diagnosis {
DiagnosisLine idleSource(bool available, const QString& adapter);
// Whether the idle source tells of the user's activity edges, or Morvane, on, reads it every second.
DiagnosisLine idleWatch(bool canWatch, const QString& adapter);
DiagnosisLine inputPermission(bool trusted, JiggleMode mode, const QString& adapter);
// `running` false: no engine has moved in this process.
DiagnosisLine movements(const ActivityCheck& check, bool running, const Instant& now, const QTimeZone& zone);
// `wanted`: the inhibition is asked for now ("Mantener la pantalla encendida" with Morvane on, or
// the probe's own trial).
DiagnosisLine inhibitions(bool wanted, const std::vector<InhibitionStatus>& services);
DiagnosisLine settingsFile(const QString& path);
} // namespace diagnosis

// What the report is gathered from. Without an engine the report describes a probe of the
// session by a process of its own (Morvane is not running).
struct DiagnosisSources {
    LinuxPorts& ports;
    SettingsStore& store;
    const Clock& clock;
    QDBusConnection bus;
    const Engine* engine = nullptr;
    const StatusController* status = nullptr;
    const Updater* updater = nullptr;
};

// Gathers the report and hands it to `done` on this thread, once the inhibiting services have
// said whether the inhibition counts (at most about a second later).
void gatherDiagnosis(const DiagnosisSources& sources, std::function<void(const DiagnosisReport&)> done);

// `morvane --diagnose` with no Morvane running: probes this session (adapters, idle source,
// input permission, tray host, a trial inhibition), prints the report and answers the exit code.
// Needs a QCoreApplication (a QApplication to see an XEmbed tray).
int runDiagnosis();

} // namespace morvane
