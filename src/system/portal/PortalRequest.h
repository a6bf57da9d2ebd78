#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

namespace morvane {

// The desktop portal's request pattern: a method returns a Request object path at once and the
// answer arrives later as that object's Response signal. We listen on the path the portal will
// use (built from our unique name and a handle_token of ours) before calling, as the portal
// documentation asks, so an early Response is never lost.
class PortalRequest final : public QObject {
    Q_OBJECT
public:
    static constexpr uint kSuccess = 0;
    static constexpr uint kCancelled = 1;
    static constexpr uint kFailed = 2;

    using Done = std::function<void(uint response, const QVariantMap& results)>;

    static const QString& service();
    static const QString& objectPath();

    // Calls `method` of `interface` on the portal with `arguments` followed by `options` (which
    // gains our handle_token). `done` runs once on the main thread: with the Response's code and
    // results, or with kFailed and no results when the call itself fails. Nothing runs when
    // `context` is destroyed first.
    static void call(const QDBusConnection& bus, const QString& interface, const QString& method,
                     const QVariantList& arguments, QVariantMap options, QObject* context, Done done);

    // A property of the portal's `interface` (one blocking round trip: the bus may have to start
    // the portal first); invalid when there is no portal or no such interface.
    static QVariant property(const QDBusConnection& bus, const QString& interface, const QString& name);

    // Forgets every request still pending under `context`: their answers will run nothing.
    static void cancelAll(QObject* context);

    // A fresh token for handle_token / session_handle_token: a valid object path element.
    static QString newToken();

private Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results);

private:
    PortalRequest(const QDBusConnection& bus, QObject* context, Done done);
    bool listen(const QString& path);
    void finish(uint response, const QVariantMap& results);

    QDBusConnection m_bus;
    QString m_path;
    Done m_done;
};

} // namespace morvane
