#pragma once

#include "Fail.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

namespace morvane {

// The publisher's list of every regular file and symlink in a bundle, one line each, sorted by
// path (byte order), paths relative to the bundle:
//     <sha256, 64 lowercase hex> <kind> <path>
// kind: "f" a file, "x" a file with an execute bit, "l" a symlink (hashed: its target text).
// The manifest and its signature (Signature/Manifest, Signature/Manifest.sig: Base64 of the
// Ed25519 signature of the manifest's bytes, one line) are the only files it leaves out.
struct ManifestEntry {
    QByteArray path;
    char kind = 'f';
    QByteArray sha256;
    bool operator==(const ManifestEntry&) const = default;
};

namespace manifest {

// Entries beyond this many make a manifest unreadable.
inline constexpr qsizetype kMaxEntries = 20000;

// Nothing unless every line is well formed and the paths strictly increase.
std::optional<std::vector<ManifestEntry>> parse(QByteArrayView text);

// What is actually in the bundle at `bundlePath`, sorted by path; nothing when it cannot be read
// completely or holds something other than directories, files and symlinks.
std::optional<std::vector<ManifestEntry>> scan(const QString& bundlePath);

// The same-signer check: the bundle's manifest is signed by `publicKey` (Base64 of the raw
// Ed25519 key of the running bundle) and lists exactly what the bundle holds. Fails with
// "No se pudo verificar la firma" when the key, the manifest or its signature cannot be obtained,
// and "La actualización no está firmada por Brelix" when the signature is not valid for that key
// or the bundle differs from its manifest.
std::optional<Fail> verifySameSigner(const QString& bundlePath, const std::optional<QString>& publicKey);

} // namespace manifest
} // namespace morvane
