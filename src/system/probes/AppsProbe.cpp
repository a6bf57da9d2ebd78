#include "AppList.h"
#include "KernelFiles.h"
#include "Probes.h"
#include "X11Display.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSet>
#include <QSocketNotifier>

#include <climits>
#include <vector>

#include <sys/stat.h>

// Xlib last: its macros (None, Bool, Status...) would break the Qt headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/Xutil.h>

namespace morvane {

namespace {

using namespace kernelfiles;

// Processes come and go slowly compared with the tick; a few seconds of delay in noticing a
// newly started application does not matter.
constexpr qint64 kProcessCacheMs = 5000;
// Enough for any real client list (in 32-bit units).
constexpr long kMaxClients = 8192;
// A desktop entry is a few kilobytes; anything much bigger is not one.
constexpr qint64 kMaxDesktopFile = 512 * 1024;

// Value escapes of the desktop entry format: \s \n \t \r \\.
QString unescapeValue(QStringView value) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == u's')
            out += u' ';
        else if (next == u'n')
            out += u'\n';
        else if (next == u't')
            out += u'\t';
        else if (next == u'r')
            out += u'\r';
        else
            out += next;
    }
    return out;
}

// Display names of the installed applications, by the keys a running program can be known by.
class DesktopIndex {
public:
    std::optional<QString> find(const QString& key) const {
        const QString lower = key.toLower();
        if (auto it = m_byWmClass.constFind(lower); it != m_byWmClass.cend())
            return *it;
        if (auto it = m_byId.constFind(lower); it != m_byId.cend())
            return *it;
        return std::nullopt;
    }

    // The user's directory comes first, so that its entries override (or hide) the system's
    // ones of the same id.
    void load(const QStringList& directories) {
        m_byWmClass.clear();
        m_byId.clear();
        QSet<QString> seen;
        const QStringList nameKeys = localizedNameKeys();
        for (const QString& dir : directories) {
            QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                // kde/foo.desktop has the id kde-foo.
                QString id = QDir(dir).relativeFilePath(path);
                id.chop(int(sizeof(".desktop") - 1));
                id.replace(u'/', u'-');
                id = id.toLower();
                if (seen.contains(id))
                    continue;
                seen.insert(id);
                addEntry(id, path, nameKeys);
            }
        }
    }

private:
    static QStringList localizedNameKeys() {
        // "es_AR" looks for Name[es_AR] first, then Name[es].
        const QString locale = QLocale::system().name();
        QStringList keys{QStringLiteral("Name[%1]").arg(locale)};
        const qsizetype underscore = locale.indexOf(u'_');
        if (underscore > 0)
            keys << QStringLiteral("Name[%1]").arg(locale.left(underscore));
        return keys;
    }

    void addEntry(const QString& id, const QString& path, const QStringList& nameKeys) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxDesktopFile)
            return;
        const QString text = QString::fromUtf8(file.readAll());
        bool inMainGroup = false;
        bool hidden = false;
        QString name;
        QString localizedName;
        qsizetype localizedRank = nameKeys.size();
        QString wmClass;
        for (QStringView line : QStringView(text).split(u'\n')) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(u'#'))
                continue;
            if (line.startsWith(u'[')) {
                inMainGroup = line == u"[Desktop Entry]";
                continue;
            }
            const qsizetype eq = line.indexOf(u'=');
            if (!inMainGroup || eq <= 0)
                continue;
            const QStringView key = line.left(eq).trimmed();
            const QStringView value = line.mid(eq + 1).trimmed();
            if (key == u"Name") {
                name = unescapeValue(value);
            } else if (key.startsWith(u"Name[")) {
                const qsizetype rank = nameKeys.indexOf(key.toString());
                if (rank >= 0 && rank < localizedRank) {
                    localizedRank = rank;
                    localizedName = unescapeValue(value);
                }
            } else if (key == u"StartupWMClass") {
                wmClass = unescapeValue(value).toLower();
            } else if (key == u"Hidden") {
                hidden = value == u"true";
            }
        }
        // Hidden=true is how a user deletes a system entry; it still shadows the id.
        const QString display = localizedName.isEmpty() ? name : localizedName;
        if (hidden || display.isEmpty())
            return;
        if (!wmClass.isEmpty() && !m_byWmClass.contains(wmClass))
            m_byWmClass.insert(wmClass, display);
        m_byId.insert(id, display);
    }

    QHash<QString, QString> m_byWmClass;
    QHash<QString, QString> m_byId;
};

QStringList applicationDirectories(const QString& root) {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!dataHome.startsWith(u'/'))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList out{QDir::cleanPath(root + u'/' + dataHome + QStringLiteral("/applications"))};
    for (const QString& dir : dataDirs.split(u':', Qt::SkipEmptyParts))
        if (dir.startsWith(u'/')) // relative entries are invalid and ignored
            out << QDir::cleanPath(root + u'/' + dir + QStringLiteral("/applications"));
    out.removeDuplicates();
    return out;
}

std::optional<QString> processName(const std::string& root, unsigned long pid) {
    const std::optional<std::string> comm = readSmall(root + "/proc/" + std::to_string(pid) + "/comm", 64);
    if (!comm)
        return std::nullopt;
    const QString name = QString::fromUtf8(trimmed(*comm));
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

// Suppresses every X error on our own connection without touching the process-wide handler,
// which Qt and the other adapters may rely on. Windows vanish between our requests all the time;
// a failed request simply returns its failure status.
int ignoreXError(Display*, xError*, XExtCodes*, int* replyStatus) {
    *replyStatus = 0;
    return 1;
}

} // namespace

struct X11AppsProbe::Impl {
    explicit Impl(const QString& rootDir)
        : root(rootPath(rootDir))
        , applicationDirs(applicationDirectories(rootDir)) {
        Display* dpy = display.get();
        if (!dpy)
            return;
        if (XExtCodes* codes = XAddExtension(dpy))
            XESetError(dpy, codes->extension, &ignoreXError);
        rootWindow = DefaultRootWindow(dpy);
        netActiveWindow = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
        netClientList = XInternAtom(dpy, "_NET_CLIENT_LIST", False);
        netWmPid = XInternAtom(dpy, "_NET_WM_PID", False);
        XSelectInput(dpy, rootWindow, PropertyChangeMask);
        XFlush(dpy);
        // Without reading, the server would queue property events for us for as long as the
        // probe is not asked.
        if (QCoreApplication::instance()) {
            notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(dpy), QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { drainEvents(); });
        }
    }

    // Reads what the server sent without waiting: a non-blocking read, no round trip.
    void drainEvents() {
        Display* dpy = display.get();
        if (!dpy)
            return;
        while (XPending(dpy) > 0) {
            XEvent event;
            XNextEvent(dpy, &event);
            if (event.type != PropertyNotify)
                continue;
            const XPropertyEvent& change = event.xproperty;
            if (change.window == rootWindow) {
                if (change.atom == netActiveWindow)
                    activeDirty = true;
                else if (change.atom == netClientList)
                    clientsDirty = true;
            } else if (change.window == activeWindow &&
                       (change.atom == XA_WM_CLASS || change.atom == netWmPid)) {
                activeDirty = true;
                clientsDirty = true;
                windowNames.remove(activeWindow);
            }
        }
    }

    std::vector<unsigned long> windowProperty(Window window, Atom property, Atom type, long maxLength) {
        Atom actualType = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        std::vector<unsigned long> out;
        if (XGetWindowProperty(display.get(), window, property, 0, maxLength, False, type, &actualType,
                               &format, &count, &remaining, &data) != Success)
            return out;
        // Format 32 arrives as an array of C longs, whatever their width.
        if (data && actualType == type && format == 32) {
            const auto* values = reinterpret_cast<const unsigned long*>(data);
            out.assign(values, values + count);
        }
        if (data)
            XFree(data);
        return out;
    }

    std::optional<QString> displayNameOfProcess(unsigned long pid) const {
        const std::optional<QString> comm = processName(root, pid);
        if (!comm)
            return std::nullopt;
        return desktop.find(*comm).value_or(*comm);
    }

    std::optional<QString> displayNameOfWindow(Window window) {
        QString instance;
        QString windowClass;
        XClassHint hint{};
        if (XGetClassHint(display.get(), window, &hint)) {
            instance = QString::fromUtf8(hint.res_name);
            windowClass = QString::fromUtf8(hint.res_class);
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        for (const QString& key : {windowClass, instance})
            if (!key.isEmpty())
                if (std::optional<QString> name = desktop.find(key))
                    return name;
        if (!windowClass.isEmpty())
            return windowClass;
        if (!instance.isEmpty())
            return instance;
        const std::vector<unsigned long> pid = windowProperty(window, netWmPid, XA_CARDINAL, 1);
        if (!pid.empty() && pid.front() > 0)
            return displayNameOfProcess(pid.front());
        return std::nullopt;
    }

    void refreshActive() {
        activeDirty = false;
        const std::vector<unsigned long> value = windowProperty(rootWindow, netActiveWindow, XA_WINDOW, 1);
        const Window window = value.empty() ? 0 : value.front();
        if (window != activeWindow) {
            // Listening on the window itself catches a program that renames itself (WM_CLASS)
            // while in front; selecting before reading leaves no gap.
            if (activeWindow)
                XSelectInput(display.get(), activeWindow, NoEventMask);
            if (window)
                XSelectInput(display.get(), window, PropertyChangeMask);
            activeWindow = window;
        }
        activeName = window ? displayNameOfWindow(window) : std::nullopt;
    }

    void refreshClients() {
        clientsDirty = false;
        QHash<unsigned long, QString> names;
        clientNames.clear();
        for (unsigned long window : windowProperty(rootWindow, netClientList, XA_WINDOW, kMaxClients)) {
            // Only windows that are new to the list cost a round trip.
            auto known = windowNames.constFind(window);
            const QString name =
                known != windowNames.cend() ? *known : displayNameOfWindow(window).value_or(QString());
            names.insert(window, name);
            if (!name.isEmpty())
                clientNames << name;
        }
        windowNames = std::move(names);
    }

    void refreshProcesses() {
        processNames.clear();
        std::vector<unsigned long> pids;
        for (const std::string& entry : sortedEntries(root + "/proc"))
            if (const std::optional<std::int64_t> pid = toCount(entry))
                pids.push_back((unsigned long)(*pid));
        std::sort(pids.begin(), pids.end());
        const uid_t uid = ::getuid();
        QSet<QString> seen;
        for (unsigned long pid : pids) {
            const std::string dir = root + "/proc/" + std::to_string(pid);
            struct stat st;
            if (::stat(dir.c_str(), &st) != 0 || st.st_uid != uid)
                continue;
            // Kernel threads belong to root and have no command line; only root sees them here.
            if (uid == 0) {
                const std::optional<std::string> cmdline = readSmall(dir + "/cmdline", 1);
                if (!cmdline || cmdline->empty())
                    continue;
            }
            if (std::optional<QString> name = displayNameOfProcess(pid); name && !seen.contains(*name)) {
                seen.insert(*name);
                processNames << *name;
            }
        }
    }

    // Reloads the desktop entries when one of their directories changed (an application was
    // installed or removed); names computed from the old entries are dropped.
    void refreshDesktopIndex() {
        QList<qint64> stamps;
        for (const QString& dir : applicationDirs) {
            const QFileInfo info(dir);
            stamps << (info.exists() ? info.lastModified().toMSecsSinceEpoch() : -1);
        }
        if (desktopLoaded && stamps == desktopStamps)
            return;
        desktop.load(applicationDirs);
        desktopStamps = stamps;
        desktopLoaded = true;
        windowNames.clear();
        activeDirty = clientsDirty = true;
    }

    std::string root;
    QStringList applicationDirs;
    X11Display display;
    Window rootWindow = 0;
    Atom netActiveWindow = 0;
    Atom netClientList = 0;
    Atom netWmPid = 0;
    std::unique_ptr<QSocketNotifier> notifier;

    bool activeDirty = true;
    Window activeWindow = 0;
    std::optional<QString> activeName;

    bool clientsDirty = true;
    QHash<unsigned long, QString> windowNames; // by window, for the client list
    QStringList clientNames;                   // in client-list order

    QElapsedTimer processAge;
    QStringList processNames;

    DesktopIndex desktop;
    QList<qint64> desktopStamps;
    bool desktopLoaded = false;
};

X11AppsProbe::X11AppsProbe(QString root)
    : d(std::make_unique<Impl>(root)) {}

X11AppsProbe::~X11AppsProbe() = default;

std::optional<QString> X11AppsProbe::runningApp(const QString& list) {
    if (AppList::terms(list).isEmpty())
        return std::nullopt;
    const bool processesStale = !d->processAge.isValid() || d->processAge.elapsed() >= kProcessCacheMs;
    if (processesStale || !d->desktopLoaded)
        d->refreshDesktopIndex();
    if (d->display) {
        d->drainEvents();
        if (d->clientsDirty)
            d->refreshClients();
    }
    if (processesStale) {
        d->refreshProcesses();
        d->processAge.start();
    }
    if (std::optional<QString> window = AppList::firstMatch(d->clientNames, list))
        return window;
    return AppList::firstMatch(d->processNames, list);
}

std::optional<QString> X11AppsProbe::frontmostAppName() {
    if (!d->display)
        return std::nullopt;
    if (!d->desktopLoaded)
        d->refreshDesktopIndex();
    d->drainEvents();
    if (d->activeDirty)
        d->refreshActive();
    return d->activeName;
}

} // namespace morvane
