#include "Unpacker.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint32 kEndOfCentralDirectory = 0x06054b50;
constexpr quint32 kZip64EndLocator = 0x07064b50;
constexpr quint32 kZip64End = 0x06064b50;
constexpr qsizetype kMaxPathBytes = 4096;
constexpr qsizetype kMaxNameBytes = 255;
// As many links as the kernel follows in one lookup.
constexpr int kMaxLinkHops = 40;
// Words walked while resolving all the links of one archive: ample for any real bundle, and a
// bound on the work a crafted chain of long targets can ask for.
constexpr qint64 kMaxLinkSteps = qint64(1) << 20;

quint64 le(QByteArrayView b, qsizetype at, int bytes) {
    quint64 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

bool validComponent(QByteArrayView c) {
    if (c.isEmpty() || c == "." || c == ".." || c.size() > kMaxNameBytes)
        return false;
    for (const char ch : c) {
        const auto u = static_cast<unsigned char>(ch);
        // A backslash is a separator to the tools that made many archives; control characters
        // would break the manifest's one-line-per-file format.
        if (u < 0x20 || u == 0x7f || ch == '\\')
            return false;
    }
    return true;
}

// Closes a descriptor unless it is the one the caller lent us.
class Fd {
public:
    explicit Fd(int fd, bool owned)
        : m_fd(fd)
        , m_owned(owned) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    void reset(int fd = -1, bool owned = true) {
        if (m_owned && m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
        m_owned = owned;
    }

private:
    int m_fd;
    bool m_owned;
};

class Extraction {
public:
    Extraction(int rootFd, const UnpackLimits& limits, const std::function<void()>& afterFirstFile)
        : m_rootFd(rootFd)
        , m_limits(limits)
        , m_afterFirstFile(afterFirstFile) {}

    UnpackError run(QByteArrayView zip) {
        archive* a = archive_read_new();
        if (!a)
            return UnpackError::format;
        // The seekable reader works from the central directory, the part the framing check
        // vouched for; the streaming one would also trust local headers it stumbles on.
        archive_read_support_format_zip_seekable(a);
        UnpackError result = UnpackError::none;
        if (archive_read_open_memory(a, zip.data(), static_cast<size_t>(zip.size())) != ARCHIVE_OK)
            result = UnpackError::format;
        while (result == UnpackError::none) {
            archive_entry* entry = nullptr;
            const int r = archive_read_next_header(a, &entry);
            if (r == ARCHIVE_EOF)
                break;
            // A warning (a name that does not convert, say) is refused like an error.
            if (r != ARCHIVE_OK) {
                result = UnpackError::format;
                break;
            }
            if (++m_entries > m_limits.maxEntries) {
                result = UnpackError::tooMany;
                break;
            }
            result = extract(a, entry);
        }
        archive_read_free(a);
        if (result == UnpackError::none)
            result = checkLinks();
        return result;
    }

private:
    UnpackError extract(archive* a, archive_entry* entry) {
        if (archive_entry_hardlink(entry) || archive_entry_hardlink_utf8(entry))
            return UnpackError::entryType;
        const mode_t type = archive_entry_filetype(entry);
        if (type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK)
            return UnpackError::entryType;

        const char* rawPath = archive_entry_pathname_utf8(entry);
        if (!rawPath)
            return UnpackError::path;
        QByteArray path(rawPath);
        if (path.endsWith('/') && type == AE_IFDIR)
            path.chop(1);
        if (path.isEmpty() || path.startsWith('/') || path.size() > kMaxPathBytes)
            return UnpackError::path;
        const QList<QByteArray> parts = path.split('/');
        if (parts.size() > m_limits.maxDepth)
            return UnpackError::path;
        for (const QByteArray& part : parts) {
            if (!validComponent(part))
                return UnpackError::path;
        }
        if (m_seen.contains(path))
            return UnpackError::duplicate;
        m_seen.insert(path);

        Fd parent(m_rootFd, false);
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            if (::mkdirat(parent.get(), parts[i].constData(), 0755) != 0 && errno != EEXIST)
                return UnpackError::io;
            // O_NOFOLLOW: a symlink unpacked earlier is never a way into another directory.
            const int next =
                ::openat(parent.get(), parts[i].constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0)
                return errno == ENOTDIR || errno == ELOOP ? UnpackError::duplicate : UnpackError::io;
            parent.reset(next);
        }
        const char* name = parts.last().constData();

        switch (type) {
        case AE_IFDIR:
            return directory(parent.get(), name);
        case AE_IFLNK:
            return symlink(entry, path, parent.get(), name);
        default:
            return file(a, entry, parent.get(), name);
        }
    }

    UnpackError directory(int parentFd, const char* name) {
        if (::mkdirat(parentFd, name, 0755) == 0)
            return UnpackError::none;
        struct stat st {};
        // An earlier entry inside it made it already; anything else under that name clashes.
        if (errno == EEXIST && ::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode))
            return UnpackError::none;
        return errno == EEXIST ? UnpackError::duplicate : UnpackError::io;
    }

    UnpackError symlink(archive_entry* entry, const QByteArray& path, int parentFd, const char* name) {
        const char* rawTarget = archive_entry_symlink_utf8(entry);
        if (!rawTarget || !path.contains('/'))
            return UnpackError::linkTarget;
        const QByteArray target(rawTarget);
        if (target.isEmpty() || target.startsWith('/') || target.size() > kMaxPathBytes)
            return UnpackError::linkTarget;
        for (const char ch : target) {
            if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
                return UnpackError::linkTarget;
        }
        if (::symlinkat(target.constData(), parentFd, name) != 0)
            return errno == EEXIST ? UnpackError::duplicate : UnpackError::io;
        // Where it leads depends on the links beside it, some perhaps still to come: judged once
        // everything is out.
        m_links.insert(path, target);
        return UnpackError::none;
    }

    // Every link, followed through the others as the kernel would, stays inside its top-level
    // folder at every step. Words alone are not enough: with lib/up -> .., the target
    // up/../.. reads as one level up and leads two levels above lib.
    UnpackError checkLinks() const {
        qint64 steps = 0;
        for (auto link = m_links.cbegin(); link != m_links.cend(); ++link) {
            QList<QByteArray> here = link.key().split('/');
            here.removeLast();
            // The words still to walk, the next one last.
            QList<QByteArray> todo;
            const auto follow = [&todo](const QByteArray& target) {
                const QList<QByteArray> words = target.split('/');
                for (auto word = words.crbegin(); word != words.crend(); ++word)
                    todo.append(*word);
            };
            follow(link.value());
            int hops = 1;
            while (!todo.isEmpty()) {
                if (++steps > kMaxLinkSteps)
                    return UnpackError::linkTarget;
                const QByteArray word = todo.takeLast();
                if (word.isEmpty() || word == ".")
                    continue;
                if (word == "..") {
                    here.removeLast();
                    if (here.isEmpty())
                        return UnpackError::linkTarget;
                    continue;
                }
                here.append(word);
                if (here.size() > m_limits.maxDepth)
                    return UnpackError::linkTarget;
                const auto next = m_links.constFind(here.join('/'));
                if (next == m_links.cend())
                    continue;
                if (++hops > kMaxLinkHops)
                    return UnpackError::linkTarget;
                here.removeLast();
                follow(*next);
            }
        }
        return UnpackError::none;
    }

    UnpackError file(archive* a, archive_entry* entry, int parentFd, const char* name) {
        const mode_t mode = (archive_entry_perm(entry) & 0111) ? 0755 : 0644;
        const int fd = ::openat(parentFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0)
            return errno == EEXIST ? UnpackError::duplicate : UnpackError::io;
        Fd out(fd, true);
        la_int64_t written = 0;
        for (;;) {
            const void* block = nullptr;
            size_t length = 0;
            la_int64_t offset = 0;
            const int r = archive_read_data_block(a, &block, &length, &offset);
            if (r == ARCHIVE_EOF)
                break;
            // ZIP entries are never sparse, so every block continues the previous one.
            if (r != ARCHIVE_OK || offset != written)
                return UnpackError::format;
            if (static_cast<qint64>(length) > m_limits.maxTotalBytes - m_total)
                return UnpackError::tooLarge;
            m_total += static_cast<qint64>(length);
            const char* bytes = static_cast<const char*>(block);
            size_t done = 0;
            while (done < length) {
                const ssize_t n = ::write(fd, bytes + done, length - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return UnpackError::io;
                done += static_cast<size_t>(n);
            }
            written += static_cast<la_int64_t>(length);
        }
        // umask may have narrowed the mode openat applied.
        ::fchmod(fd, mode);
        out.reset();
        if (!m_wroteFile) {
            m_wroteFile = true;
            if (m_afterFirstFile)
                m_afterFirstFile();
        }
        return UnpackError::none;
    }

    int m_rootFd;
    const UnpackLimits& m_limits;
    const std::function<void()>& m_afterFirstFile;
    QSet<QByteArray> m_seen;
    QHash<QByteArray, QByteArray> m_links; // path -> target, of every link unpacked
    qint64 m_entries = 0;
    qint64 m_total = 0;
    bool m_wroteFile = false;
};

} // namespace

UnpackError checkZipFraming(QByteArrayView zip, qint64 maxEntries) {
    const qsizetype size = zip.size();
    if (size < 22)
        return UnpackError::framing;
    // The end record is the last 22 bytes plus its comment: search back for one whose comment
    // ends exactly at the end of the data.
    qsizetype end = -1;
    for (qsizetype at = size - 22; at >= 0 && at >= size - 22 - 0xffff; --at) {
        if (le(zip, at, 4) == kEndOfCentralDirectory && at + 22 + qsizetype(le(zip, at + 20, 2)) == size) {
            end = at;
            break;
        }
    }
    if (end < 0)
        return UnpackError::framing;
    if (le(zip, end + 4, 2) != 0 || le(zip, end + 6, 2) != 0 || le(zip, end + 8, 2) != le(zip, end + 10, 2))
        return UnpackError::framing;
    quint64 entries = le(zip, end + 10, 2);
    quint64 directorySize = le(zip, end + 12, 4);
    quint64 directoryOffset = le(zip, end + 16, 4);
    quint64 directoryEnd = quint64(end);
    const bool saturated = entries == 0xffff || directorySize == 0xffffffff || directoryOffset == 0xffffffff;
    const qsizetype locator = end - 20;
    // libarchive reads the zip64 records whenever their locator precedes the end record, saturated
    // fields or not (some writers always add them), so they are checked whenever present.
    if (saturated || (locator >= 0 && le(zip, locator, 4) == kZip64EndLocator)) {
        if (locator < 0 || le(zip, locator, 4) != kZip64EndLocator || le(zip, locator + 16, 4) != 1)
            return UnpackError::framing;
        const quint64 record = le(zip, locator + 8, 8);
        if (record > quint64(locator) || quint64(locator) - record < 56 ||
            le(zip, qsizetype(record), 4) != kZip64End ||
            record + 12 + le(zip, qsizetype(record) + 4, 8) != quint64(locator))
            return UnpackError::framing;
        const quint64 entries64 = le(zip, qsizetype(record) + 32, 8);
        const quint64 size64 = le(zip, qsizetype(record) + 40, 8);
        const quint64 offset64 = le(zip, qsizetype(record) + 48, 8);
        // A classic field that is not saturated must tell the same as its zip64 twin.
        if ((entries != 0xffff && entries != entries64) ||
            (directorySize != 0xffffffff && directorySize != size64) ||
            (directoryOffset != 0xffffffff && directoryOffset != offset64))
            return UnpackError::framing;
        entries = entries64;
        directorySize = size64;
        directoryOffset = offset64;
        directoryEnd = record;
    }
    if (directoryOffset > directoryEnd || directoryEnd - directoryOffset != directorySize)
        return UnpackError::framing;
    if (entries > quint64(maxEntries))
        return UnpackError::tooMany;
    if (entries == 0 ? directoryOffset != 0 : (directoryOffset < 4 || le(zip, 0, 4) != kLocalHeader))
        return UnpackError::framing;
    return UnpackError::none;
}

UnpackError unpackZip(QByteArrayView zip, int dirFd, const UnpackLimits& limits,
                      const std::function<void()>& afterFirstFile) {
    if (const UnpackError framing = checkZipFraming(zip, limits.maxEntries); framing != UnpackError::none)
        return framing;
    return Extraction(dirFd, limits, afterFirstFile).run(zip);
}

} // namespace morvane
