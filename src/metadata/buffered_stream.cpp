#include "metadata/buffered_stream.h"

#include <algorithm>
#include <cstring>

namespace fv {

namespace {
[[noreturn]] void RaiseArg(const char* op, const char* text) {
    throw EBufferedSTreamError(Format("TBufferedStream.%s\r\n%s", op, text));
}
}  // namespace

TBufferedStream::TBufferedStream(TStream& inner, int32_t bufferSize, int64_t innerPosition)
    : FInner(inner), FBufferSize(bufferSize) {
    if (bufferSize <= 0) RaiseArg("Create", "不正なバッファサイズ。");
    FBuffer.reset(new uint8_t[static_cast<size_t>(bufferSize)]);
    FInnerPos = innerPosition >= 0 ? innerPosition : FInner.Position();
}

int64_t TBufferedStream::InnerRead(void* buffer, int64_t count) {
    int64_t n = FInner.Read(buffer, count);
    if (n > 0) FInnerPos += n;
    return n;
}

int64_t TBufferedStream::InnerWrite(const void* buffer, int64_t count) {
    FSizeCache = -1;
    int64_t n = FInner.Write(buffer, count);
    if (n > 0) FInnerPos += n;
    return n;
}

void TBufferedStream::InnerSeek(int64_t position) { FInnerPos = FInner.Seek(position, soBeginning); }

TBufferedStream::~TBufferedStream() {
    // pending writes reach the inner stream; the inner position is left where it ends up
    if (FMode == mdWriting && FPos > 0) {
        try {
            InnerWrite(FBuffer.get(), FPos);
        } catch (...) {
        }
    }
}

void TBufferedStream::Sync() {
    if (FMode == mdReading) {
        if (FValid - FPos != 0) InnerSeek(FInnerPos - (FValid - FPos));
    } else if (FMode == mdWriting) {
        if (FPos > 0) InnerWrite(FBuffer.get(), FPos);
    }
    FValid = 0;
    FPos = 0;
    FMode = mdIdle;
}

int64_t TBufferedStream::Fill() {
    int64_t n = InnerRead(FBuffer.get(), FBufferSize);
    if (n < 0) n = 0;
    FValid = static_cast<int32_t>(n);
    FPos = 0;
    return n;
}

int64_t TBufferedStream::Read(void* buffer, int64_t count) {
    if (count < 0) RaiseArg("Read", "Countの指定が負です。");
    if (FMode != mdReading) {
        Sync();
        FMode = mdReading;
        if (count == 0) return 0;
        Fill();
    }
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (FPos >= FValid) {
            // a large remainder goes straight to the inner stream
            if (count - done >= FBufferSize) {
                // keep the buffer empty but consistent: Valid = Pos = 0
                FValid = FPos = 0;
                int64_t n = InnerRead(out + done, count - done);
                if (n <= 0) break;
                done += n;
                continue;
            }
            if (Fill() <= 0) break;
        }
        int64_t n = std::min<int64_t>(count - done, FValid - FPos);
        std::memcpy(out + done, FBuffer.get() + FPos, static_cast<size_t>(n));
        FPos += static_cast<int32_t>(n);
        done += n;
    }
    return done;
}

int64_t TBufferedStream::Write(const void* buffer, int64_t count) {
    if (count < 0) RaiseArg("Write", "Countの指定が負です。");
    if (FMode != mdWriting) {
        Sync();
        FMode = mdWriting;
    }
    auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        int64_t n = std::min<int64_t>(count - done, FBufferSize - FPos);
        std::memcpy(FBuffer.get() + FPos, in + done, static_cast<size_t>(n));
        FPos += static_cast<int32_t>(n);
        done += n;
        if (FPos == FBufferSize) {
            int64_t w = InnerWrite(FBuffer.get(), FBufferSize);
            if (w < FBufferSize) {
                // the inner stream is full: what it did not take is lost to the caller's count
                int64_t lost = FBufferSize - std::max<int64_t>(w, 0);
                FPos = 0;
                return done - lost;
            }
            FPos = 0;
        }
    }
    return done;
}

int64_t TBufferedStream::Position() {
    int64_t inner = FInnerPos;
    if (FMode == mdReading) return inner - (FValid - FPos);
    if (FMode == mdWriting) return inner + FPos;
    return inner;
}

int64_t TBufferedStream::Seek(int64_t offset, int origin) {
    int64_t target;
    switch (origin) {
        case soBeginning: target = offset; break;
        case soCurrent: target = Position() + offset; break;
        case soEnd:
            Sync();
            target = Size() + offset;
            break;
        default: return 0;
    }
    if (target != Position()) {
        // a move inside the read buffer only moves the buffer position
        if (FMode == mdReading) {
            int64_t bufStart = FInnerPos - FValid;
            if (target >= bufStart && target <= bufStart + FValid) {
                FPos = static_cast<int32_t>(target - bufStart);
                return target;
            }
        }
        Sync();
        InnerSeek(target);
    }
    return Position();
}

void TBufferedStream::SetSize(int64_t size) {
    Sync();
    FSizeCache = -1;
    FInner.SetSize(size);
    FInnerPos = FInner.Position();
}

int64_t TBufferedStream::Size() {
    // the inner size, grown by what is still in the write buffer
    if (FSizeCache < 0) FSizeCache = FInner.Size();
    if (FMode == mdWriting) return std::max(FSizeCache, FInnerPos + FPos);
    return FSizeCache;
}

}  // namespace fv
