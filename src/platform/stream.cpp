#include "platform/stream.h"

#include "platform/byte_order.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fv {

int64_t TStream::Size() {
    int64_t pos = Seek(0, soCurrent);
    int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

int64_t TStream::Remaining() {
    int64_t r = Size() - Position();
    return r < 0 ? 0 : r;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count < 0) throw EReadError("Stream read error");
    if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count < 0) throw EWriteError("Stream write error");
    if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    int64_t done = 0;
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(count, 1), 1 << 16)));
    while (done < count) {
        int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(buf.size()));
        source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        done += n;
    }
    return done;
}

uint8_t TStream::ReadU8() {
    uint8_t b;
    ReadBuffer(&b, 1);
    return b;
}

uint16_t TStream::ReadU16() {
    uint8_t b[2];
    ReadBuffer(b, 2);
    return GetU16(b);
}

uint32_t TStream::ReadU32() {
    uint8_t b[4];
    ReadBuffer(b, 4);
    return GetU32(b);
}

uint64_t TStream::ReadU64() {
    uint64_t lo = ReadU32();
    uint64_t hi = ReadU32();
    return lo | (hi << 32);
}

double TStream::ReadDouble() {
    uint64_t bits = ReadU64();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

void TStream::WriteU8(uint8_t v) { WriteBuffer(&v, 1); }

void TStream::WriteU16(uint16_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    WriteBuffer(b, 2);
}

void TStream::WriteU32(uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                    static_cast<uint8_t>(v >> 24)};
    WriteBuffer(b, 4);
}

void TStream::WriteU64(uint64_t v) {
    WriteU32(static_cast<uint32_t>(v));
    WriteU32(static_cast<uint32_t>(v >> 32));
}

void TStream::WriteDouble(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    WriteU64(bits);
}

std::string TStream::ReadText() {
    int32_t n = ReadI32();
    if (n < 0 || n > Remaining()) throw EReadError("Stream read error");
    std::string s(static_cast<size_t>(n), '\0');
    ReadBuffer(s.data(), n);
    return s;
}

void TStream::WriteText(const std::string& s) {
    WriteI32(static_cast<int32_t>(s.size()));
    WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

// ---------------------------------------------------------------- file stream

TFileStream::TFileStream(const std::string& path, Mode mode) : FFileName(path) {
    int flags = O_CLOEXEC;
    switch (mode) {
        case fmOpenRead: flags |= O_RDONLY; break;
        case fmOpenReadWrite: flags |= O_RDWR; break;
        case fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    FHandle = ::open(path.c_str(), flags, 0644);
    if (FHandle < 0) {
        int err = errno;
        if (mode == fmCreate)
            throw EFCreateError(Format("Cannot create file \"%s\". %s", path.c_str(), std::strerror(err)));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", path.c_str(), std::strerror(err)));
    }
    struct stat st {};
    if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(FHandle);
        FHandle = -1;
        throw EFOpenError(Format("Cannot open file \"%s\". %s", path.c_str(), std::strerror(EISDIR)));
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0) ::close(FHandle);
}

namespace {

// read(2) or write(2) until count bytes moved, the end or an error (EINTR goes on); the bytes moved
template <class Byte, class Call>
int64_t MoveAll(Byte* p, int64_t count, Call call) {
    int64_t done = 0;
    while (done < count) {
        ssize_t n = call(p + done, static_cast<size_t>(std::min<int64_t>(count - done, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

}  // namespace

int64_t TFileStream::Read(void* buffer, int64_t count) {
    return MoveAll(static_cast<uint8_t*>(buffer), count,
                   [this](uint8_t* p, size_t n) { return ::read(FHandle, p, n); });
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    return MoveAll(static_cast<const uint8_t*>(buffer), count,
                   [this](const uint8_t* p, size_t n) { return ::write(FHandle, p, n); });
}

int64_t TFileStream::Seek(int64_t offset, int origin) {
    int whence = origin == soCurrent ? SEEK_CUR : origin == soEnd ? SEEK_END : SEEK_SET;
    off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

void TFileStream::SetSize(int64_t size) {
    if (::ftruncate(FHandle, static_cast<off_t>(size)) != 0)
        throw EStreamError(Format("Stream size error ( %s )", std::strerror(errno)));
    if (Position() > size) Seek(size, soBeginning);
}

int64_t TFileStream::Size() {
    struct stat st {};
    if (::fstat(FHandle, &st) != 0) return 0;
    return static_cast<int64_t>(st.st_size);
}

// ---------------------------------------------------------------- memory stream

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || FPos >= Size()) return 0;
    int64_t n = std::min<int64_t>(count, Size() - FPos);
    std::memcpy(buffer, FData.data() + FPos, static_cast<size_t>(n));
    FPos += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (FPos + count > Size()) FData.resize(static_cast<size_t>(FPos + count));
    std::memcpy(FData.data() + FPos, buffer, static_cast<size_t>(count));
    FPos += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
    int64_t target = origin == soCurrent ? FPos + offset : origin == soEnd ? Size() + offset : offset;
    if (target < 0) target = 0;
    FPos = target;
    return FPos;
}

void TMemoryStream::SetSize(int64_t size) {
    if (size < 0) size = 0;
    FData.resize(static_cast<size_t>(size));
    if (FPos > size) FPos = size;
}

void TMemoryStream::LoadFromFile(const std::string& path) {
    TFileStream f(path, TFileStream::fmOpenRead);
    int64_t n = f.Size();
    FData.resize(static_cast<size_t>(n));
    f.ReadBuffer(FData.data(), n);
    FPos = 0;
}

void TMemoryStream::SaveToFile(const std::string& path) {
    TFileStream f(path, TFileStream::fmCreate);
    f.WriteBuffer(FData.data(), Size());
}

// ---------------------------------------------------------------- bytes stream

int64_t TBytesStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || FPos >= FSize) return 0;
    int64_t n = std::min<int64_t>(count, FSize - FPos);
    std::memcpy(buffer, FData + FPos, static_cast<size_t>(n));
    FPos += n;
    return n;
}

int64_t TBytesStream::Seek(int64_t offset, int origin) {
    int64_t target = origin == soCurrent ? FPos + offset : origin == soEnd ? FSize + offset : offset;
    if (target < 0) target = 0;
    FPos = target;
    return FPos;
}

}  // namespace fv
