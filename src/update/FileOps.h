#pragma once

// File-system steps of an installation: the private working directory beside the installed
// bundle, the atomic exchange of the two folders, and the removal of what is left over.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace morvane::fileops {

// The system's wording of errno value `error`.
QString errorText(int error);

// Reads the whole file open on `fd` when it is a regular file of at most `limit` bytes, and
// closes `fd` in every case. Checking the open descriptor, not the path, means a FIFO or device
// swapped in is never read (open with O_NONBLOCK so opening one cannot block either).
std::optional<QByteArray> readRegularFile(int fd, qint64 limit);

// A directory "morvane-update-<UUID>" created exclusively, mode 0700, inside `parent`. It is held
// under an exclusive flock for as long as this object lives, which tells recover() that an
// installation is still using it.
class WorkDir {
public:
    // The new directory, or nothing with `error` set to the system's wording.
    static std::shared_ptr<WorkDir> create(const QString& parent, QString* error);
    ~WorkDir();
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const QString& path() const { return m_path; }
    // An O_DIRECTORY descriptor of the directory itself.
    int fd() const { return m_fd; }

    // Removes the directory and everything below it without following symlinks. `afterFirst`
    // runs once, after the first entry is gone. False when something could not be removed.
    bool remove(const std::function<void()>& afterFirst = {});

private:
    WorkDir(QString path, int fd, int parentFd, QByteArray name);
    QString m_path;
    int m_fd = -1;
    int m_parentFd = -1;
    QByteArray m_name;
};

// Whether `name` is a working directory's name: the prefix and an uppercase canonical UUID.
bool isWorkDirName(QByteArrayView name);

// Writes `bytes` to a new file `name` (mode 0600) in the directory `dirFd`; fails if it exists.
// Nothing on success, else the system's wording.
std::optional<QString> writeNewFile(int dirFd, const char* name, QByteArrayView bytes);

// Removes `name` inside `dirFd` and, for a directory, everything below it; never follows a
// symlink. `afterFirst` (may be empty) runs once after the first removal.
bool removeTree(int dirFd, const QByteArray& name, const std::function<void()>& afterFirst = {});

// Swaps the two paths in one step (renameat2 with RENAME_EXCHANGE): at every instant each path
// names one complete folder. Nothing on success, else the system's wording.
std::optional<QString> exchange(const QString& a, const QString& b);

// Whether this process may replace the folder `bundlePath`: create its working directory beside it
// and move it (write access to the folder holding it and to the folder itself). Nothing when it
// may, or when the folder is missing (the installation reports that itself), else the system's
// wording of why not.
std::optional<QString> replaceable(const QString& bundlePath);

// Flushes the file system holding `fd` to disk, so that an exchange that reaches the disk never
// points at contents that did not.
void flush(int fd);

// Removes working directories that an interrupted installation left beside `bundlePath` (ours,
// real directories, not held by a running installation). Answers how many it removed.
int recover(const QString& bundlePath);

} // namespace morvane::fileops
