#pragma once

// The tray item as a StatusNotifierItem of our own: icon pixmaps, a countdown label the panels
// that show labels draw next to the icon (XAyatanaLabel), a tooltip, clicks with their screen
// position, and a small exported menu for panels that only open menus.

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>

#include <functional>

class QDBusServiceWatcher;

namespace morvane {

class DBusMenu;

struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb; // ARGB32, network byte order
};
using SniPixmapList = QList<SniPixmap>;
struct SniToolTip {
    QString iconName;
    SniPixmapList pixmaps;
    QString title;
    QString text;
};

QDBusArgument& operator<<(QDBusArgument& arg, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip);

// `image` as the item protocol carries it.
SniPixmap toSniPixmap(const QImage& image);
// And back (for tests and diagnostics).
QImage fromSniPixmap(const SniPixmap& pixmap);

class StatusNotifierItem final : public QObject {
    Q_OBJECT
public:
    static inline const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    static inline const QString kItemPath = QStringLiteral("/StatusNotifierItem");
    static inline const QString kMenuPath = QStringLiteral("/MenuBar");

    // Exports the item and `menu` (which it does not own) on `bus` under a name of its own.
    StatusNotifierItem(QDBusConnection bus, DBusMenu* menu, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Whether a watcher is on the bus right now.
    bool watcherPresent() const;
    // Registers with the watcher, when there is one; call again after watcherChanged(true).
    void start();
    // Takes the item off every panel (its bus name goes, and hosts drop it) until start() again.
    void withdraw();
    // The bus name the item is exported under.
    QString serviceName() const { return m_service; }
    // Whether the item names its menu to the host (decided at each registration by the host).
    bool menuOffered() const { return m_menuOffered; }
    // How the panel owning the watcher treats clicks, by its program name.
    enum class HostKind {
        contextMenu,      // Activate and ContextMenu, the latter only for items that offer no menu
        menuOnRightClick, // Activate, and the item's menu on a right click; never ContextMenu
        menuOnly,         // anything else: some hosts open the item's menu on every click
    };
    static HostKind hostKind(const QString& program);
    // The program name of the process that owns the watcher on `bus`; empty without one.
    static QString watcherProgram(const QDBusConnection& bus);

    // Each setter announces the change to the panel; equal values announce nothing.
    void setIcon(const QList<QImage>& sizes);
    void setLabel(const QString& label);
    void setToolTip(const QString& title, const QString& text);
    // Tooltip text computed whenever a host reads the tooltip, as a line after setToolTip's text (or
    // in its place): "hace 12 s" changes every second, and telling the panel each second would make
    // it fetch the tooltip each second.
    void setToolTipLine(std::function<QString()> line) { m_tipLine = std::move(line); }
    // Tells the panel that the tooltip changed although its text did not (the line did).
    void announceToolTip();

    // For the adaptor.
    const SniPixmapList& iconPixmaps() const { return m_icon; }
    const QString& label() const { return m_label; }
    SniToolTip toolTip() const;

Q_SIGNALS:
    // Left click (and a panel's middle click) at screen position `at` (0, 0 when unknown).
    void activated(QPoint at);
    // Right click.
    void contextMenuRequested(QPoint at);
    // A watcher appeared (true) or left (false).
    void watcherChanged(bool present);

private:
    void registerWithWatcher();

    QDBusConnection m_bus;
    QString m_service;
    QDBusServiceWatcher* m_watcher;
    SniPixmapList m_icon;
    QString m_label;
    bool m_menuOffered = true;
    bool m_withdrawn = false;
    QString m_tipTitle;
    QString m_tipText;
    std::function<QString()> m_tipLine;
    class Adaptor;
    Adaptor* m_adaptor;
    friend class Adaptor;
};

} // namespace morvane

Q_DECLARE_METATYPE(morvane::SniPixmap)
Q_DECLARE_METATYPE(morvane::SniToolTip)
