#pragma once
// A read/write buffering stream over another stream. The metadata readers wrap every
// file in one (16 KiB) so that their many small reads become a few reads of the file.
#include <cstdint>
#include <vector>

#include "platform/stream.h"

namespace fv {

FV_DECLARE_EXCEPTION(EBufferedSTreamError, Exception);

// buffer size the header readers and raw-preview readers use
constexpr int kMetadataBufferSize = 16384;

class TBufferedStream : public TStream {
public:
    // inner is not owned; the caller frees it after this stream.
    // A size of 0 or less raises EBufferedSTreamError.
    TBufferedStream(TStream& inner, int32_t bufferSize);
    ~TBufferedStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    void SetSize(int64_t size) override;
    int64_t Position() override;
    int64_t Size() override;

    // 0 idle, 1 reading, 2 writing
    int Mode() const { return FMode; }

private:
    enum : int { mdIdle = 0, mdReading = 1, mdWriting = 2 };
    void Sync();
    int64_t Fill();

    TStream& FInner;
    std::vector<uint8_t> FBuffer;
    int32_t FBufferSize;
    int FMode = mdIdle;
    int32_t FValid = 0;
    int32_t FPos = 0;
};

}  // namespace fv
