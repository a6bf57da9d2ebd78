#include "LoginItem.h"

#include "QtPorts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace morvane {

namespace {

const QString kGroup = QStringLiteral("[Desktop Entry]");

void writeToSyslog(const QString& line) {
    openlog("morvane", LOG_PID, LOG_USER);
    syslog(LOG_USER | LOG_ERR, "%s", line.toUtf8().constData());
}

QString defaultConfigHome() {
    // The XDG base directory rules say a relative XDG_CONFIG_HOME is to be ignored.
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString reason(const QString& what, const QString& path, int error) {
    return QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(path), qt_error_string(error));
}

// mkdir -p by hand: QDir::mkpath answers only true or false, and the log must say why.
std::optional<QString> makeDirectories(const QString& path) {
    const QByteArray native = QFile::encodeName(QDir::cleanPath(path));
    for (qsizetype end = 1; end <= native.size(); ++end) {
        if (end < native.size() && native.at(end) != '/')
            continue;
        const QByteArray part = native.left(end);
        if (::mkdir(part.constData(), 0700) == 0)
            continue;
        int error = errno;
        if (error == EEXIST) {
            struct stat st {};
            if (::stat(part.constData(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            error = ENOTDIR;
        }
        return reason(QStringLiteral("could not create the folder"), QFile::decodeName(part), error);
    }
    return std::nullopt;
}

// Escapes one argument for an Exec key: first the argument quoting rules, then the general
// string escapes, which a reader undoes first. `%` would otherwise start a field code.
QString quoteExecArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted += u'"';

    QString value;
    for (const QChar c : quoted) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else if (c == u'%')
            value += QStringLiteral("%%");
        else
            value += c;
    }
    return value;
}

} // namespace

LoginItem::LoginItem(QString configHome, QString executable, LogWriter log)
    : m_configHome(configHome.isEmpty() ? defaultConfigHome() : std::move(configHome))
    , m_executable(executable.isEmpty()
                       ? launcherFor(QCoreApplication::applicationFilePath(), launcherLinks())
                       : std::move(executable))
    , m_log(log ? std::move(log) : LogWriter(writeToSyslog)) {}

QString LoginItem::entryPath() const {
    return m_configHome + QStringLiteral("/autostart/morvane.desktop");
}

QString LoginItem::execValue(const QString& executable) {
    return quoteExecArgument(executable);
}

QString LoginItem::launcherFor(const QString& executable, const QStringList& links) {
    // applicationFilePath() has already resolved the link the program was started through.
    const QString target = QFileInfo(executable).canonicalFilePath();
    if (target.isEmpty())
        return executable;
    for (const QString& link : links) {
        if (QFileInfo(link).canonicalFilePath() == target)
            return link;
    }
    return executable;
}

QStringList LoginItem::launcherLinks() {
    return {QDir::homePath() + QStringLiteral("/.local/bin/morvane"),
            QStringLiteral("/usr/local/bin/morvane"), QStringLiteral("/usr/bin/morvane")};
}

bool LoginItem::isEnabled() const {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inEntry = false;
    QString hidden;
    QString gnomeEnabled;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inEntry = line == kGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inEntry || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (key == u"Hidden")
            hidden = line.mid(equals + 1).trimmed();
        else if (key == u"X-GNOME-Autostart-enabled")
            gnomeEnabled = line.mid(equals + 1).trimmed();
    }
    return hidden != u"true" && gnomeEnabled != u"false";
}

void LoginItem::set(bool on) {
    std::optional<QString> error;
    if (on) {
        error = makeDirectories(m_configHome + QStringLiteral("/autostart"));
        if (!error) {
            QSaveFile file(entryPath());
            const QByteArray entry = (kGroup + QStringLiteral("\nType=Application\nName=Morvane\nExec=") +
                                      execValue(m_executable) +
                                      QStringLiteral("\nTerminal=false\nX-GNOME-Autostart-enabled=true\n"))
                                         .toUtf8();
            if (!file.open(QIODevice::WriteOnly) || file.write(entry) != entry.size() || !file.commit())
                error = QStringLiteral("could not write %1: %2")
                            .arg(QDir::toNativeSeparators(entryPath()), file.errorString());
        }
    } else if (::unlink(QFile::encodeName(entryPath()).constData()) != 0) {
        const int failure = errno;
        if (failure != ENOENT)
            error = reason(QStringLiteral("could not remove"), entryPath(), failure);
    }
    if (error)
        m_log(QStringLiteral("Morvane: login item error ") + *error);
}

namespace AppRelauncher {

void relaunch(const QString& executable, Termination& termination) {
    // The shell outlives us and starts the new copy once this one has let go of its resources
    // (the tray icon, the bus names). A failed start is dropped: the quit happens regardless.
    QProcess::startDetached(
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QStringLiteral("sleep 1; exec \"$1\""), QStringLiteral("sh"), executable});
    termination.requestQuit();
}

void relaunch(const QString& executable) {
    QtTermination termination;
    relaunch(executable, termination);
}

} // namespace AppRelauncher

} // namespace morvane
