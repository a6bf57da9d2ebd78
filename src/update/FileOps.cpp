#include "FileOps.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <vector>

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::fileops {

namespace {

constexpr char kPrefix[] = "morvane-update-";
// Deeper trees are not ours: the unpacker never makes them.
constexpr int kMaxDepth = 256;

struct Once {
    const std::function<void()>& hook;
    bool done = false;
    void operator()() {
        if (!done && hook) {
            done = true;
            hook();
        }
    }
};

bool removeAt(int dirFd, const char* name, Once& once, int depth) {
    if (::unlinkat(dirFd, name, 0) == 0) {
        once();
        return true;
    }
    if (errno == ENOENT)
        return true;
    if (errno != EISDIR || depth > kMaxDepth)
        return false;
    const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    // Names first, removals after: removing while readdir walks the same directory may skip
    // entries.
    std::vector<QByteArray> names;
    while (const dirent* e = ::readdir(dir)) {
        if (qstrcmp(e->d_name, ".") != 0 && qstrcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    }
    bool ok = true;
    for (const QByteArray& child : names)
        ok = removeAt(::dirfd(dir), child.constData(), once, depth + 1) && ok;
    ::closedir(dir);
    if (::unlinkat(dirFd, name, AT_REMOVEDIR) != 0)
        return false;
    once();
    return ok;
}

QString parentOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

} // namespace

QString errorText(int error) {
    return qt_error_string(error);
}

std::optional<QByteArray> readRegularFile(int fd, qint64 limit) {
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<QByteArray> result;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= limit) {
        QByteArray bytes(st.st_size, Qt::Uninitialized);
        qint64 got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        if (got == bytes.size())
            result = bytes;
    }
    ::close(fd);
    return result;
}

WorkDir::WorkDir(QString path, int fd, int parentFd, QByteArray name)
    : m_path(std::move(path))
    , m_fd(fd)
    , m_parentFd(parentFd)
    , m_name(std::move(name)) {}

WorkDir::~WorkDir() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_parentFd >= 0)
        ::close(m_parentFd);
}

std::shared_ptr<WorkDir> WorkDir::create(const QString& parent, QString* error) {
    const int parentFd = ::open(QFile::encodeName(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) {
        *error = errorText(errno);
        return nullptr;
    }
    const QByteArray name = kPrefix + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    // mkdirat fails when the name exists, so the directory is ours alone from the start.
    if (::mkdirat(parentFd, name.constData(), 0700) != 0) {
        *error = errorText(errno);
        ::close(parentFd);
        return nullptr;
    }
    const int fd = ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *error = errorText(errno);
        if (fd >= 0)
            ::close(fd);
        ::unlinkat(parentFd, name.constData(), AT_REMOVEDIR);
        ::close(parentFd);
        return nullptr;
    }
    // mkdir applies the umask; the mode must be exactly 0700 whatever it is.
    ::fchmod(fd, 0700);
    return std::shared_ptr<WorkDir>(
        new WorkDir(parent + QLatin1Char('/') + QString::fromLatin1(name), fd, parentFd, name));
}

bool WorkDir::remove(const std::function<void()>& afterFirst) {
    return removeTree(m_parentFd, m_name, afterFirst);
}

bool isWorkDirName(QByteArrayView name) {
    const QByteArrayView prefix(kPrefix);
    if (!name.startsWith(prefix))
        return false;
    const QByteArrayView uuid = name.sliced(prefix.size());
    if (uuid.size() != 36)
        return false;
    for (qsizetype i = 0; i < uuid.size(); ++i) {
        const char c = uuid[i];
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

std::optional<QString> writeNewFile(int dirFd, const char* name, QByteArrayView bytes) {
    const int fd = ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errorText(errno);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            return errorText(error);
        }
        done += n;
    }
    if (::close(fd) != 0)
        return errorText(errno);
    return std::nullopt;
}

bool removeTree(int dirFd, const QByteArray& name, const std::function<void()>& afterFirst) {
    Once once{afterFirst};
    return removeAt(dirFd, name.constData(), once, 0);
}

std::optional<QString> exchange(const QString& a, const QString& b) {
    if (::renameat2(AT_FDCWD, QFile::encodeName(a).constData(), AT_FDCWD, QFile::encodeName(b).constData(),
                    RENAME_EXCHANGE) != 0)
        return errorText(errno);
    // The exchange itself is durable once the directory holding both names is.
    const int dir = ::open(QFile::encodeName(parentOf(b)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return std::nullopt;
}

std::optional<QString> replaceable(const QString& bundlePath) {
    if (bundlePath.isEmpty())
        return std::nullopt;
    // The effective ids, as the rename itself will be checked: plain access() would let root's
    // permitted capabilities through where its effective ones do not reach. Moving a folder to
    // another parent rewrites its "..", hence the write access to the bundle itself.
    for (const QString& path : {parentOf(bundlePath), bundlePath}) {
        const int mode = path == bundlePath ? W_OK : W_OK | X_OK;
        if (::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), mode, AT_EACCESS) != 0)
            return errno == ENOENT ? std::nullopt : std::optional<QString>(errorText(errno));
    }
    return std::nullopt;
}

void flush(int fd) {
    ::syncfs(fd);
}

int recover(const QString& bundlePath) {
    if (bundlePath.isEmpty())
        return 0;
    const int parentFd =
        ::open(QFile::encodeName(parentOf(bundlePath)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0)
        return 0;
    const int listFd = ::dup(parentFd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        ::close(parentFd);
        return 0;
    }
    std::vector<QByteArray> leftovers;
    while (const dirent* e = ::readdir(dir)) {
        if (isWorkDirName(e->d_name))
            leftovers.emplace_back(e->d_name);
    }
    ::closedir(dir);

    int removed = 0;
    for (const QByteArray& name : leftovers) {
        struct stat st {};
        if (::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        const int fd = ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Held for the removal, so that no installation can start using it meanwhile.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && removeTree(parentFd, name))
            ++removed;
        ::close(fd);
    }
    ::close(parentFd);
    return removed;
}

} // namespace morvane::fileops
