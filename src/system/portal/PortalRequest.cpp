#include "PortalRequest.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusVariant>
#include <QPointer>

#include <atomic>

namespace morvane {

namespace {

const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
constexpr int kPropertyTimeoutMs = 3000;

} // namespace

const QString& PortalRequest::service() {
    static const QString name = QStringLiteral("org.freedesktop.portal.Desktop");
    return name;
}

const QString& PortalRequest::objectPath() {
    static const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    return path;
}

QVariant PortalRequest::property(const QDBusConnection& bus, const QString& interface, const QString& name) {
    if (!bus.isConnected())
        return {};
    QDBusMessage get = QDBusMessage::createMethodCall(
        service(), objectPath(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({interface, name});
    const QDBusReply<QDBusVariant> reply = bus.call(get, QDBus::Block, kPropertyTimeoutMs);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

QString PortalRequest::newToken() {
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("morvane%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

PortalRequest::PortalRequest(const QDBusConnection& bus, QObject* context, Done done)
    : QObject(context)
    , m_bus(bus)
    , m_done(std::move(done)) {}

bool PortalRequest::listen(const QString& path) {
    if (!m_path.isEmpty())
        m_bus.disconnect(service(), m_path, kRequestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap)));
    m_path = path;
    return m_bus.connect(service(), path, kRequestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap)));
}

void PortalRequest::call(const QDBusConnection& bus, const QString& interface, const QString& method,
                         const QVariantList& arguments, QVariantMap options, QObject* context, Done done) {
    auto* request = new PortalRequest(bus, context, std::move(done));
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    // The portal names the request after the caller: ":1.42" becomes "1_42".
    QString sender = bus.baseService();
    sender.remove(0, 1).replace(u'.', u'_');
    request->listen(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));

    QDBusMessage message = QDBusMessage::createMethodCall(service(), objectPath(), interface, method);
    message.setArguments(QVariantList(arguments) << options);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), request);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, request,
                     [request](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         const QDBusPendingReply<QDBusObjectPath> reply = *w;
                         if (reply.isError()) {
                             request->finish(kFailed, {});
                             return;
                         }
                         // Portals older than 0.9 chose the path themselves.
                         const QString path = reply.value().path();
                         if (path != request->m_path && !request->listen(path))
                             request->finish(kFailed, {});
                     });
}

void PortalRequest::cancelAll(QObject* context) {
    for (PortalRequest* request : context->findChildren<PortalRequest*>(Qt::FindDirectChildrenOnly)) {
        request->m_done = nullptr;
        request->deleteLater();
    }
}

void PortalRequest::onResponse(uint response, const QVariantMap& results) {
    finish(response, results);
}

void PortalRequest::finish(uint response, const QVariantMap& results) {
    if (!m_done)
        return;
    m_bus.disconnect(service(), m_path, kRequestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
    Done done = std::move(m_done);
    m_done = nullptr;
    deleteLater();
    done(response, results);
}

} // namespace morvane
