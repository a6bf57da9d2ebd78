#pragma once

// Small helpers for the probes that read sysfs and procfs. Every reader treats a missing, unreadable
// or malformed file as "no answer": the files may come from a fixture tree or a kernel that lacks
// the attribute.

#include <QFile>
#include <QString>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace morvane::kernelfiles {

// `root` as a byte path without a trailing slash, so that root + "/proc/..." names the file.
inline std::string rootPath(const QString& root) {
    std::string path = QFile::encodeName(root).toStdString();
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}

// Up to `limit` bytes of a file. O_NONBLOCK keeps a FIFO planted in a fixture from hanging the
// caller; regular and kernel files ignore it.
inline std::optional<std::string> readSmall(const std::string& path, std::size_t limit = 4096) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    std::string out(limit, '\0');
    std::size_t used = 0;
    bool failed = false;
    while (used < limit) {
        const ssize_t n = ::read(fd, out.data() + used, limit - used);
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0)
            break;
        used += std::size_t(n);
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    out.resize(used);
    return out;
}

inline std::string_view trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A whole (trimmed) text as a non-negative decimal integer; nothing for anything else.
inline std::optional<std::int64_t> toCount(std::string_view s) {
    s = trimmed(s);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || value < 0)
        return std::nullopt;
    return value;
}

// The entries of a directory except "." and "..", sorted by name; empty when it cannot be read.
inline std::vector<std::string> sortedEntries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace morvane::kernelfiles
