#include "DBusMenu.h"

#include <QDBusMetaType>
#include <QTimer>

namespace morvane {

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayoutItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children)
        arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayoutItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    item.children.clear();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant v;
        arg >> v;
        const QVariant inner = v.variant();
        if (inner.canConvert<QDBusArgument>())
            item.children << qdbus_cast<DBusMenuLayoutItem>(inner.value<QDBusArgument>());
        else
            item.children << inner.value<DBusMenuLayoutItem>();
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItem& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItem& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuItemKeys& item) {
    arg.beginStructure();
    arg << item.id << item.names;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuItemKeys& item) {
    arg.beginStructure();
    arg >> item.id >> item.names;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event) {
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event) {
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

DBusMenu::DBusMenu(QList<Entry> entries, QObject* parent)
    : QObject(parent)
    , m_entries(std::move(entries)) {
    registerTypes();
    new DBusMenuAdaptor(this);
}

void DBusMenu::registerTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<DBusMenuLayoutItem>();
        qDBusRegisterMetaType<DBusMenuItem>();
        qDBusRegisterMetaType<DBusMenuItemList>();
        qDBusRegisterMetaType<DBusMenuItemKeys>();
        qDBusRegisterMetaType<DBusMenuItemKeysList>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<DBusMenuEventList>();
        qDBusRegisterMetaType<QList<int>>();
        // The adaptor's slots and signals name the lists by these aliases.
        qRegisterMetaType<DBusMenuItemList>("morvane::DBusMenuItemList");
        qRegisterMetaType<DBusMenuItemKeysList>("morvane::DBusMenuItemKeysList");
        qRegisterMetaType<DBusMenuEventList>("morvane::DBusMenuEventList");
        return true;
    }();
    Q_UNUSED(once);
}

QVariantMap DBusMenu::properties(int id) const {
    if (id == 0)
        return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
    if (id < 1 || id > m_entries.size())
        return {};
    return {{QStringLiteral("label"), m_entries.at(id - 1).label},
            {QStringLiteral("enabled"), true},
            {QStringLiteral("visible"), true}};
}

DBusMenuLayoutItem DBusMenu::layout() const {
    DBusMenuLayoutItem root{0, properties(0), {}};
    for (int id = 1; id <= m_entries.size(); ++id)
        root.children << DBusMenuLayoutItem{id, properties(id), {}};
    return root;
}

bool DBusMenu::trigger(int id) {
    if (id < 1 || id > m_entries.size())
        return false;
    // Run after the D-Bus call has returned: an action may open a popup that grabs the pointer.
    QTimer::singleShot(0, this, [this, id] {
        if (m_entries.at(id - 1).action)
            m_entries.at(id - 1).action();
    });
    return true;
}

DBusMenuAdaptor::DBusMenuAdaptor(DBusMenu* menu)
    : QDBusAbstractAdaptor(menu)
    , m_menu(menu) {}

uint DBusMenuAdaptor::GetLayout(int parentId, int recursionDepth, const QStringList&,
                                DBusMenuLayoutItem& layout) {
    DBusMenuLayoutItem root = m_menu->layout();
    if (parentId != 0) {
        layout = DBusMenuLayoutItem{parentId, m_menu->properties(parentId), {}};
        return 1;
    }
    if (recursionDepth == 0)
        root.children.clear();
    layout = root;
    return 1;
}

DBusMenuItemList DBusMenuAdaptor::GetGroupProperties(const QList<int>& ids, const QStringList&) {
    DBusMenuItemList items;
    for (const int id : ids)
        items << DBusMenuItem{id, m_menu->properties(id)};
    return items;
}

QDBusVariant DBusMenuAdaptor::GetProperty(int id, const QString& name) {
    return QDBusVariant(m_menu->properties(id).value(name));
}

void DBusMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant&, uint) {
    if (eventId == QLatin1String("clicked"))
        m_menu->trigger(id);
}

QList<int> DBusMenuAdaptor::EventGroup(const DBusMenuEventList& events) {
    QList<int> errors;
    for (const DBusMenuEvent& e : events) {
        if (e.eventId == QLatin1String("clicked") && !m_menu->trigger(e.id))
            errors << e.id;
    }
    return errors;
}

bool DBusMenuAdaptor::AboutToShow(int) {
    return false;
}

QList<int> DBusMenuAdaptor::AboutToShowGroup(const QList<int>&, QList<int>& idErrors) {
    idErrors.clear();
    return {};
}

} // namespace morvane
