#include "KernelFiles.h"
#include "Probes.h"

#include <array>
#include <filesystem>
#include <limits>

#include <sys/stat.h>

namespace morvane {

namespace {

using namespace kernelfiles;

// Mount tables of hosts with many containers reach a few hundred kilobytes; past this the file is
// not a mount table.
constexpr std::size_t kMaxMountInfo = std::size_t(8) << 20;

// Block majors that never hold a user's removable volume: RAM disks, loop devices (images,
// snaps), network block devices.
constexpr unsigned kRamMajor = 1;
constexpr unsigned kLoopMajor = 7;
constexpr unsigned kNbdMajor = 43;

// A volume mounted at one of these is part of the running system even when it sits on a USB
// stick (a live system, a Raspberry Pi booted from USB): it is never "a removable disk".
constexpr std::array<std::string_view, 7> kSystemMountPoints = {"/",    "/boot", "/boot/efi", "/efi",
                                                                "/usr", "/var",  "/home"};

// Device mapper nesting (LUKS over LVM over a partition) is shallow; the bound guards against
// a fixture tree whose slaves point at each other.
constexpr int kMaxStackDepth = 4;

// mountinfo escapes space, tab, newline and backslash as three octal digits (\040).
std::string unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' &&
            s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
            out += char((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Writable in one comma-separated option list: "rw" present and "ro" absent.
bool writable(std::string_view options) {
    bool rw = false;
    while (!options.empty()) {
        const std::size_t comma = options.find(',');
        const std::string_view option = options.substr(0, comma);
        if (option == "ro")
            return false;
        rw = rw || option == "rw";
        options.remove_prefix(comma == std::string_view::npos ? options.size() : comma + 1);
    }
    return rw;
}

std::optional<unsigned> number(std::string_view s) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return value;
}

struct MountEntry {
    unsigned major = 0;
    std::string_view device; // "M:m"
    std::string_view mountPoint;
    std::string_view mountOptions;
    std::string_view fsType;
    std::string_view source;
    std::string_view superOptions;
};

// One line: id parent M:m root mount-point options [optional fields...] - type source super-options.
std::optional<MountEntry> parseLine(std::string_view line) {
    std::array<std::string_view, 6> head;
    std::size_t field = 0;
    const auto next = [&]() -> std::optional<std::string_view> {
        while (!line.empty() && line.front() == ' ')
            line.remove_prefix(1);
        if (line.empty())
            return std::nullopt;
        const std::size_t space = line.find(' ');
        const std::string_view word = line.substr(0, space);
        line.remove_prefix(space == std::string_view::npos ? line.size() : space);
        return word;
    };
    for (; field < head.size(); ++field) {
        const std::optional<std::string_view> word = next();
        if (!word)
            return std::nullopt;
        head[field] = *word;
    }
    std::optional<std::string_view> word;
    while ((word = next()) && *word != "-") {
    }
    if (!word)
        return std::nullopt;
    const std::optional<std::string_view> fsType = next();
    const std::optional<std::string_view> source = next();
    const std::optional<std::string_view> superOptions = next();
    if (!superOptions)
        return std::nullopt;

    MountEntry entry;
    entry.device = head[2];
    const std::size_t colon = entry.device.find(':');
    const std::optional<unsigned> major = number(entry.device.substr(0, colon));
    if (colon == std::string_view::npos || !major || !number(entry.device.substr(colon + 1)))
        return std::nullopt;
    entry.major = *major;
    entry.mountPoint = head[4];
    entry.mountOptions = head[5];
    entry.fsType = *fsType;
    entry.source = *source;
    entry.superOptions = *superOptions;
    return entry;
}

class BlockDevices {
public:
    explicit BlockDevices(std::string root)
        : m_root(std::move(root))
        , m_sys(m_root + "/sys") {}

    // `link` is a sysfs symlink to a block device (/sys/dev/block/M:m, /sys/class/block/name).
    bool removable(const std::string& link, int depth = 0) const {
        const std::optional<std::filesystem::path> device = resolve(link);
        if (!device || depth > kMaxStackDepth)
            return false;
        const std::string name = device->filename().string();
        if (name.starts_with("loop") || name.starts_with("ram") || name.starts_with("zram") ||
            name.starts_with("nbd"))
            return false;
        // A mapped device (LUKS, LVM) lives where its underlying devices live.
        const std::vector<std::string> slaves = sortedEntries(device->string() + "/slaves");
        if (!slaves.empty()) {
            for (const std::string& slave : slaves)
                if (!removable(m_sys + "/class/block/" + slave, depth + 1))
                    return false;
            return true;
        }
        if (onUsbBus(*device))
            return true;
        // Partitions carry no flags of their own: the disk above them does.
        struct stat st;
        const bool partition = ::stat((device->string() + "/partition").c_str(), &st) == 0;
        const std::string disk = partition ? device->parent_path().string() : device->string();
        if (attribute(disk + "/removable") == "1")
            return true;
        // Card readers on the PCI bus report SD cards as fixed disks; the card type tells an SD
        // card from soldered eMMC storage (type MMC).
        return attribute(disk + "/device/type") == "SD";
    }

    // A block device named by a mount source (/dev/sdb1, /dev/mapper/x), for file systems that
    // report an anonymous device number.
    bool removableSource(std::string_view source) const {
        if (!source.starts_with("/dev/"))
            return false;
        std::error_code error;
        const std::filesystem::path node =
            std::filesystem::weakly_canonical(m_root + unescape(source), error);
        if (error || node.filename().empty())
            return false;
        return removable(m_sys + "/class/block/" + node.filename().string());
    }

private:
    // Real sysfs links are relative ("../../devices/.../block/sdb/sdb1"); resolving them
    // textually keeps a fixture tree self-contained.
    std::optional<std::filesystem::path> resolve(const std::string& link) const {
        std::array<char, 4096> target;
        const ssize_t n = ::readlink(link.c_str(), target.data(), target.size() - 1);
        if (n <= 0)
            return std::nullopt;
        const std::string_view text(target.data(), std::size_t(n));
        if (text.starts_with('/'))
            return std::filesystem::path(m_root + std::string(text)).lexically_normal();
        return (std::filesystem::path(link).parent_path() / std::string(text)).lexically_normal();
    }

    // USB disks often call themselves fixed (removable 0) yet are unplugged all the time; their
    // sysfs path runs through a USB host controller's root hub (".../usb2/2-1/...").
    bool onUsbBus(const std::filesystem::path& device) const {
        const std::string path = device.string();
        if (!path.starts_with(m_sys))
            return false;
        for (const auto& part : std::filesystem::path(path.substr(m_sys.size()))) {
            const std::string component = part.string();
            if (component.size() > 3 && component.starts_with("usb") &&
                number(std::string_view(component).substr(3)))
                return true;
        }
        return false;
    }

    static std::string attribute(const std::string& path) {
        const std::optional<std::string> text = readSmall(path, 64);
        return text ? std::string(trimmed(*text)) : std::string();
    }

    std::string m_root;
    std::string m_sys;
};

bool isSystemMountPoint(const std::string& mountPoint) {
    for (std::string_view system : kSystemMountPoints)
        if (mountPoint == system)
            return true;
    return false;
}

} // namespace

MountDiskProbe::MountDiskProbe(QString root)
    : m_root(rootPath(root)) {}

bool MountDiskProbe::removableWritableDiskMounted() {
    if (!readMountInfo())
        return false;
    const BlockDevices devices(m_root);
    std::string_view rest = m_buffer;
    while (!rest.empty()) {
        const std::size_t newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);

        const std::optional<MountEntry> mount = parseLine(line);
        if (!mount || !writable(mount->mountOptions) || !writable(mount->superOptions))
            continue;
        if (mount->major == kRamMajor || mount->major == kLoopMajor || mount->major == kNbdMajor)
            continue;
        // Major 0 is an anonymous device: network, FUSE, tmpfs, overlay... and btrfs, which does
        // this even for a file system on a USB stick.
        if (mount->major == 0 && mount->fsType != "btrfs")
            continue;
        if (isSystemMountPoint(unescape(mount->mountPoint)))
            continue;
        const bool removable =
            mount->major == 0 ? devices.removableSource(mount->source)
                              : devices.removable(m_root + "/sys/dev/block/" + std::string(mount->device));
        if (removable)
            return true;
    }
    return false;
}

bool MountDiskProbe::readMountInfo() {
    m_buffer.clear();
    const int fd = ::open((m_root + "/proc/self/mountinfo").c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    // The buffer is kept between calls so that a steady mount table costs no allocation.
    if (m_buffer.capacity() < 16384)
        m_buffer.reserve(16384);
    bool ok = true;
    std::size_t used = 0;
    for (;;) {
        if (used == m_buffer.capacity()) {
            if (used >= kMaxMountInfo) {
                ok = false;
                break;
            }
            m_buffer.reserve(used * 2);
        }
        m_buffer.resize(m_buffer.capacity());
        const ssize_t n = ::read(fd, m_buffer.data() + used, m_buffer.size() - used);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        used += std::size_t(n);
    }
    ::close(fd);
    m_buffer.resize(ok ? used : 0);
    return ok;
}

} // namespace morvane
