#pragma once

#include "Ports.h"

#include <QElapsedTimer>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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

// A removable (or USB) block device mounted read-write, from /proc/self/mountinfo and
// /sys/dev/block. Mounts at /, /boot, /boot/efi, /efi, /usr, /var and /home are the system's own
// and never count, wherever they live; loop, RAM and network block devices and anonymous-device
// mounts (network, FUSE, tmpfs; btrfs excepted) are skipped. Uncached: the engine rate-limits it.
class MountDiskProbe final : public DiskProbe {
public:
    explicit MountDiskProbe(QString root = QStringLiteral("/"));
    bool removableWritableDiskMounted() override;

private:
    bool readMountInfo();
    std::string m_root;
    std::string m_buffer;
};

// Whole-machine load from the first line of /proc/stat.
class ProcStatCpuMeter final : public CpuMeter {
public:
    // user, system, idle, nice: cumulative ticks, wrapping at 2^32.
    using Reading = std::array<std::uint32_t, 4>;

    explicit ProcStatCpuMeter(QString root = QStringLiteral("/"));
    ~ProcStatCpuMeter() override;
    ProcStatCpuMeter(const ProcStatCpuMeter&) = delete;
    ProcStatCpuMeter& operator=(const ProcStatCpuMeter&) = delete;
    std::optional<double> sample() override;

    // The load between two readings with wrap-around subtraction; nothing when no tick passed.
    static std::optional<double> load(const Reading& previous, const Reading& current);

private:
    std::optional<Reading> read();
    std::string m_path;
    std::optional<Reading> m_prev;
    int m_fd = -1; // kept open between samples; opened again after a failed read
};

// The default sink's state over one kept PulseAudio connection (works on PipeWire too).
// audioPlaying() answers from state that the connection's own thread keeps current, so it never
// waits for the server. A lost server is looked for again at most once per `retryInterval`, and
// only when asked. While inactive there is no connection and no thread, and it answers false.
class PulseAudioProbe final : public AudioProbe {
public:
    explicit PulseAudioProbe(std::chrono::milliseconds retryInterval = std::chrono::seconds(3),
                             bool active = true);
    ~PulseAudioProbe() override;
    bool audioPlaying() override;
    // Connects (in the background) or disconnects and ends the connection's thread.
    void setActive(bool active);
    // Whether the connection is up and the default sink's state is known (for tests and logs).
    bool ready() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Running applications from the X client list and the user's processes; the frontmost one from
// _NET_ACTIVE_WINDOW, followed through property-change events, so that an unchanged desktop costs
// no X round trip. Display names come from desktop entries (StartupWMClass or file name), else
// WM_CLASS, else the process name. The process list is cached for a few seconds.
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
