#pragma once

#include <QByteArray>
#include <QObject>
#include <QSslConfiguration>
#include <QUrl>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace morvane {

// How the updater's requests go out.
struct FetchPolicy {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    int timeoutMs = 20000; // without a byte moving
    qint64 maxBytes = 0;   // bodies longer than this are abandoned
    // Called with the body's length once the server has announced one (and it is within maxBytes).
    std::function<void(qint64)> announced;
};

// One GET that never uses a cache, never follows a redirect to a less safe scheme, and keeps the
// body in memory up to a cap. The HTTP status is not looked at: an error page is a body like any
// other. `done` runs once on the thread that started it: the body, or nothing after a transport
// error, a time-out or a body beyond the cap. Deleting `context` first cancels the request.
void fetch(QNetworkAccessManager& network, const QUrl& url, const FetchPolicy& policy, QObject* context,
           std::function<void(std::optional<QByteArray>)> done);

} // namespace morvane
