// Strict decoding of the feed's and the bundle's encoded values, and the digest and signature
// primitives against published test vectors.

#include "Crypto.h"

#include <gtest/gtest.h>

using namespace morvane;

namespace {

const QByteArray kSignature64 = QByteArray(64, '\x5a').toBase64(); // 88 letters, "==" at the end
const QByteArray kKey32 = QByteArray(32, '\x07').toBase64();       // 44 letters, "=" at the end

TEST(StrictDecoding, AcceptsOnlyCanonicalBase64OfTheExactSize) {
    EXPECT_EQ(crypto::strictBase64(kSignature64, 64), QByteArray(64, '\x5a'));
    EXPECT_EQ(crypto::strictBase64(kKey32, 32), QByteArray(32, '\x07'));
    const std::vector<std::pair<const char*, QByteArray>> refused{
        {"trailing newline", kKey32 + '\n'},
        {"leading space", ' ' + kKey32},
        {"line break inside", kKey32.left(20) + "\n" + kKey32.mid(20)},
        {"padding dropped", kKey32.chopped(1)},
        {"URL-safe letters", QByteArray(kKey32).replace('B', '-')},
        {"padding in the middle", kKey32.left(10) + "=" + kKey32.mid(11)},
        {"spare bits set", kKey32.left(42) + "H="}, // 'H' leaves bits after the 32nd byte
        {"31 bytes", QByteArray(31, '\x07').toBase64()},
        {"33 bytes", QByteArray(33, '\x07').toBase64()},
        {"empty", QByteArray()},
    };
    for (const auto& [name, text] : refused)
        EXPECT_FALSE(crypto::strictBase64(text, 32)) << name;
    EXPECT_FALSE(crypto::strictBase64(QByteArray(63, 'x').toBase64(), 64));
    EXPECT_FALSE(crypto::strictBase64(QByteArray(65, 'x').toBase64(), 64));
}

TEST(StrictDecoding, AcceptsOnlySixtyFourHexDigits) {
    const QByteArray digest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    EXPECT_TRUE(crypto::strictHex(digest, 32));
    EXPECT_TRUE(crypto::strictHex(digest.toUpper(), 32));
    EXPECT_FALSE(crypto::strictHex(digest.chopped(1), 32));
    EXPECT_FALSE(crypto::strictHex(digest + "0", 32));
    EXPECT_FALSE(crypto::strictHex(digest.left(63) + "g", 32));
    EXPECT_FALSE(crypto::strictHex(" " + digest.left(63), 32));
    EXPECT_FALSE(crypto::strictHex("0x" + digest.left(62), 32));
}

TEST(Digest, MatchesTheStandardVectors) {
    EXPECT_EQ(crypto::sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    crypto::Sha256 pieces;
    pieces.add("a");
    pieces.add("bc");
    EXPECT_EQ(pieces.hex(), crypto::sha256Hex("abc"));
}

// RFC 8032, section 7.1, tests 1 and 2.
TEST(Ed25519, VerifiesTheRfcVectorsAndNothingElse) {
    const QByteArray key1 =
        QByteArray::fromHex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a");
    const QByteArray sig1 =
        QByteArray::fromHex("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
                            "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b");
    const QByteArray key2 =
        QByteArray::fromHex("3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c");
    const QByteArray sig2 =
        QByteArray::fromHex("92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
                            "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00");
    EXPECT_TRUE(crypto::ed25519Verify(key1, sig1, QByteArray()));
    EXPECT_TRUE(crypto::ed25519Verify(key2, sig2, QByteArray::fromHex("72")));

    EXPECT_FALSE(crypto::ed25519Verify(key2, sig2, QByteArray::fromHex("73")));
    EXPECT_FALSE(crypto::ed25519Verify(key1, sig2, QByteArray::fromHex("72")));
    QByteArray flipped = sig2;
    flipped[10] = char(flipped[10] ^ 1);
    EXPECT_FALSE(crypto::ed25519Verify(key2, flipped, QByteArray::fromHex("72")));
    EXPECT_FALSE(crypto::ed25519Verify(key2.left(31), sig2, QByteArray::fromHex("72")));
    EXPECT_FALSE(crypto::ed25519Verify(key2, sig2.left(63), QByteArray::fromHex("72")));
    EXPECT_FALSE(crypto::ed25519Verify(QByteArray(32, '\0'), sig2, QByteArray::fromHex("72")));
}

} // namespace
