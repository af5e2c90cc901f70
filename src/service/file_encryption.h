#pragma once
// The block-cipher layer and the encrypted container file. One cipher (Blowfish, with its
// published tables) and one chaining mode (CBC); the container is a fixed 168-byte header
// followed by Blowfish-CBC content with PKCS#7 padding under a fixed initialisation vector.
// Each call builds and frees its own objects, so any thread may encrypt or decrypt.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/stream.h"

namespace fv {

// "Crypt Error": padding that does not measure, a ciphertext that is no whole number of blocks,
// a refused (empty) key
FV_DECLARE_EXCEPTION(ECryptError, Exception);

class TCipher {
public:
    TCipher() = default;
    virtual ~TCipher() = default;
    TCipher(const TCipher&) = delete;
    TCipher& operator=(const TCipher&) = delete;

    virtual std::string GetName() const = 0;
    virtual int GetBlockSize() const = 0;
    virtual void SetKey(const uint8_t* key, size_t length);
    // one block in the cipher's working form, in place
    virtual void EncryptBlock(uint8_t* block) = 0;
    virtual void DecryptBlock(uint8_t* block) = 0;
    // between the working form and block bytes; the base copies the block as it is
    virtual void StoreBlock(const uint8_t* working, uint8_t* bytes);
    virtual void LoadBlock(const uint8_t* bytes, uint8_t* working);

    // load, encrypt (decrypt), store; in and out may be the same buffer
    void EncryptBytes(const uint8_t* in, uint8_t* out);
    void DecryptBytes(const uint8_t* in, uint8_t* out);
};

class TBlowFish : public TCipher {
public:
    TBlowFish();
    std::string GetName() const override { return "BlowFish"; }
    int GetBlockSize() const override { return 8; }
    // the published key schedule; a key of 0 bytes raises ECryptError (the schedule cycles the key)
    void SetKey(const uint8_t* key, size_t length) override;
    void EncryptBlock(uint8_t* block) override;
    void DecryptBlock(uint8_t* block) override;
    // block bytes are two big-endian 32-bit words, left then right
    void StoreBlock(const uint8_t* working, uint8_t* bytes) override;
    void LoadBlock(const uint8_t* bytes, uint8_t* working) override;

    void EncryptPair(uint32_t& left, uint32_t& right) const;
    void DecryptPair(uint32_t& left, uint32_t& right) const;

private:
    uint32_t F(uint32_t x) const;
    uint32_t P[18];
    uint32_t S[4][256];
};

// padding modes of TCrypt
enum : uint8_t { pmPKCS7 = 0, pmOneAndZeros = 1, pmZeros = 2, pmSpaces = 3, pmNone = 4 };

class TCrypt {
public:
    // Runs cipher->SetKey over the key, sizes IV, Register and Scratch at the block size (zeros),
    // copies at most one block of the IV. With ownsCipher the cipher is freed with this object.
    TCrypt(const uint8_t* key, size_t keyLength, bool ownsCipher, uint8_t paddingMode, const uint8_t* iv,
           size_t ivLength, TCipher* cipher);
    virtual ~TCrypt();
    TCrypt(const TCrypt&) = delete;
    TCrypt& operator=(const TCrypt&) = delete;

    virtual void EncryptBlock(const uint8_t* in, uint8_t* out) = 0;
    virtual void DecryptBlock(const uint8_t* in, uint8_t* out) = 0;
    virtual void BeginEncrypt();
    virtual void BeginDecrypt();
    // Adding: pads the block after its first length bytes and returns the pad count.
    // Measuring (adding false): returns the pad count of a full decrypted block. In mode 0 the
    // pad is checked (count 1..block size, every pad byte equal to it); a bad pad raises
    // ECryptError "Crypt Error" so that a damaged or foreign file never passes as content.
    virtual int Pad(uint8_t* block, int length, bool adding);

    int64_t PaddedLength(int64_t length) const;
    int64_t EncryptBlocks(const uint8_t* in, uint8_t* out, int64_t length);
    int64_t DecryptBlocks(const uint8_t* in, uint8_t* out, int64_t length);
    // out must hold PaddedLength(length) bytes; returns that count
    int64_t EncryptFinal(const uint8_t* in, uint8_t* out, int64_t length);
    // returns the plain byte count; length must be a whole, non-zero number of blocks (else ECryptError)
    int64_t DecryptFinal(const uint8_t* in, uint8_t* out, int64_t length);

    // Stream processing in chunks of ChunkSize bytes through one reused buffer; the destination
    // is written from its position; each returns the destination's position afterwards.
    int64_t EncryptStream(TStream& source, TStream& dest);
    int64_t DecryptStream(TStream& source, TStream& dest);

    int BlockSize() const { return FBlockSize; }
    uint8_t PaddingMode() const { return FPaddingMode; }
    TCipher& Cipher() { return *FCipher; }

protected:
    uint8_t FPaddingMode = pmPKCS7;
    TCipher* FCipher = nullptr;
    std::vector<uint8_t> FIV, FRegister, FScratch;
    int32_t FChunkSize = 8192;
    bool FOwnsCipher = false;
    int FBlockSize = 0;

private:
    template <bool Encrypt>
    int64_t ProcessStream(TStream& source, TStream& dest);
};

class TCryptCBC : public TCrypt {
public:
    using TCrypt::TCrypt;
    void EncryptBlock(const uint8_t* in, uint8_t* out) override;
    void DecryptBlock(const uint8_t* in, uint8_t* out) override;
};

// Blowfish-CBC owning its cipher, PKCS#7 padding, the program's fixed IV, the key text's bytes.
// An empty key text raises ECryptError.
std::unique_ptr<TCrypt> CreateBlowFishCBC(const std::string& keyText);
// Both set the streams' positions to 0 and write the destination from its start.
int64_t EncryptStreamWithKey(TStream& source, TStream& dest, const std::string& keyText);
int64_t DecryptStreamWithKey(TStream& source, TStream& dest, const std::string& keyText);

// The container header (168 bytes, little-endian).
constexpr uint16_t kEncryptedFileSignature = 0xBCBC;
constexpr uint16_t kEncryptedFileVersion = 0xA001;
constexpr int kEncryptedFileHeaderSize = 168;
constexpr int kContentTagMax = 128;
// the largest content a container may declare; the program keeps a few kilobytes in it
constexpr int64_t kEncryptedContentMax = 64ll << 20;

struct TEncryptedFileHeader {
    uint16_t Signature = 0;
    uint16_t Version = 0;
    int64_t ContentLength = 0;
    double WriteTime = 0;
    std::string ContentTag;  // at most 128 bytes
};
void WriteEncryptedFileHeader(TStream& s, const TEncryptedFileHeader& h);
// reads the 168 bytes field by field; false when fewer were there or the tag length exceeds 128
bool ReadEncryptedFileHeader(TStream& s, TEncryptedFileHeader& h);

// Writes the container: the whole content is encrypted first, then header and content go to the
// file in one replacing write, readable by the owner only (0600). Nothing happens when source is
// null. File errors raise the stream layer's exceptions.
void SaveEncryptedFile(TStream* source, const std::string& fileName, const std::string& contentTag,
                       const std::string& keyText);
// Reads the container into dest (replacing its contents) and returns true. False when the file
// does not exist, dest is null, the header is short or not ours (tag left as it was) or the
// content length is 0 or less. A file shorter than its declared content, a declared content larger
// than kEncryptedContentMax, or content that does not decrypt (length, padding) raises EReadError
// or ECryptError; dest is untouched whenever the call does not return true.
bool LoadEncryptedFile(const std::string& fileName, const std::string& keyText, TStream* dest,
                       std::string& contentTag);
// The same over a stream already open (the fuzz target reads from memory)
bool LoadEncryptedStream(TStream& file, const std::string& keyText, TStream* dest, std::string& contentTag);

}  // namespace fv
