#include "Fetch.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <memory>

namespace morvane {

namespace {

// Errors that Qt reports for an HTTP status (4xx, 5xx) rather than for the transfer; the body
// that came with them is complete.
bool isStatusError(QNetworkReply::NetworkError e) {
    return (e >= QNetworkReply::ContentAccessDenied && e <= QNetworkReply::UnknownContentError) ||
           (e >= QNetworkReply::InternalServerError && e <= QNetworkReply::UnknownServerError) ||
           e == QNetworkReply::ProtocolInvalidOperationError;
}

struct Transfer {
    QByteArray body;
    qint64 maxBytes = 0;
    bool overflow = false;
    std::function<void(std::optional<QByteArray>)> done;
    std::function<void(qint64)> announced;
};

} // namespace

void fetch(QNetworkAccessManager& network, const QUrl& url, const FetchPolicy& policy, QObject* context,
           std::function<void(std::optional<QByteArray>)> done) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(policy.timeoutMs);
    request.setSslConfiguration(policy.tls);

    QNetworkReply* reply = network.get(request);
    auto transfer = std::make_shared<Transfer>();
    transfer->maxBytes = policy.maxBytes;
    transfer->done = std::move(done);
    transfer->announced = policy.announced;

    auto tooLong = [transfer, reply](qint64 bytes) {
        if (bytes <= transfer->maxBytes)
            return false;
        transfer->overflow = true;
        reply->abort();
        return true;
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, transfer, tooLong] {
        // A declared length lets the buffer be sized once (the body is the archive, and doubling
        // on growth would cost its size again) or the transfer be refused before it starts.
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (!length.isValid() || tooLong(length.toLongLong()))
            return;
        if (transfer->body.isEmpty())
            transfer->body.reserve(length.toLongLong());
        if (transfer->announced)
            transfer->announced(length.toLongLong());
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer, tooLong] {
        if (transfer->overflow || tooLong(transfer->body.size() + reply->bytesAvailable()))
            return;
        transfer->body.append(reply->readAll());
    });
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, transfer] {
        reply->deleteLater();
        const QNetworkReply::NetworkError error = reply->error();
        const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
        if (transfer->overflow || !(error == QNetworkReply::NoError || (answered && isStatusError(error)))) {
            transfer->done(std::nullopt);
            return;
        }
        if (!transfer->overflow && reply->bytesAvailable() > 0) {
            if (transfer->body.size() + reply->bytesAvailable() > transfer->maxBytes) {
                transfer->done(std::nullopt);
                return;
            }
            transfer->body.append(reply->readAll());
        }
        transfer->done(std::move(transfer->body));
    });
    // The reply goes with the context; its finished() then never reaches `done`.
    QObject::connect(context, &QObject::destroyed, reply, [reply] { reply->abort(); });
}

} // namespace morvane
