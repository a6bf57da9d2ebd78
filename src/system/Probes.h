#pragma once

#include "Ports.h"

#include <QElapsedTimer>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace morvane {

// Every probe reads its files under `root` ("/" on a real machine, a fixture tree in tests).

// Power from /sys/class/power_supply: on battery when no Mains/USB supply is online and a system
// battery (scope not Device) discharges; percent from energy_* or charge_* (now × 100 ÷ full,
// integer), else capacity. Cached for a few seconds.
class SysfsPowerProbe final : public PowerProbe {
public:
    explicit SysfsPowerProbe(QString root = QStringLiteral("/"));
    PowerState power() override;
    PowerState read() const; // uncached

private:
    QString m_root;
    QElapsedTimer m_age;
    PowerState m_cached;
};

// A removable (or USB) block device mounted read-write, not a system disk, from
// /proc/self/mountinfo and /sys/dev/block.
class MountDiskProbe final : public DiskProbe {
public:
    explicit MountDiskProbe(QString root = QStringLiteral("/"));
    bool removableWritableDiskMounted() override;

private:
    QString m_root;
};

// Whole-machine load from the first line of /proc/stat.
class ProcStatCpuMeter final : public CpuMeter {
public:
    // user, system, idle, nice: cumulative ticks, wrapping at 2^32.
    using Reading = std::array<std::uint32_t, 4>;

    explicit ProcStatCpuMeter(QString root = QStringLiteral("/"));
    std::optional<double> sample() override;

    // The load between two readings with wrap-around subtraction; nothing when no tick passed.
    static std::optional<double> load(const Reading& previous, const Reading& current);

private:
    std::optional<Reading> read() const;
    QString m_root;
    std::optional<Reading> m_prev;
    int m_fd = -1;
};

// The default sink's state over one kept PulseAudio connection (works on PipeWire too).
class PulseAudioProbe final : public AudioProbe {
public:
    PulseAudioProbe();
    ~PulseAudioProbe() override;
    bool audioPlaying() override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Running applications from the X client list and the user's processes; the frontmost one from
// _NET_ACTIVE_WINDOW, followed through property-change events. Display names come from desktop
// entries (StartupWMClass or file name), else WM_CLASS, else the process name.
class X11AppsProbe final : public AppsProbe {
public:
    explicit X11AppsProbe(QString root = QStringLiteral("/"));
    ~X11AppsProbe() override;
    std::optional<QString> runningApp(const QString& list) override;
    std::optional<QString> frontmostAppName() override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace morvane
