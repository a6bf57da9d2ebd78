#pragma once

// A throwaway directory tree standing in for "/" (its proc, sys and share directories) for the
// probes that read kernel and desktop files.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

namespace morvane::test {

class FixtureTree {
public:
    bool ok() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    // Rewrites the file in place (same inode), as the kernel does: a reader holding the file open
    // sees the new contents.
    bool write(const QString& relative, const QByteArray& contents) const {
        const QString target = path(relative);
        QDir().mkpath(QFileInfo(target).path());
        QFile file(target);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(contents) == contents.size();
    }

    // A symbolic link whose target is kept as given, so relative links stay relative.
    bool link(const QString& relative, const QString& target) const {
        const QString at = path(relative);
        QDir().mkpath(QFileInfo(at).path());
        QFile::remove(at);
        return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()) == 0;
    }

    bool mkdir(const QString& relative) const { return QDir().mkpath(path(relative)); }
    bool remove(const QString& relative) const { return QFile::remove(path(relative)); }

private:
    QTemporaryDir m_dir;
};

} // namespace morvane::test
