#include "QSettingsDefaultsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace morvane {

namespace {

enum class PathKind {
    absent,    // nothing there yet: QSettings will create the file
    sane,      // a regular file small enough to read
    directory, // cannot be replaced without destroying someone's data
    hostile,   // FIFO, device, socket, oversized or unresolvable: never opened
};

// stat() follows symlinks, so a dotfile manager's link to a real file is fine, and it never
// opens the path: opening a FIFO for reading would block until a writer shows up.
PathKind classify(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        // A dangling symlink also ends up here; writing through it is what the user asked for
        // by making it, so it counts as absent. A loop or an unreachable path does not.
        return errno == ENOENT ? PathKind::absent : PathKind::hostile;
    }
    if (S_ISDIR(st.st_mode))
        return PathKind::directory;
    if (!S_ISREG(st.st_mode) || st.st_size > QSettingsDefaultsStore::kMaxFileBytes)
        return PathKind::hostile;
    return PathKind::sane;
}

} // namespace

QSettingsDefaultsStore::QSettingsDefaultsStore()
    : QSettingsDefaultsStore(defaultPath()) {}

QSettingsDefaultsStore::QSettingsDefaultsStore(const QString& path)
    : m_path(path) {
    const PathKind kind = classify(m_path);
    m_readable = kind == PathKind::absent || kind == PathKind::sane;
    if (m_readable)
        m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
}

QSettingsDefaultsStore::~QSettingsDefaultsStore() = default;

QString QSettingsDefaultsStore::defaultPath() {
    // GenericConfigLocation honours XDG_CONFIG_HOME and falls back to ~/.config.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/morvane/morvane.conf");
}

QVariant QSettingsDefaultsStore::value(const QString& key) const {
    if (const auto it = m_memory.constFind(key); it != m_memory.constEnd())
        return *it;
    if (!m_readable || !m_settings)
        return {};
    return m_settings->value(key);
}

void QSettingsDefaultsStore::setValue(const QString& key, const QVariant& value) {
    // Checked again on every write: the file may have been swapped since the last one, and
    // QSettings re-reads a changed file while syncing, which would block on a FIFO.
    const PathKind kind = classify(m_path);
    if (kind == PathKind::directory) {
        m_settings.reset();
        m_readable = false;
        m_memory.insert(key, value);
        return;
    }
    if (kind == PathKind::hostile) {
        // Whatever is there holds nothing we could have written; unlink removes a FIFO or a
        // symlink itself, never the thing it points to.
        m_settings.reset();
        ::unlink(QFile::encodeName(m_path).constData());
    }
    if (!m_settings) {
        // Values kept in memory while the path was unusable go to the new file as well, so
        // nothing set during this process is lost when the path becomes writable.
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
        for (auto it = m_memory.constBegin(); it != m_memory.constEnd(); ++it)
            m_settings->setValue(it.key(), it.value());
        m_memory.clear();
    }
    m_readable = true;
    m_settings->setValue(key, value);
    m_settings->sync();
}

} // namespace morvane
