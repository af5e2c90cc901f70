#include "image/buffered_stream.h"

#include <algorithm>
#include <cstring>

namespace fv {

namespace {
[[noreturn]] void RaiseArg(const char* op, const char* text) {
    throw EBufferedSTreamError(Format("TBufferedStream.%s\r\n%s", op, text));
}
}  // namespace

TBufferedStream::TBufferedStream(TStream& inner, int32_t bufferSize) : FInner(inner), FBufferSize(bufferSize) {
    if (bufferSize <= 0) RaiseArg("Create", "不正なバッファサイズ。");
    FBuffer.resize(static_cast<size_t>(bufferSize));
}

TBufferedStream::~TBufferedStream() {
    // pending writes reach the inner stream; the inner position is left where it ends up
    if (FMode == mdWriting && FPos > 0) {
        try {
            FInner.Write(FBuffer.data(), FPos);
        } catch (...) {
        }
    }
}

void TBufferedStream::Sync() {
    if (FMode == mdReading) {
        if (FValid - FPos != 0) FInner.Seek(-static_cast<int64_t>(FValid - FPos), soCurrent);
    } else if (FMode == mdWriting) {
        if (FPos > 0) FInner.Write(FBuffer.data(), FPos);
    }
    FValid = 0;
    FPos = 0;
    FMode = mdIdle;
}

int64_t TBufferedStream::Fill() {
    int64_t n = FInner.Read(FBuffer.data(), FBufferSize);
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
                int64_t n = FInner.Read(out + done, count - done);
                if (n <= 0) break;
                done += n;
                continue;
            }
            if (Fill() <= 0) break;
        }
        int64_t n = std::min<int64_t>(count - done, FValid - FPos);
        std::memcpy(out + done, FBuffer.data() + FPos, static_cast<size_t>(n));
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
        std::memcpy(FBuffer.data() + FPos, in + done, static_cast<size_t>(n));
        FPos += static_cast<int32_t>(n);
        done += n;
        if (FPos == FBufferSize) {
            int64_t w = FInner.Write(FBuffer.data(), FBufferSize);
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
    int64_t inner = FInner.Position();
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
            target = FInner.Size() + offset;
            break;
        default: return 0;
    }
    if (target != Position()) {
        // a move inside the read buffer only moves the buffer position
        if (FMode == mdReading) {
            int64_t bufStart = FInner.Position() - FValid;
            if (target >= bufStart && target <= bufStart + FValid) {
                FPos = static_cast<int32_t>(target - bufStart);
                return target;
            }
        }
        Sync();
        FInner.Seek(target, soBeginning);
    }
    return Position();
}

void TBufferedStream::SetSize(int64_t size) {
    Sync();
    FInner.SetSize(size);
}

int64_t TBufferedStream::Size() {
    // the inner size, grown by what is still in the write buffer
    int64_t inner = FInner.Size();
    if (FMode == mdWriting) return std::max(inner, FInner.Position() + FPos);
    return inner;
}

}  // namespace fv
