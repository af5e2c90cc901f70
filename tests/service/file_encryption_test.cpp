#include "service/file_encryption.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "appinfo_test_util.h"

namespace fv {
namespace {

using testutil::FromHex;
using testutil::ReadFileBytes;
using testutil::ToHex;
using testutil::WriteFileBytes;

TMemoryStream StreamOf(const std::string& s) { return TMemoryStream(std::vector<uint8_t>(s.begin(), s.end())); }
std::string TextOf(const TMemoryStream& m) { return std::string(m.Data().begin(), m.Data().end()); }

// Blowfish's published single-block test vectors (key, plaintext, ciphertext), big-endian words
TEST(BlowFish, PublishedTestVectors) {
    struct V {
        const char *key, *plain, *cipher;
    } vectors[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    };
    for (const V& v : vectors) {
        TBlowFish bf;
        auto key = FromHex(v.key);
        bf.SetKey(key.data(), key.size());
        auto block = FromHex(v.plain);
        bf.EncryptBytes(block.data(), block.data());
        EXPECT_EQ(ToHex(block.data(), 8), v.cipher) << "key " << v.key;
        bf.DecryptBytes(block.data(), block.data());
        EXPECT_EQ(ToHex(block.data(), 8), v.plain) << "key " << v.key;
    }
    TBlowFish bf;
    EXPECT_EQ(bf.GetName(), "BlowFish");
    EXPECT_EQ(bf.GetBlockSize(), 8);
}

// the published CBC example: 16-byte key, IV FEDCBA9876543210, "7654321 Now is the time for " + NUL, zero-filled
TEST(BlowFish, PublishedCbcExample) {
    auto key = FromHex("0123456789ABCDEFF0E1D2C3B4A59687");
    auto iv = FromHex("FEDCBA9876543210");
    TCryptCBC cbc(key.data(), key.size(), true, pmNone, iv.data(), iv.size(), new TBlowFish());
    uint8_t data[32] = {};
    std::memcpy(data, "7654321 Now is the time for ", 28);
    cbc.BeginEncrypt();
    EXPECT_EQ(cbc.EncryptBlocks(data, data, 32), 32);
    EXPECT_EQ(ToHex(data, 32), "6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC");
    cbc.BeginDecrypt();
    cbc.DecryptBlocks(data, data, 32);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 28), "7654321 Now is the time for ");
}

TEST(BlowFish, EmptyKeyIsRefused) {
    TBlowFish bf;
    uint8_t k = 0;
    EXPECT_THROW(bf.SetKey(&k, 0), ECryptError);
    EXPECT_THROW(CreateBlowFishCBC(""), ECryptError);
    TMemoryStream src = StreamOf("x"), dst;
    EXPECT_THROW(EncryptStreamWithKey(src, dst, ""), ECryptError);
}

TEST(CryptPadding, AddAndMeasureEveryMode) {
    auto key = FromHex("0011223344556677");
    for (uint8_t mode : {pmPKCS7, pmOneAndZeros, pmZeros, pmSpaces}) {
        TCryptCBC c(key.data(), key.size(), true, mode, nullptr, 0, new TBlowFish());
        uint8_t block[8] = {'a', 'b', 'c', 0, 0, 0, 0, 0};
        EXPECT_EQ(c.Pad(block, 3, true), 5) << int(mode);
        const char* expected = mode == pmPKCS7         ? "6162630505050505"
                               : mode == pmOneAndZeros ? "6162638000000000"
                               : mode == pmZeros       ? "6162630000000000"
                                                       : "6162632020202020";
        EXPECT_EQ(ToHex(block, 8), expected);
        EXPECT_EQ(c.Pad(block, 8, false), 5) << int(mode);
    }
    TCryptCBC pkcs(key.data(), key.size(), true, pmPKCS7, nullptr, 0, new TBlowFish());
    uint8_t bad1[8] = {1, 2, 3, 4, 5, 6, 7, 0};   // pad length 0
    uint8_t bad2[8] = {1, 2, 3, 4, 5, 6, 7, 9};   // longer than the block
    uint8_t bad3[8] = {1, 2, 3, 4, 5, 6, 2, 3};   // pad bytes differ
    EXPECT_THROW(pkcs.Pad(bad1, 8, false), ECryptError);
    EXPECT_THROW(pkcs.Pad(bad2, 8, false), ECryptError);
    EXPECT_THROW(pkcs.Pad(bad3, 8, false), ECryptError);
    uint8_t full[8] = {8, 8, 8, 8, 8, 8, 8, 8};
    EXPECT_EQ(pkcs.Pad(full, 8, false), 8);

    TCryptCBC one(key.data(), key.size(), true, pmOneAndZeros, nullptr, 0, new TBlowFish());
    uint8_t zeros[8] = {};
    EXPECT_THROW(one.Pad(zeros, 8, false), ECryptError);
    uint8_t noMark[8] = {1, 2, 3, 4, 5, 0x7F, 0, 0};
    EXPECT_THROW(one.Pad(noMark, 8, false), ECryptError);
    TCryptCBC z(key.data(), key.size(), true, pmZeros, nullptr, 0, new TBlowFish());
    EXPECT_EQ(z.Pad(zeros, 8, false), 8);
}

// stream lengths at the chunk and block edges, and chaining across the 8192-byte chunks
TEST(CryptStream, LengthsAndRoundTrips) {
    struct L {
        size_t plain;
        int64_t cipher;
    } cases[] = {{0, 8}, {1, 8}, {7, 8}, {8, 16}, {8191, 8192}, {8192, 8200}, {8193, 8200}, {20000, 20008}, {3 * 8192, 3 * 8192 + 8}};
    for (const L& c : cases) {
        std::string plain(c.plain, '\0');
        for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<char>((i * 7919) >> 3);
        TMemoryStream src = StreamOf(plain), enc, dec;
        EXPECT_EQ(EncryptStreamWithKey(src, enc, "key text"), c.cipher) << c.plain;
        ASSERT_EQ(enc.Size(), c.cipher);
        DecryptStreamWithKey(enc, dec, "key text");
        EXPECT_EQ(TextOf(dec), plain) << c.plain;
    }
    // same key, same content: same bytes (fixed IV); another key: other bytes that do not decrypt
    TMemoryStream a = StreamOf("<getAppInfo_response ver=\"1\"/>"), e1, e2, e3;
    EncryptStreamWithKey(a, e1, "k");
    EncryptStreamWithKey(a, e2, "k");
    EncryptStreamWithKey(a, e3, "K");
    EXPECT_EQ(e1.Data(), e2.Data());
    EXPECT_NE(e1.Data(), e3.Data());
}

TEST(CryptStream, DamagedCiphertextRaises) {
    TMemoryStream src = StreamOf(std::string(100, 'x')), enc;
    EncryptStreamWithKey(src, enc, "key");
    TMemoryStream out;
    // another key: the pad of the last block does not measure (one chance in a few hundred that it does)
    int passed = 0;
    for (std::string k : {"key2", "key3", "key4", "Key"}) {
        try {
            DecryptStreamWithKey(enc, out, k);
            ++passed;
        } catch (const ECryptError&) {
        }
    }
    EXPECT_LT(passed, 2);
    TMemoryStream cut(std::vector<uint8_t>(enc.Data().begin(), enc.Data().end() - 3));
    EXPECT_THROW(DecryptStreamWithKey(cut, out, "key"), ECryptError);
    TMemoryStream empty;
    EXPECT_THROW(DecryptStreamWithKey(empty, out, "key"), ECryptError);
}

class EncryptedFile : public ::testing::Test {
protected:
    testutil::TServiceTempDir Dir;
    std::string Name = Dir.File("Config");
};

TEST_F(EncryptedFile, LayoutAndRoundTrip) {
    TMemoryStream empty;
    SaveEncryptedFile(&empty, Name, "XML", "k");
    std::string bytes = ReadFileBytes(Name);
    ASSERT_EQ(bytes.size(), 176u);
    EXPECT_EQ(ToHex(reinterpret_cast<const uint8_t*>(bytes.data()), 8), "BCBC01A000000000");
    EXPECT_EQ(bytes[16], 8);  // content length, little-endian
    EXPECT_EQ(bytes[32], 3);
    EXPECT_EQ(bytes.substr(33, 3), "XML");
    struct stat st {};
    ASSERT_EQ(::stat(Name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    std::string doc(10000, 'd');
    TMemoryStream src = StreamOf(doc);
    std::string tag200(200, 'T');
    SaveEncryptedFile(&src, Name, tag200, "host-user");
    EXPECT_EQ(ReadFileBytes(Name).size(), 168u + 10008u);
    TMemoryStream dest = StreamOf("old contents that are longer than nothing");
    std::string tag;
    ASSERT_TRUE(LoadEncryptedFile(Name, "host-user", &dest, tag));
    EXPECT_EQ(tag, std::string(128, 'T'));
    EXPECT_EQ(TextOf(dest), doc);

    // the header differs only in the time of writing
    std::string first = ReadFileBytes(Name);
    SaveEncryptedFile(&src, Name, tag200, "host-user");
    std::string second = ReadFileBytes(Name);
    ASSERT_EQ(first.size(), second.size());
    EXPECT_EQ(first.substr(0, 24), second.substr(0, 24));
    EXPECT_EQ(first.substr(32), second.substr(32));

    SaveEncryptedFile(nullptr, Dir.File("none"), "XML", "k");
    EXPECT_LT(testutil::ReadFileBytes(Dir.File("none")).size(), 1u);
}

TEST_F(EncryptedFile, ForeignAndDamagedFilesAreRejected) {
    TMemoryStream src = StreamOf("<x/>");
    SaveEncryptedFile(&src, Name, "XML", "k");
    const std::string good = ReadFileBytes(Name);
    TMemoryStream dest = StreamOf("keep");
    std::string tag = "before";

    EXPECT_FALSE(LoadEncryptedFile(Dir.File("missing"), "k", &dest, tag));
    EXPECT_FALSE(LoadEncryptedFile(Name, "k", nullptr, tag));
    for (int at : {0, 1, 2, 3}) {  // signature BC BC, version 01 A0
        std::string bad = good;
        bad[at] ^= 0x01;
        WriteFileBytes(Name, bad);
        EXPECT_FALSE(LoadEncryptedFile(Name, "k", &dest, tag)) << at;
        EXPECT_EQ(tag, "before");
    }
    WriteFileBytes(Name, good.substr(0, 167));
    EXPECT_FALSE(LoadEncryptedFile(Name, "k", &dest, tag));
    for (int64_t len : {int64_t(0), int64_t(-8)}) {
        std::string bad = good;
        for (int i = 0; i < 8; ++i) bad[16 + i] = static_cast<char>(uint64_t(len) >> (8 * i));
        WriteFileBytes(Name, bad);
        EXPECT_FALSE(LoadEncryptedFile(Name, "k", &dest, tag));
    }
    // a declared length beyond the file, or absurdly large: read error before any allocation
    for (int64_t len : {int64_t(16), int64_t(1) << 40, INT64_MAX}) {
        std::string bad = good;
        for (int i = 0; i < 8; ++i) bad[16 + i] = static_cast<char>(uint64_t(len) >> (8 * i));
        WriteFileBytes(Name, bad);
        EXPECT_THROW(LoadEncryptedFile(Name, "k", &dest, tag), EReadError) << len;
    }
    // a tampered last block or another key: a damaged file, not garbage content
    std::string tampered = good;
    tampered.back() ^= 0x40;
    WriteFileBytes(Name, tampered);
    EXPECT_THROW(LoadEncryptedFile(Name, "k", &dest, tag), ECryptError);
    std::string tagTooLong = good;
    tagTooLong[32] = static_cast<char>(129);
    WriteFileBytes(Name, tagTooLong);
    EXPECT_FALSE(LoadEncryptedFile(Name, "k", &dest, tag));
    EXPECT_EQ(TextOf(dest), "keep");
}

}  // namespace
}  // namespace fv
