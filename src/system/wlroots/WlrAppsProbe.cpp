#include "WlrAppsProbe.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include <cstring>

namespace morvane {

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr quint32 kGetTree = 4;
constexpr int kHeaderSize = sizeof(kMagic) + 8;
constexpr int kReplyTimeoutMs = 250;
// A tree of a thousand windows is well under a megabyte.
constexpr quint32 kMaxReply = 16 * 1024 * 1024;

std::optional<QString> nameOf(const QJsonObject& node) {
    const QString appId = node.value(QStringLiteral("app_id")).toString();
    if (!appId.isEmpty())
        return appId;
    const QString xClass =
        node.value(QStringLiteral("window_properties")).toObject().value(QStringLiteral("class")).toString();
    if (!xClass.isEmpty())
        return xClass;
    return std::nullopt;
}

// Depth-first through tiled and floating children; `found` tells a focused node without a name
// (a workspace, an empty output) from no focused node in this subtree.
std::optional<QString> findFocused(const QJsonObject& node, bool& found, int depth) {
    if (node.value(QStringLiteral("focused")).toBool()) {
        found = true;
        return nameOf(node);
    }
    if (depth > 64) // sway's trees are a few levels deep; anything deeper is not sway's
        return std::nullopt;
    for (const char* key : {"nodes", "floating_nodes"}) {
        for (const QJsonValue child : node.value(QLatin1String(key)).toArray()) {
            std::optional<QString> name = findFocused(child.toObject(), found, depth + 1);
            if (found)
                return name;
        }
    }
    return std::nullopt;
}

// Reads or writes `size` bytes before `deadline`, whatever the pieces the kernel hands out.
bool transfer(int fd, char* data, qint64 size, bool writing, const QDeadlineTimer& deadline) {
    qint64 done = 0;
    while (done < size) {
        pollfd p{fd, short(writing ? POLLOUT : POLLIN), 0};
        const int ready = poll(&p, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t got = writing ? send(fd, data + done, size_t(size - done), MSG_NOSIGNAL)
                                    : recv(fd, data + done, size_t(size - done), 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        done += got;
    }
    return true;
}

} // namespace

WlrAppsProbe::WlrAppsProbe(QString swaySocket, std::unique_ptr<AppsProbe> running)
    : m_path(std::move(swaySocket))
    , m_running(std::move(running)) {}

WlrAppsProbe::~WlrAppsProbe() {
    disconnect();
}

void WlrAppsProbe::disconnect() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::optional<QString> WlrAppsProbe::runningApp(const QString& list) {
    return m_running ? m_running->runningApp(list) : std::nullopt;
}

std::optional<QString> WlrAppsProbe::frontmostAppName() {
    const std::optional<QByteArray> tree = getTree();
    return tree ? focusedName(*tree) : std::nullopt;
}

std::optional<QString> WlrAppsProbe::focusedName(const QByteArray& tree) {
    bool found = false;
    return findFocused(QJsonDocument::fromJson(tree).object(), found, 0);
}

std::optional<QByteArray> WlrAppsProbe::getTree() {
    const QByteArray path = m_path.toLocal8Bit();
    sockaddr_un address{};
    if (path.isEmpty() || size_t(path.size()) >= sizeof(address.sun_path))
        return std::nullopt;
    const QDeadlineTimer deadline(kReplyTimeoutMs);
    if (m_fd < 0) {
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            disconnect();
            return std::nullopt;
        }
    }
    QByteArray request(kMagic, sizeof(kMagic));
    const quint32 header[2] = {0, kGetTree};
    request.append(reinterpret_cast<const char*>(header), sizeof(header));
    char reply[kHeaderSize];
    quint32 length = 0, type = 0;
    bool ok = transfer(m_fd, request.data(), request.size(), true, deadline) &&
              transfer(m_fd, reply, kHeaderSize, false, deadline) &&
              std::memcmp(reply, kMagic, sizeof(kMagic)) == 0;
    if (ok) {
        std::memcpy(&length, reply + sizeof(kMagic), 4);
        std::memcpy(&type, reply + sizeof(kMagic) + 4, 4);
        ok = type == kGetTree && length <= kMaxReply;
    }
    QByteArray payload(ok ? qsizetype(length) : 0, Qt::Uninitialized);
    if (!ok || !transfer(m_fd, payload.data(), length, false, deadline)) {
        // Out of step with the server: start over on a fresh connection next time.
        disconnect();
        return std::nullopt;
    }
    return payload;
}

} // namespace morvane
