#pragma once
// The stream classes every persisted format goes through: an abstract stream with
// 64-bit positions, a file stream, a memory stream, and little-endian field helpers.
// Short reads of fixed-size fields raise EReadError, which loaders report.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace fv {

FV_DECLARE_EXCEPTION(EStreamError, Exception);
FV_DECLARE_EXCEPTION(EReadError, EStreamError);
FV_DECLARE_EXCEPTION(EWriteError, EStreamError);
FV_DECLARE_EXCEPTION(EFOpenError, EStreamError);
FV_DECLARE_EXCEPTION(EFCreateError, EStreamError);

enum TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // bytes actually read / written; never raise for short transfers
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, int origin) = 0;
    virtual void SetSize(int64_t size) = 0;

    virtual int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
    virtual int64_t Size();

    // exact transfers: raise EReadError "Stream read error" / EWriteError "Stream write error"
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    int64_t CopyFrom(TStream& source, int64_t count);  // count 0 copies the whole source

    // little-endian fields
    uint8_t ReadU8();
    uint16_t ReadU16();
    uint32_t ReadU32();
    int32_t ReadI32() { return static_cast<int32_t>(ReadU32()); }
    uint64_t ReadU64();
    int64_t ReadI64() { return static_cast<int64_t>(ReadU64()); }
    double ReadDouble();
    void WriteU8(uint8_t v);
    void WriteU16(uint16_t v);
    void WriteU32(uint32_t v);
    void WriteI32(int32_t v) { WriteU32(static_cast<uint32_t>(v)); }
    void WriteU64(uint64_t v);
    void WriteI64(int64_t v) { WriteU64(static_cast<uint64_t>(v)); }
    void WriteDouble(double v);

    // persisted text: 32-bit byte count, then the bytes. A count that is negative or runs
    // past the end of the stream raises EReadError before anything is allocated.
    std::string ReadText();
    void WriteText(const std::string& s);

    // bytes left between the position and the end
    int64_t Remaining();
};

// Reads a file in read-only mode (others may read and write) or creates/opens it for writing.
class TFileStream : public TStream {
public:
    enum Mode { fmOpenRead, fmOpenReadWrite, fmCreate };
    // raises EFOpenError "Cannot open file \"%s\". %s" / EFCreateError "Cannot create file \"%s\". %s"
    TFileStream(const std::string& path, Mode mode);
    ~TFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override;
    int Handle() const { return FHandle; }
    const std::string& FileName() const { return FFileName; }

private:
    int FHandle = -1;
    std::string FFileName;
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> data) : FData(std::move(data)) {}

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }

    const std::vector<uint8_t>& Data() const { return FData; }
    std::vector<uint8_t>& Data() { return FData; }
    void Clear() { FData.clear(); FPos = 0; }
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);  // written in place (callers that need atomicity use a temp file)

private:
    std::vector<uint8_t> FData;
    int64_t FPos = 0;
};

// A read-only view of bytes owned by someone else (fuzzers, in-memory pictures).
class TBytesStream : public TStream {
public:
    TBytesStream(const void* data, size_t size) : FData(static_cast<const uint8_t*>(data)), FSize(static_cast<int64_t>(size)) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, int origin) override;
    void SetSize(int64_t) override { throw EStreamError("Stream is read-only"); }
    int64_t Size() override { return FSize; }

private:
    const uint8_t* FData;
    int64_t FSize;
    int64_t FPos = 0;
};

}  // namespace fv
