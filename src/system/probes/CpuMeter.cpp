#include "KernelFiles.h"
#include "Probes.h"

namespace morvane {

namespace {

// The aggregate line is "cpu" and at most ten counters of at most twenty digits each.
constexpr std::size_t kFirstLineMax = 512;

// The counters of /proc/stat's aggregate line, in the kernel's order. Kernels before 2.6.11 stop
// after softirq; guest time is already counted in user and nice.
enum Field { User, Nice, System, Idle, IoWait, Irq, SoftIrq, Steal, FieldCount };

std::optional<ProcStatCpuMeter::Reading> parseFirstLine(std::string_view text) {
    text = text.substr(0, text.find('\n'));
    if (!text.starts_with("cpu ") && !text.starts_with("cpu\t"))
        return std::nullopt;
    text.remove_prefix(3);
    std::array<std::uint64_t, FieldCount> ticks{};
    int count = 0;
    while (count < FieldCount) {
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
            text.remove_prefix(1);
        if (text.empty())
            break;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ticks[count]);
        if (ec != std::errc() || (end != text.data() + text.size() && *end != ' ' && *end != '\t'))
            return std::nullopt;
        text.remove_prefix(std::size_t(end - text.data()));
        ++count;
    }
    if (count <= Idle)
        return std::nullopt;
    // Time spent serving interrupts and time stolen by a hypervisor is time the machine was not
    // idle; waiting for I/O is.
    const std::uint64_t system = ticks[System] + ticks[Irq] + ticks[SoftIrq] + ticks[Steal];
    const std::uint64_t idle = ticks[Idle] + ticks[IoWait];
    // Truncation keeps the low 32 bits, so the wrapping subtraction in load() still gives the
    // difference of the full 64-bit counters as long as less than 2^32 ticks pass between samples.
    return ProcStatCpuMeter::Reading{std::uint32_t(ticks[User]), std::uint32_t(system), std::uint32_t(idle),
                                     std::uint32_t(ticks[Nice])};
}

} // namespace

ProcStatCpuMeter::ProcStatCpuMeter(QString root)
    : m_path(kernelfiles::rootPath(root) + "/proc/stat") {}

ProcStatCpuMeter::~ProcStatCpuMeter() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<double> ProcStatCpuMeter::sample() {
    const std::optional<Reading> current = read();
    if (!current)
        return std::nullopt;
    const std::optional<Reading> previous = std::exchange(m_prev, current);
    if (!previous)
        return std::nullopt;
    return load(*previous, *current);
}

std::optional<double> ProcStatCpuMeter::load(const Reading& previous, const Reading& current) {
    std::array<double, 4> delta;
    for (std::size_t i = 0; i < delta.size(); ++i)
        delta[i] = double(std::uint32_t(current[i] - previous[i]));
    const double busy = delta[0] + delta[1] + delta[3];
    const double total = busy + delta[2];
    if (total > 0)
        return busy / total;
    return std::nullopt;
}

std::optional<ProcStatCpuMeter::Reading> ProcStatCpuMeter::read() {
    // The file stays open: procfs regenerates it on every read from offset 0, and the tick should
    // not pay for an open and a close each second.
    if (m_fd < 0)
        m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return std::nullopt;
    std::array<char, kFirstLineMax> buffer;
    const ssize_t n = ::pread(m_fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) {
        // A descriptor that stopped working is reopened on the next sample.
        ::close(m_fd);
        m_fd = -1;
        return std::nullopt;
    }
    return parseFirstLine(std::string_view(buffer.data(), std::size_t(n)));
}

} // namespace morvane
