#include "metadata/tiff_info.h"

#include <algorithm>
#include <cstring>

#include "metadata/buffered_stream.h"
#include "platform/byte_order.h"

namespace fv {

int TiffTypeSize(uint16_t type) {
    switch (type) {
        case ttByte: case ttAscii: case ttSByte: case ttUndefined: return 1;
        case ttShort: case ttSShort: return 2;
        case ttLong: case ttSLong: case ttFloat: return 4;
        case ttRational: case ttSRational: case ttDouble: return 8;
        default: return 0;
    }
}

uint32_t TTiffReader::Open() {
    FBase = FStream.Position();
    FSize = -1;
    uint8_t h[8];
    FStream.ReadBuffer(h, 8);
    FBigEndian = ByteOrderMarkOf(h) == TByteOrderMark::Big;
    return U32(h + 4);
}

int64_t TTiffReader::StreamSize() {
    if (FSize < 0) FSize = FStream.Size();
    return FSize;
}

uint16_t TTiffReader::U16(const uint8_t* p) const { return GetOrdered16(p, FBigEndian); }

uint32_t TTiffReader::U32(const uint8_t* p) const { return GetOrdered32(p, FBigEndian); }

uint16_t TTiffReader::ReadU16() {
    uint8_t b[2];
    FStream.ReadBuffer(b, 2);
    return U16(b);
}

uint32_t TTiffReader::ReadU32() {
    uint8_t b[4];
    FStream.ReadBuffer(b, 4);
    return U32(b);
}

void TTiffReader::SeekTo(uint32_t offset) {
    int64_t pos = FBase + static_cast<int64_t>(offset);
    if (pos < 0 || pos > StreamSize()) throw ETiffFormatError(Format("TIFF offset %u outside the stream", offset));
    FStream.Seek(pos, soBeginning);
}


void TTiffReader::ReadEntry(TIfdEntry& e) {
    uint8_t b[12];
    e.Position = FStream.Position();
    FStream.ReadBuffer(b, 12);
    e.Tag = U16(b);
    e.Type = U16(b + 2);
    e.Count = U32(b + 4);
    std::memcpy(e.Raw, b + 8, 4);
    e.Value = U32(b + 8);
}

TIfdWalkResult TTiffReader::WalkDirectoryAt(int64_t pos, TIfdRole role,
                                            const std::function<bool(const TIfdEntry&)>& visit, uint32_t maxCount) {
    TIfdWalkResult res;
    const int64_t size = StreamSize();
    if (pos < 0 || pos > size - 2) throw ETiffFormatError(Format("TIFF directory at %lld outside the stream", static_cast<long long>(pos)));
    FStream.Seek(pos, soBeginning);
    res.Count = ReadU16();
    if (res.Count >= maxCount) {
        res.Refused = true;
        return res;
    }
    if (role == TIfdRole::Main && pos + 2 + 12ll * res.Count > size)
        throw ETiffFormatError(Format("TIFF directory of %u entries runs past the end", res.Count));
    if (std::find(FWalked.begin(), FWalked.end(), pos) != FWalked.end()) {
        res.Repeated = true;
        return res;
    }
    FWalked.push_back(pos);
    TIfdEntry e;
    for (uint32_t i = 0; i < res.Count; ++i) {
        const int64_t at = pos + 2 + 12ll * i;
        if (at + 12 > size) {
            res.Truncated = true;
            break;
        }
        FStream.Seek(at, soBeginning);
        ReadEntry(e);
        ++res.Visited;
        if (!visit(e)) break;
    }
    return res;
}

TIfdWalkResult TTiffReader::WalkDirectory(uint32_t offset, TIfdRole role,
                                          const std::function<bool(const TIfdEntry&)>& visit, uint32_t maxCount) {
    return WalkDirectoryAt(FBase + static_cast<int64_t>(offset), role, visit, maxCount);
}

uint32_t TTiffReader::NextDirectoryOffset(uint32_t offset, uint16_t count) {
    const int64_t at = FBase + static_cast<int64_t>(offset) + 2 + 12ll * count;
    if (at < 0 || at + 4 > StreamSize()) return 0;
    FStream.Seek(at, soBeginning);
    const uint32_t next = ReadU32();
    const int64_t nextPos = FBase + static_cast<int64_t>(next);
    if (next == 0 || nextPos + 2 > StreamSize()) return 0;
    if (std::find(FWalked.begin(), FWalked.end(), nextPos) != FWalked.end()) return 0;
    return next;
}

int64_t TTiffReader::ValueByteSize(const TIfdEntry& e) {
    int size = TiffTypeSize(e.Type);
    if (size == 0) return -1;
    uint64_t bytes = static_cast<uint64_t>(e.Count) * static_cast<uint64_t>(size);
    if (bytes > 0xffffffffull) return -1;
    return static_cast<int64_t>(bytes);
}

std::vector<uint8_t> TTiffReader::ValueBytes(const TIfdEntry& e, uint32_t maxBytes) {
    int64_t bytes = ValueByteSize(e);
    if (bytes < 0) throw ETiffFormatError(Format("TIFF tag %04X has a bad type or count", e.Tag));
    if (bytes > static_cast<int64_t>(maxBytes)) bytes = maxBytes;
    if (bytes <= 4) return std::vector<uint8_t>(e.Raw, e.Raw + bytes);
    int64_t pos = FBase + static_cast<int64_t>(e.Value);
    if (pos + bytes > StreamSize()) throw ETiffFormatError(Format("TIFF tag %04X value runs past the end", e.Tag));
    std::vector<uint8_t> out(static_cast<size_t>(bytes));
    FStream.Seek(pos, soBeginning);
    FStream.ReadBuffer(out.data(), bytes);
    return out;
}

uint32_t TTiffReader::IntegerValue(const TIfdEntry& e) const {
    switch (e.Type) {
        case ttByte: return e.Raw[0];
        case ttShort: return U16(e.Raw);
        case ttUndefined:
            if (e.Count == 1) return e.Raw[0];
            if (e.Count == 2) return U16(e.Raw);
            return e.Value;
        default: return e.Value;
    }
}

int32_t TTiffReader::SideValue(const TIfdEntry& e) const {
    const uint32_t v = IntegerValue(e);
    return v > 0x7fffffffu ? 0 : static_cast<int32_t>(v);
}

bool TTiffReader::IsIntegerType(uint16_t type) {
    switch (type) {
        case ttByte: case ttSByte: case ttUndefined: case ttShort: case ttSShort: case ttLong: case ttSLong: return true;
        default: return false;
    }
}

int64_t TTiffReader::IntegerAt(uint16_t type, const uint8_t* p) const {
    switch (type) {
        case ttByte: case ttUndefined: return p[0];
        case ttSByte: return static_cast<int8_t>(p[0]);
        case ttShort: return U16(p);
        case ttSShort: return static_cast<int16_t>(U16(p));
        case ttLong: return U32(p);
        case ttSLong: return static_cast<int32_t>(U32(p));
        default: throw ETiffFormatError(Format("TIFF type %u is not an integer type", type));
    }
}

std::vector<int64_t> TTiffReader::IntegerValues(const TIfdEntry& e, uint32_t maxValues) {
    if (!IsIntegerType(e.Type)) throw ETiffFormatError(Format("TIFF tag %04X: type %u where integers belong", e.Tag, e.Type));
    TIfdEntry limited = e;
    limited.Count = e.Count < maxValues ? e.Count : maxValues;
    const std::vector<uint8_t> b = ValueBytes(limited);
    const size_t size = static_cast<size_t>(TiffTypeSize(e.Type));
    std::vector<int64_t> out;
    out.reserve(limited.Count);
    for (size_t at = 0; at + size <= b.size(); at += size) out.push_back(IntegerAt(e.Type, b.data() + at));
    return out;
}

std::string CleanExifText(const uint8_t* data, size_t count) {
    std::string s;
    s.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        uint8_t c = data[i];
        if (c == 0) break;
        if ((c >= 1 && c <= 9) || c == 11 || c == 12 || (c >= 14 && c <= 30)) c = ' ';
        s.push_back(static_cast<char>(c));
    }
    return s;
}

std::string TTiffReader::AsciiValue(const TIfdEntry& e) {
    if (e.Count <= 4) return CleanExifText(e.Raw, e.Count);
    int64_t pos = FBase + static_cast<int64_t>(e.Value);
    if (pos + static_cast<int64_t>(e.Count) > StreamSize())
        throw ETiffFormatError(Format("TIFF tag %04X text runs past the end", e.Tag));
    std::vector<uint8_t> buf(std::min<size_t>(e.Count, kMaxTiffTextBytes));
    FStream.Seek(pos, soBeginning);
    FStream.ReadBuffer(buf.data(), static_cast<int64_t>(buf.size()));
    return CleanExifText(buf.data(), buf.size());
}

void TTiffReader::RationalParts(const TIfdEntry& e, uint32_t index, uint32_t& num, uint32_t& den) {
    if (e.Type != ttRational && e.Type != ttSRational)
        throw ETiffFormatError(Format("TIFF tag %04X: type %u where rationals belong", e.Tag, e.Type));
    int64_t pos = FBase + static_cast<int64_t>(e.Value) + 8ll * index;
    if (index >= e.Count || pos < 0 || pos + 8 > StreamSize())
        throw ETiffFormatError(Format("TIFF tag %04X rational runs past the end", e.Tag));
    FStream.Seek(pos, soBeginning);
    num = ReadU32();
    den = ReadU32();
}

float TTiffReader::RationalValue(const TIfdEntry& e, uint32_t index) {
    uint32_t num = 0, den = 0;
    RationalParts(e, index, num, den);
    if (den == 0) return 0.0f;
    if (e.Type == ttSRational)
        return static_cast<float>(static_cast<double>(static_cast<int32_t>(num)) / static_cast<int32_t>(den));
    return static_cast<float>(static_cast<double>(num) / den);
}

TDateTime TTiffReader::DateTimeValue(const TIfdEntry& e) { return ExifStrToDateTime(AsciiValue(e)); }

namespace {
// a decimal integer with optional blanks and sign; def when the text isn't one
bool ParseDecimal(const std::string& s, long long& out) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    if (i >= s.size()) return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
        if (v > 0x7fffffffLL) return false;
    }
    out = neg ? -v : v;
    return true;
}

int PartOf(const std::string& s, size_t from1, size_t len) {
    if (s.size() < from1) return 0;
    long long v = 0;
    return ParseDecimal(s.substr(from1 - 1, len), v) ? static_cast<int>(v) : 0;
}
}  // namespace

int TTiffReader::SubSecValue(const TIfdEntry& e) {
    std::string text = e.Count <= 4 ? std::string(reinterpret_cast<const char*>(e.Raw), 4) : AsciiValue(e);
    size_t nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    long long v = 0;
    return ParseDecimal(text, v) ? static_cast<int>(v) : 0;
}

std::string TTiffReader::VersionValue(const TIfdEntry& e) const {
    return std::string(reinterpret_cast<const char*>(e.Raw), 4);
}

std::string TTiffReader::ShortListValue(const TIfdEntry& e) {
    // far more values than any camera writes: keep the first 64
    std::string out;
    for (int64_t v : IntegerValues(e, 64)) {
        if (!out.empty()) out += ',';
        out += std::to_string(v);
    }
    return out;
}

TDateTime ExifStrToDateTime(const std::string& text) {
    int year = PartOf(text, 1, 4), month = PartOf(text, 6, 2), day = PartOf(text, 9, 2);
    int hour = PartOf(text, 12, 2), minute = PartOf(text, 15, 2), second = PartOf(text, 18, 2);
    TDateTime date = 0;
    if (!TryEncodeDate(year, month, day, date)) return 0;
    TDateTime time = 0;
    if (!TryEncodeTime(hour, minute, second, 0, time)) return date;
    return date >= 0 ? date + time : date - time;
}

std::string DateTimeToExifStr(TDateTime value) {
    TDateTimeParts p = DecodeDateTime(value);
    return Format("%.4d:%.2d:%.2d %.2d:%.2d:%.2d", p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second);
}

bool FindTiffHeader(TStream& stream) {
    uint8_t buf[255];
    int64_t start = stream.Position();
    int64_t n = stream.Read(buf, sizeof buf);
    for (int64_t i = 0; i + 1 < n && i <= 253; ++i) {
        if (ByteOrderMarkOf(buf + i) != TByteOrderMark::None) {
            stream.Seek(start + i, soBeginning);
            return true;
        }
    }
    return false;
}

void ReadTiffInfo(TStream& stream, bool readIfd1, TTiffInfoRec& rec) {
    rec = TTiffInfoRec();
    int64_t base = stream.Position();
    try {
        TTiffReader r(stream);
        uint32_t ifd0 = r.Open();
        int64_t exifPos = 0;
        // cameras do not always sort their entries (a Reconyx writes 0x9101 before 0x9003), so
        // every directory is walked whole; they are a few hundred bytes
        const TIfdWalkResult main = r.WalkDirectory(ifd0, TIfdRole::Main, [&](const TIfdEntry& e) {
            switch (e.Tag) {
                case 0x0100: rec.Width = r.SideValue(e); break;
                case 0x0101: rec.Height = r.SideValue(e); break;
                case 0x0103: rec.Compression = static_cast<int32_t>(r.IntegerValue(e)); break;
                case 0x0111: rec.StripOffset = static_cast<int64_t>(r.IntegerValue(e)) + base; break;
                case 0x0112: rec.Orientation = static_cast<int32_t>(r.IntegerValue(e)); break;
                case 0x0117: rec.StripByteCount = r.IntegerValue(e); break;
                case 0x8769:
                    if (!rec.ExifIfdFound) {
                        rec.ExifIfdFound = 1;
                        exifPos = base + static_cast<int64_t>(e.Value);
                    }
                    break;
                default: break;
            }
            return true;
        });
        const uint32_t ifd1 = readIfd1 ? r.NextDirectoryOffset(ifd0, main.Count) : 0;
        if (rec.ExifIfdFound && exifPos < r.StreamSize()) {
            try {
                r.WalkDirectoryAt(exifPos, TIfdRole::Sub, [&](const TIfdEntry& e) {
                    if (e.Tag != 0x9003) return true;
                    rec.ShootingDate = r.DateTimeValue(e);
                    return false;
                });
            } catch (const std::exception&) {
                // a broken Exif IFD leaves the date at 0; IFD1 may still be good
            }
        }
        if (ifd1 != 0) {
            r.WalkDirectory(ifd1, TIfdRole::Sub, [&](const TIfdEntry& e) {
                switch (e.Tag) {
                    case 0x0100: rec.ThumbWidth = r.SideValue(e); break;
                    case 0x0101: rec.ThumbHeight = r.SideValue(e); break;
                    case 0x0103: rec.ThumbCompression = static_cast<int32_t>(r.IntegerValue(e)); break;
                    case 0x0112: rec.ThumbOrientation = static_cast<int32_t>(r.IntegerValue(e)); break;
                    case 0x0201:
                    case 0x0111: rec.ThumbOffset = static_cast<int64_t>(r.IntegerValue(e)) + base; break;
                    case 0x0202:
                    case 0x0117: rec.ThumbLength = r.IntegerValue(e); break;
                    default: break;
                }
                return true;
            });
            if (rec.ThumbOffset > 0 && rec.ThumbLength > 0 && rec.ThumbOffset + rec.ThumbLength <= r.StreamSize()) {
                auto thumb = std::make_unique<TMemoryStream>();
                stream.Seek(rec.ThumbOffset, soBeginning);
                int64_t copied = thumb->CopyFrom(stream, rec.ThumbLength);
                if (copied == rec.ThumbLength) {
                    thumb->Seek(0, soBeginning);
                    rec.ThumbStream = std::move(thumb);
                }
            }
        }
    } catch (const std::exception&) {
        // the quick reader reports what it found so far
    }
    try {
        stream.Seek(base, soBeginning);
    } catch (const std::exception&) {
    }
}

bool ReadTiffInfoFromFile(const std::string& fileName, TTiffInfoRec& rec) {
    rec = TTiffInfoRec();
    try {
        TFileStream file(fileName, TFileStream::fmOpenRead);
        TBufferedStream s(file, kMetadataBufferSize, 0);
        if (!FindTiffHeader(s)) return true;
        ReadTiffInfo(s, false, rec);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace fv
