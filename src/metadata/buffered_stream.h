#pragma once
// A read/write buffering stream over another stream. While it is in use nobody else moves
// the inner stream. The metadata readers wrap every
// file in one (16 KiB) so that their many small reads become a few reads of the file.
#include <cstdint>
#include <memory>

#include "platform/stream.h"

namespace fv {

FV_DECLARE_EXCEPTION(EBufferedSTreamError, Exception);

// buffer size the header readers and raw-preview readers use
constexpr int kMetadataBufferSize = 16384;

class TBufferedStream : public TStream {
public:
    // inner is not owned; the caller frees it after this stream.
    // A size of 0 or less raises EBufferedSTreamError. innerPosition: where the inner
    // stream stands when the caller knows it (a freshly opened file: 0), else -1.
    TBufferedStream(TStream& inner, int32_t bufferSize, int64_t innerPosition = -1);
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
    // the inner stream's position is tracked here instead of asked for (a system call
    // per question on files); the inner stream is ours while this stream is in use
    int64_t InnerRead(void* buffer, int64_t count);
    int64_t InnerWrite(const void* buffer, int64_t count);
    void InnerSeek(int64_t position);

    TStream& FInner;
    std::unique_ptr<uint8_t[]> FBuffer;  // not zero-filled: only bytes read or written are used
    int32_t FBufferSize;
    int FMode = mdIdle;
    int32_t FValid = 0;
    int32_t FPos = 0;
    int64_t FInnerPos = 0;
    int64_t FSizeCache = -1;  // inner size while nothing was written
};

}  // namespace fv
