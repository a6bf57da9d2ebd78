#include "Crypto.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

namespace morvane::crypto {

namespace {

bool isBase64Letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

QByteArray toHex(const unsigned char* bytes, int n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    QByteArray out(2 * n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0xf];
    }
    return out;
}

} // namespace

std::optional<QByteArray> strictBase64(QByteArrayView text, qsizetype bytes) {
    const qsizetype expectedLength = 4 * ((bytes + 2) / 3);
    if (text.size() != expectedLength)
        return std::nullopt;
    const qsizetype padding = (3 - bytes % 3) % 3;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool padPosition = i >= text.size() - padding;
        if (padPosition ? text[i] != '=' : !isBase64Letter(text[i]))
            return std::nullopt;
    }
    auto decoded =
        QByteArray::fromBase64Encoding(text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != bytes)
        return std::nullopt;
    // Spare bits in the last letter must be zero: only one text stands for each value.
    if (decoded.decoded.toBase64() != text.toByteArray())
        return std::nullopt;
    return decoded.decoded;
}

std::optional<QByteArray> strictHex(QByteArrayView text, qsizetype bytes) {
    if (text.size() != 2 * bytes)
        return std::nullopt;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return std::nullopt;
    }
    return QByteArray::fromHex(text.toByteArray());
}

struct Sha256::Ctx {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Ctx() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256()
    : m_ctx(std::make_unique<Ctx>()) {
    EVP_DigestInit_ex(m_ctx->md, EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::add(QByteArrayView data) {
    EVP_DigestUpdate(m_ctx->md, data.data(), static_cast<size_t>(data.size()));
}

QByteArray Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(m_ctx->md, digest, &n);
    return toHex(digest, static_cast<int>(n));
}

QByteArray sha256Hex(QByteArrayView data) {
    Sha256 hash;
    hash.add(data);
    return hash.hex();
}

bool ed25519Verify(QByteArrayView key, QByteArrayView signature, QByteArrayView message) {
    if (key.size() != 32 || signature.size() != 64)
        return false;
    EVP_PKEY* pkey = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                                 reinterpret_cast<const unsigned char*>(key.data()), 32);
    if (!pkey) {
        ERR_clear_error();
        return false;
    }
    bool valid = false;
    if (EVP_MD_CTX* ctx = EVP_MD_CTX_new()) {
        // Ed25519 hashes the message itself: no digest is named, and the check is one-shot.
        if (EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, pkey) == 1) {
            valid = EVP_DigestVerify(ctx, reinterpret_cast<const unsigned char*>(signature.data()), 64,
                                     reinterpret_cast<const unsigned char*>(message.data()),
                                     static_cast<size_t>(message.size())) == 1;
        }
        EVP_MD_CTX_free(ctx);
    }
    EVP_PKEY_free(pkey);
    // A refused signature leaves entries in this thread's OpenSSL error queue; Qt's TLS code
    // reads that queue too, so it must not find ours there.
    ERR_clear_error();
    return valid;
}

void releaseThreadState() {
    OPENSSL_thread_stop();
}

} // namespace morvane::crypto
