#include "Manifest.h"

#include "Bundle.h"
#include "Crypto.h"
#include "FileOps.h"

#include <QFile>

#include <algorithm>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane::manifest {

namespace {

constexpr qint64 kMaxManifestBytes = 16 << 20;
constexpr qint64 kMaxSignatureBytes = 1024;
constexpr int kMaxDepth = 64;

Fail cannotVerify() {
    return {QStringLiteral("No se pudo verificar la firma")};
}

Fail notSigned() {
    return {QStringLiteral("La actualización no está firmada por Brelix")};
}

bool isLowerHex(QByteArrayView s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool validPath(QByteArrayView path) {
    if (path.isEmpty() || path.startsWith('/') || path.endsWith('/'))
        return false;
    for (const QByteArrayView part : QByteArray(path.data(), path.size()).split('/')) {
        if (part.isEmpty() || part == "." || part == "..")
            return false;
    }
    return std::none_of(path.begin(), path.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// A regular file below `dirFd`, opened without following any symlink on the way.
std::optional<QByteArray> readRegular(int dirFd, const QList<QByteArray>& parts, qint64 limit) {
    int fd = dirFd;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NONBLOCK : O_DIRECTORY);
        const int next = ::openat(fd, parts[i].constData(), flags);
        if (fd != dirFd)
            ::close(fd);
        if (next < 0)
            return std::nullopt;
        fd = next;
    }
    return fileops::readRegularFile(fd, limit);
}

class Scanner {
public:
    bool dir(int fd, const QByteArray& prefix, int depth) {
        if (depth > kMaxDepth)
            return false;
        DIR* d = ::fdopendir(fd);
        if (!d) {
            ::close(fd);
            return false;
        }
        bool ok = true;
        while (ok) {
            errno = 0;
            const dirent* e = ::readdir(d);
            if (!e) {
                ok = errno == 0;
                break;
            }
            const QByteArray name(e->d_name);
            if (name == "." || name == "..")
                continue;
            ok = entry(::dirfd(d), name, prefix.isEmpty() ? name : prefix + '/' + name, depth);
        }
        ::closedir(d);
        return ok;
    }

    std::vector<ManifestEntry> entries;

private:
    bool entry(int dirFd, const QByteArray& name, const QByteArray& path, int depth) {
        if (qsizetype(entries.size()) > kMaxEntries)
            return false;
        struct stat st {};
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (S_ISDIR(st.st_mode)) {
            const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            return fd >= 0 && dir(fd, path, depth + 1);
        }
        if (S_ISLNK(st.st_mode)) {
            QByteArray target(PATH_MAX, Qt::Uninitialized);
            const ssize_t n = ::readlinkat(dirFd, name.constData(), target.data(), target.size());
            if (n < 0 || n >= target.size())
                return false;
            target.truncate(n);
            entries.push_back({path, 'l', crypto::sha256Hex(target)});
            return true;
        }
        if (!S_ISREG(st.st_mode))
            return false;
        if (path == bundle::kManifest || path == bundle::kManifestSignature)
            return true;
        const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        crypto::Sha256 hash;
        if (m_buffer.isEmpty())
            m_buffer.resize(1 << 20);
        bool ok = true;
        for (;;) {
            const ssize_t n = ::read(fd, m_buffer.data(), m_buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                ok = false;
            if (n <= 0)
                break;
            hash.add(QByteArrayView(m_buffer.constData(), n));
        }
        ::close(fd);
        entries.push_back({path, (st.st_mode & 0111) ? 'x' : 'f', hash.hex()});
        return ok;
    }

    QByteArray m_buffer;
};

} // namespace

std::optional<std::vector<ManifestEntry>> parse(QByteArrayView text) {
    std::vector<ManifestEntry> entries;
    if (text.isEmpty())
        return entries;
    if (!text.endsWith('\n'))
        return std::nullopt;
    qsizetype start = 0;
    while (start < text.size()) {
        const qsizetype end = text.indexOf('\n', start);
        const QByteArrayView line = text.sliced(start, end - start);
        start = end + 1;
        if (line.size() < 64 + 3 + 1 || line[64] != ' ' || line[66] != ' ')
            return std::nullopt;
        ManifestEntry e;
        e.sha256 = line.first(64).toByteArray();
        e.kind = line[65];
        e.path = line.sliced(67).toByteArray();
        if (!isLowerHex(e.sha256) || (e.kind != 'f' && e.kind != 'x' && e.kind != 'l') || !validPath(e.path))
            return std::nullopt;
        if (!entries.empty() && !(entries.back().path < e.path))
            return std::nullopt;
        if (qsizetype(entries.size()) >= kMaxEntries)
            return std::nullopt;
        entries.push_back(std::move(e));
    }
    return entries;
}

std::optional<std::vector<ManifestEntry>> scan(const QString& bundlePath) {
    const int fd =
        ::open(QFile::encodeName(bundlePath).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    Scanner scanner;
    if (!scanner.dir(fd, {}, 0))
        return std::nullopt;
    std::sort(scanner.entries.begin(), scanner.entries.end(),
              [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
    return std::move(scanner.entries);
}

std::optional<Fail> verifySameSigner(const QString& bundlePath, const std::optional<QString>& publicKey) {
    const auto key = publicKey ? crypto::strictBase64(publicKey->toLatin1(), 32) : std::nullopt;
    if (!key)
        return cannotVerify();
    const int dirFd =
        ::open(QFile::encodeName(bundlePath).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return cannotVerify();
    const auto text = readRegular(dirFd, QByteArray(bundle::kManifest).split('/'), kMaxManifestBytes);
    auto signatureText =
        readRegular(dirFd, QByteArray(bundle::kManifestSignature).split('/'), kMaxSignatureBytes);
    ::close(dirFd);
    if (!text || !signatureText)
        return cannotVerify();

    if (signatureText->endsWith('\n'))
        signatureText->chop(1);
    const auto signature = crypto::strictBase64(*signatureText, 64);
    if (!signature || !crypto::ed25519Verify(*key, *signature, *text))
        return notSigned();
    const auto listed = parse(*text);
    if (!listed)
        return notSigned();
    const auto actual = scan(bundlePath);
    if (!actual)
        return notSigned();
    if (*actual != *listed)
        return notSigned();
    return std::nullopt;
}

} // namespace morvane::manifest
