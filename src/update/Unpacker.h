#pragma once

#include <QByteArrayView>

#include <functional>

namespace morvane {

// Bounds on what one archive may unpack to; the defaults leave ample room for the application.
struct UnpackLimits {
    qint64 maxTotalBytes = qint64(512) << 20; // all files together, as unpacked
    qint64 maxEntries = 20000;
    int maxDepth = 64; // path components of one entry
    bool operator==(const UnpackLimits&) const = default;
};

// Why an archive was refused.
enum class UnpackError {
    none,
    framing,    // not exactly one ZIP archive: bytes before or after it, truncated, split
    format,     // libarchive could not read an entry or its data
    path,       // absolute, "..", ".", empty or control-character components, too deep or long
    linkTarget, // a symlink that is absolute or, followed through the others, leaves its top-level folder
    entryType,  // hard link, device, FIFO, socket
    duplicate,  // a second entry for a path already unpacked
    tooLarge,   // more bytes than maxTotalBytes
    tooMany,    // more entries than maxEntries
    io,         // the file system refused a write
};

// Whether the ZIP archive's end records account for every byte: the end of central directory
// record (with its comment) ends the data, the central directory ends where that record (or the
// zip64 end record, whose fields the classic ones must match unless saturated) starts, and the first
// local header is at offset 0.
UnpackError checkZipFraming(QByteArrayView zip, qint64 maxEntries);

// Unpacks the ZIP archive `zip` into the directory `dirFd` (libarchive, read side only). Every
// entry must be a directory, a regular file (mode 0755 if any execute bit was set, else 0644) or
// a symlink that, followed through every other, stays inside its top-level folder (checked once all
// is out); nothing is ever written through a symlink or
// outside `dirFd`. `afterFirstFile` (may be empty) runs once after the first file is written.
// On refusal, what was unpacked so far stays for the caller to remove.
UnpackError unpackZip(QByteArrayView zip, int dirFd, const UnpackLimits& limits,
                      const std::function<void()>& afterFirstFile = {});

} // namespace morvane
