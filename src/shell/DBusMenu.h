#pragma once

// A small menu exported as com.canonical.dbusmenu, for panels that open a menu on every click of
// a tray item instead of sending Activate.

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <functional>

namespace morvane {

struct DBusMenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
struct DBusMenuItemKeys {
    int id = 0;
    QStringList names;
};
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuItemList = QList<DBusMenuItem>;
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;
using DBusMenuEventList = QList<DBusMenuEvent>;

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemKeys& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemKeys& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event);

// The menu's entries and what each runs. Flat: one level of plain items.
class DBusMenu final : public QObject {
    Q_OBJECT
public:
    struct Entry {
        QString label;
        std::function<void()> action;
    };
    explicit DBusMenu(QList<Entry> entries, QObject* parent = nullptr);

    static void registerTypes();

    DBusMenuLayoutItem layout() const;
    QVariantMap properties(int id) const;
    // Runs the entry `id` (1-based) once; false for an unknown id.
    bool trigger(int id);

private:
    QList<Entry> m_entries;
};

// com.canonical.dbusmenu on the object that holds a DBusMenu.
class DBusMenuAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
public:
    explicit DBusMenuAdaptor(DBusMenu* menu);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   morvane::DBusMenuLayoutItem& layout);
    morvane::DBusMenuItemList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const morvane::DBusMenuEventList& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

Q_SIGNALS:
    void ItemsPropertiesUpdated(const morvane::DBusMenuItemList& updated,
                                const morvane::DBusMenuItemKeysList& removed);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    DBusMenu* m_menu;
};

} // namespace morvane

Q_DECLARE_METATYPE(morvane::DBusMenuLayoutItem)
Q_DECLARE_METATYPE(morvane::DBusMenuItem)
Q_DECLARE_METATYPE(morvane::DBusMenuItemKeys)
Q_DECLARE_METATYPE(morvane::DBusMenuEvent)
