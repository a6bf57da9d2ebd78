#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>
#include <optional>

namespace morvane::crypto {

// Decodes standard-alphabet Base64 with padding and nothing else (no line breaks, spaces or
// URL-safe letters, no non-zero spare bits) of exactly `bytes` decoded bytes.
std::optional<QByteArray> strictBase64(QByteArrayView text, qsizetype bytes);

// Decodes exactly 2 × `bytes` hexadecimal digits of either case.
std::optional<QByteArray> strictHex(QByteArrayView text, qsizetype bytes);

// SHA-256 as 64 lowercase hexadecimal digits.
QByteArray sha256Hex(QByteArrayView data);

// Incremental SHA-256 for data that arrives in pieces.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void add(QByteArrayView data);
    // 64 lowercase hexadecimal digits; the object is spent afterwards.
    QByteArray hex();

private:
    struct Ctx;
    std::unique_ptr<Ctx> m_ctx;
};

// Whether `signature` (64 bytes) is a valid Ed25519 signature (RFC 8032) of `message` under the
// raw 32-byte public key `key`. False for keys or signatures of any other size.
bool ed25519Verify(QByteArrayView key, QByteArrayView signature, QByteArrayView message);

// Frees what the crypto library keeps for the calling thread (its error queue, say). For worker
// threads, which may outlive the process's own clean-up and leave it looking like a leak.
void releaseThreadState();

} // namespace morvane::crypto
