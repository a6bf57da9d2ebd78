#include "StatusNotifierItem.h"

#include "DBusMenu.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <unistd.h>

namespace morvane {

QDBusArgument& operator<<(QDBusArgument& arg, const SniPixmap& pixmap) {
    arg.beginStructure();
    arg << pixmap.width << pixmap.height << pixmap.argb;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniPixmap& pixmap) {
    arg.beginStructure();
    arg >> pixmap.width >> pixmap.height >> pixmap.argb;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip) {
    arg.beginStructure();
    arg << tip.iconName << tip.pixmaps << tip.title << tip.text;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip) {
    arg.beginStructure();
    arg >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
    arg.endStructure();
    return arg;
}

SniPixmap toSniPixmap(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    SniPixmap p{argb.width(), argb.height(), {}};
    p.argb.resize(qsizetype(argb.width()) * argb.height() * 4);
    auto* out = reinterpret_cast<quint32*>(p.argb.data());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            *out++ = qToBigEndian(line[x]);
    }
    return p;
}

QImage fromSniPixmap(const SniPixmap& pixmap) {
    if (pixmap.width <= 0 || pixmap.height <= 0 ||
        pixmap.argb.size() != qsizetype(pixmap.width) * pixmap.height * 4)
        return {};
    QImage img(pixmap.width, pixmap.height, QImage::Format_ARGB32);
    const auto* in = reinterpret_cast<const quint32*>(pixmap.argb.constData());
    for (int y = 0; y < pixmap.height; ++y) {
        auto* line = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < pixmap.width; ++x)
            line[x] = qFromBigEndian(*in++);
    }
    return img;
}

// org.kde.StatusNotifierItem, with the Ayatana label extension.
class StatusNotifierItem::Adaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ empty)
    Q_PROPERTY(morvane::SniPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(morvane::SniPixmapList OverlayIconPixmap READ none)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(morvane::SniPixmapList AttentionIconPixmap READ none)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(morvane::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)
    Q_PROPERTY(uint XAyatanaOrderingIndex READ orderingIndex)
public:
    explicit Adaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item)
        , m_item(item) {}

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("morvane"); }
    QString title() const { return QStringLiteral("Morvane"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    SniPixmapList iconPixmap() const { return m_item->iconPixmaps(); }
    SniPixmapList none() const { return {}; }
    SniToolTip toolTip() const { return m_item->toolTip(); }
    bool itemIsMenu() const { return false; }
    // Qt's own tray items name this path when they have no menu; hosts then send ContextMenu.
    QDBusObjectPath menu() const {
        return QDBusObjectPath(m_item->m_menuOffered ? kMenuPath : QStringLiteral("/"));
    }
    QString label() const { return m_item->label(); }
    // The widest countdown the label usually shows, so that panels reserve a steady width.
    QString labelGuide() const { return QStringLiteral(" 00:00:00"); }
    uint orderingIndex() const { return 0; }

public Q_SLOTS:
    void Activate(int x, int y) { Q_EMIT m_item->activated(QPoint(x, y)); }
    void SecondaryActivate(int x, int y) { Q_EMIT m_item->activated(QPoint(x, y)); }
    void ContextMenu(int x, int y) { Q_EMIT m_item->contextMenuRequested(QPoint(x, y)); }
    void Scroll(int, const QString&) {}

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    StatusNotifierItem* m_item;
};

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, DBusMenu* menu, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_service(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(::getpid()))
    , m_watcher(new QDBusServiceWatcher(
          kWatcher, m_bus,
          QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration, this)) {
    static const bool registered = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmapList>();
        qDBusRegisterMetaType<SniToolTip>();
        return true;
    }();
    Q_UNUSED(registered);
    m_adaptor = new Adaptor(this);
    m_bus.registerObject(kItemPath, this, QDBusConnection::ExportAdaptors);
    if (menu)
        m_bus.registerObject(kMenuPath, menu, QDBusConnection::ExportAdaptors);
    m_bus.registerService(m_service);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this,
            [this] { Q_EMIT watcherChanged(true); });
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { Q_EMIT watcherChanged(false); });
}

StatusNotifierItem::~StatusNotifierItem() {
    m_bus.unregisterService(m_service);
    m_bus.unregisterObject(kItemPath);
    m_bus.unregisterObject(kMenuPath);
}

bool StatusNotifierItem::watcherPresent() const {
    return m_bus.interface() && m_bus.interface()->isServiceRegistered(kWatcher).value();
}

void StatusNotifierItem::start() {
    if (m_withdrawn) {
        m_withdrawn = false;
        m_bus.registerService(m_service);
    }
    if (!watcherPresent())
        return;
    m_menuOffered = hostKind(watcherProgram(m_bus)) != HostKind::contextMenu;
    registerWithWatcher();
}

void StatusNotifierItem::withdraw() {
    if (m_withdrawn)
        return;
    m_withdrawn = true;
    m_bus.unregisterService(m_service);
}

QString StatusNotifierItem::watcherProgram(const QDBusConnection& bus) {
    if (!bus.isConnected() || !bus.interface())
        return {};
    // The bus daemon answers this itself, at once.
    const auto pid = bus.interface()->servicePid(kWatcher);
    if (!pid.isValid())
        return {};
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid.value()));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(comm.read(64)).trimmed();
}

StatusNotifierItem::HostKind StatusNotifierItem::hostKind(const QString& program) {
    // These panels report a right click by ContextMenu, but only when the item offers no menu.
    static const QStringList contextMenuPanels{QStringLiteral("plasmashell"), QStringLiteral("waybar")};
    // xfce4-panel 4.18 runs its status tray as a plugin process named after its slot, e.g.
    // "panel-2-systray", and never reports a right click to an item: it opens the item's menu or
    // the panel's own (it takes right clicks from XEmbed icons too). lxqt-panel 1.2 sends
    // ContextMenu only to an item whose Menu property it cannot read; any path, "/" included,
    // makes it open a dbusmenu there. On both the menu's "Activar / desactivar" is the right
    // click's switch.
    static const QRegularExpression xfcePlugin(QStringLiteral("^panel-\\d+-systray$"));
    if (program == QLatin1String("xfce4-panel") || program == QLatin1String("lxqt-panel") ||
        xfcePlugin.match(program).hasMatch())
        return HostKind::menuOnRightClick;
    if (contextMenuPanels.contains(program))
        return HostKind::contextMenu;
    return HostKind::menuOnly;
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage m = QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"),
                                                    kWatcher, QStringLiteral("RegisterStatusNotifierItem"));
    m << m_service;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(m), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* w) {
        if (w->isError())
            qInfo().noquote() << "morvane: the panel refused the tray item:" << w->error().message();
        w->deleteLater();
    });
}

void StatusNotifierItem::setIcon(const QList<QImage>& sizes) {
    SniPixmapList icon;
    for (const QImage& img : sizes)
        icon << toSniPixmap(img);
    const bool same =
        icon.size() == m_icon.size() &&
        std::equal(icon.cbegin(), icon.cend(), m_icon.cbegin(), [](const auto& a, const auto& b) {
            return a.width == b.width && a.height == b.height && a.argb == b.argb;
        });
    if (same)
        return;
    m_icon = icon;
    Q_EMIT m_adaptor->NewIcon();
}

void StatusNotifierItem::setLabel(const QString& label) {
    if (label == m_label)
        return;
    m_label = label;
    Q_EMIT m_adaptor->XAyatanaNewLabel(m_label, m_adaptor->labelGuide());
}

void StatusNotifierItem::setToolTip(const QString& title, const QString& text) {
    if (title == m_tipTitle && text == m_tipText)
        return;
    m_tipTitle = title;
    m_tipText = text;
    Q_EMIT m_adaptor->NewToolTip();
}

void StatusNotifierItem::announceToolTip() {
    Q_EMIT m_adaptor->NewToolTip();
}

SniToolTip StatusNotifierItem::toolTip() const {
    const QString line = m_tipLine ? m_tipLine() : QString();
    const bool both = !m_tipText.isEmpty() && !line.isEmpty();
    return SniToolTip{
        QString(), {}, m_tipTitle, both ? m_tipText + QLatin1Char('\n') + line : m_tipText + line};
}

} // namespace morvane

#include "StatusNotifierItem.moc"
