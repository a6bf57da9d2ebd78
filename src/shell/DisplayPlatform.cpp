#include "DisplayPlatform.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QStringList>

#include <wayland-client-core.h>
#include <xcb/xcb.h>

namespace morvane {

namespace {

QString env(const char* name) { return qEnvironmentVariable(name); }

// Where Qt looks for platform plugins. A folder named by QT_QPA_PLATFORM_PLUGIN_PATH is taken as the
// one place they are meant to come from (packagers and tests point there on purpose).
QStringList pluginFolders() {
    if (const QString only = env("QT_QPA_PLATFORM_PLUGIN_PATH"); !only.isEmpty())
        return {only};
    QStringList folders;
    for (const QString& base : env("QT_PLUGIN_PATH").split(u':', Qt::SkipEmptyParts))
        folders << base + QStringLiteral("/platforms");
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    return folders;
}

// Reads the plugins' metadata only; nothing is loaded.
bool pluginInstalled(const QByteArray& platform) {
    const QString wanted = QString::fromLatin1(platform);
    for (const QString& folder : pluginFolders()) {
        const QDir dir(folder);
        for (const QString& file : dir.entryList({QStringLiteral("*.so")}, QDir::Files)) {
            const QJsonObject meta =
                QPluginLoader(dir.filePath(file)).metaData().value(QLatin1String("MetaData")).toObject();
            for (const QJsonValue& key : meta.value(QLatin1String("Keys")).toArray())
                if (key.toString().compare(wanted, Qt::CaseInsensitive) == 0)
                    return true;
        }
    }
    return false;
}

QString package(const QByteArray& platform) {
    if (platform.startsWith("wayland"))
        return QStringLiteral("qt6-wayland");
    if (platform == "xcb")
        return QStringLiteral("qt6-qpa-plugins");
    return QString();
}

// The display variable a platform reads, with its value, for the one line a user sees.
QString variable(const QByteArray& platform) {
    if (platform.startsWith("wayland"))
        return QStringLiteral("WAYLAND_DISPLAY=") + env("WAYLAND_DISPLAY");
    if (platform == "xcb")
        return QStringLiteral("DISPLAY=") + env("DISPLAY");
    return QStringLiteral("QT_QPA_PLATFORM=") + QString::fromLatin1(platform);
}

// Opens and closes a connection the way Qt's plugin would, so that a refused one (a wrong
// XAUTHORITY, a compositor that is gone) is found here rather than in Qt's fatal error.
QString connectionProblem(const QByteArray& platform) {
    if (platform == "xcb") {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        const bool failed = xcb_connection_has_error(c) != 0;
        xcb_disconnect(c);
        if (failed)
            return QStringLiteral("no se pudo conectar con la pantalla X (%1; ¿falta XAUTHORITY?)")
                .arg(variable(platform));
    } else if (platform.startsWith("wayland")) {
        wl_display* display = wl_display_connect(nullptr);
        if (!display)
            return QStringLiteral("no se pudo conectar con el compositor Wayland (%1)").arg(variable(platform));
        wl_display_disconnect(display);
    }
    return QString();
}

QString problemWith(const QByteArray& platform) {
    if (!pluginInstalled(platform)) {
        const QString pkg = package(platform);
        return QStringLiteral("%1 pide el módulo «%2» de Qt, que no está instalado%3")
            .arg(variable(platform), QString::fromLatin1(platform),
                 pkg.isEmpty() ? QString() : QStringLiteral(" (paquete %1)").arg(pkg));
    }
    return connectionProblem(platform);
}

} // namespace

DisplayPlatform DisplayPlatform::choose() {
    QList<QByteArray> candidates;
    const QByteArray asked = qgetenv("QT_QPA_PLATFORM");
    const bool forced = asked.isEmpty();
    if (!forced) {
        for (const QByteArray& entry : asked.split(';')) {
            // "wayland:option=value" carries plugin arguments after the name.
            const QByteArray name = entry.split(':').first().trimmed();
            if (!name.isEmpty())
                candidates << name;
        }
    } else {
        // With XWayland too, the windows go through X: there the popover opens at the tray icon,
        // where the compositor would place a Wayland window wherever it likes. An X display that
        // refuses (XWayland gone, a stale DISPLAY, a wrong XAUTHORITY) leaves the compositor itself.
        if (!env("DISPLAY").isEmpty())
            candidates << "xcb";
        if (!env("WAYLAND_DISPLAY").isEmpty())
            candidates << "wayland";
    }

    DisplayPlatform result;
    result.forced = forced;
    for (const QByteArray& name : candidates) {
        const QString problem = problemWith(name);
        if (problem.isEmpty()) {
            result.name = name;
            if (!result.problem.isEmpty())
                result.fallback = QStringLiteral("%1; las ventanas se abren en %2 (%3)")
                                      .arg(result.problem,
                                           name.startsWith("wayland") ? QStringLiteral("Wayland")
                                                                      : QString::fromLatin1(name),
                                           variable(name));
            result.problem.clear();
            return result;
        }
        if (result.problem.isEmpty())
            result.problem = problem;
    }
    return result;
}

} // namespace morvane
