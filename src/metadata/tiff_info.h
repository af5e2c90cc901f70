#pragma once
// TIFF structures as they appear in EXIF segments and TIFF-structured raw files:
// byte order, directory entries, the value read rules every reader shares, the quick
// TIFF reader (size, orientation, shooting date, IFD1 thumbnail) and EXIF date texts.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "platform/pixel_format.h"
#include "platform/stream.h"

namespace fv {

// the most bytes a text value is read with: a longer count in a broken file must not
// make a raw file of hundreds of megabytes allocate as much
constexpr uint32_t kMaxTiffTextBytes = 1 << 20;

// raised by the value readers on offsets, counts or lengths that do not fit the stream
FV_DECLARE_EXCEPTION(ETiffFormatError, Exception);

enum TTiffType : uint16_t {
    ttByte = 1, ttAscii = 2, ttShort = 3, ttLong = 4, ttRational = 5, ttSByte = 6,
    ttUndefined = 7, ttSShort = 8, ttSLong = 9, ttSRational = 10, ttFloat = 11, ttDouble = 12
};

// bytes per value of a type, 0 for unknown types
int TiffTypeSize(uint16_t type);

// One 12-byte directory entry. Value is the value field as a 32-bit number in the file's
// byte order; Raw holds the same four bytes as they lie in the file.
struct TIfdEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    uint32_t Value = 0;
    uint8_t Raw[4] = {0, 0, 0, 0};
    // position of the entry in the stream (for writers that patch values in place)
    int64_t Position = 0;
};

// How a directory walk went (see TTiffReader::WalkDirectory).
enum class TIfdRole {
    Main,  // IFD0: the structure stands or falls with it, so it must lie wholly in the stream
    Sub,   // any other directory: the entries before a cut still count
};
struct TIfdWalkResult {
    uint16_t Count = 0;      // the entry count the directory claims
    uint16_t Visited = 0;    // entries handed to the visitor
    bool Truncated = false;  // an entry ran past the end of the stream and ended the walk
    bool Repeated = false;   // the directory had been walked already (a loop): nothing visited
    bool Refused = false;    // the count was at or above the caller's limit: nothing visited
};

// The byte order two bytes name, as a TIFF header starts: "MM" big-endian, "II" little-endian.
enum class TByteOrderMark : uint8_t { None, Little, Big };
inline TByteOrderMark ByteOrderMarkOf(const void* bytes) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    if (p[0] == 'M' && p[1] == 'M') return TByteOrderMark::Big;
    if (p[0] == 'I' && p[1] == 'I') return TByteOrderMark::Little;
    return TByteOrderMark::None;
}

// Reads a TIFF structure whose header starts at the stream position given to Open().
// All offsets are relative to that base; every offset and count is checked against the
// stream size before anything is read or allocated.
class TTiffReader {
public:
    explicit TTiffReader(TStream& stream) : FStream(stream) {}

    // reads the 8-byte header at the current position: "MM" big-endian, anything else
    // little-endian; returns the IFD0 offset (relative to the base)
    uint32_t Open();

    TStream& Stream() { return FStream; }
    bool BigEndian() const { return FBigEndian; }
    void SetBigEndian(bool big) { FBigEndian = big; }
    int64_t Base() const { return FBase; }
    void SetBase(int64_t base) { FBase = base; }
    int64_t StreamSize();

    uint16_t ReadU16();
    uint32_t ReadU32();
    uint16_t U16(const uint8_t* p) const;
    uint32_t U32(const uint8_t* p) const;

    // positions the stream at base + offset, raising when that lies outside the stream
    void SeekTo(uint32_t offset);
    void ReadEntry(TIfdEntry& e);

    // The one directory walk every reader of TIFF structures uses. Reads the 16-bit count at
    // the absolute position, then each 12-byte entry at its own place (pos + 2 + 12 i), so a
    // visitor may move the stream to read values. Rules:
    // - the count must lie inside the stream (else ETiffFormatError);
    // - Main: the count and every entry must lie inside the stream, else
    //   ETiffFormatError before any entry is visited;
    // - Sub: the first entry that does not lie wholly inside the stream ends the walk (Truncated);
    // - a directory this reader has walked before is not walked again (Repeated), so links that
    //   lead back never loop;
    // - a count at or above maxCount is refused (maker notes: a count that big is not a directory).
    // The visitor returns false to stop early.
    TIfdWalkResult WalkDirectoryAt(int64_t pos, TIfdRole role, const std::function<bool(const TIfdEntry&)>& visit,
                                   uint32_t maxCount = 0x10000);
    // the same at base + offset
    TIfdWalkResult WalkDirectory(uint32_t offset, TIfdRole role, const std::function<bool(const TIfdEntry&)>& visit,
                                 uint32_t maxCount = 0x10000);
    // The next-IFD link that follows a directory of count entries at base + offset: 0 when the
    // link lies outside the stream, points outside it, or leads to a directory walked already.
    uint32_t NextDirectoryOffset(uint32_t offset, uint16_t count);

    // bytes of the value (count x type size), or -1 when it overflows 32 bits / unknown type
    static int64_t ValueByteSize(const TIfdEntry& e);
    // the value bytes: inline when they fit 4 bytes, else at base + offset (checked)
    std::vector<uint8_t> ValueBytes(const TIfdEntry& e, uint32_t maxBytes = 0x7fffffff);

    // value read rules. Every reader takes only the bytes the entry's type and count give;
    // a type the reader does not expect raises ETiffFormatError (the tag is then lost).
    uint32_t IntegerValue(const TIfdEntry& e) const;
    // a picture side: the integer rule, with values beyond the 32-bit signed range read as 0
    // (unknown) instead of turning negative
    int32_t SideValue(const TIfdEntry& e) const;
    // BYTE, SBYTE, UNDEFINED, SHORT, SSHORT, LONG, SLONG
    static bool IsIntegerType(uint16_t type);
    // one value of an integer type laid out at p (signed types sign-extended)
    int64_t IntegerAt(uint16_t type, const uint8_t* p) const;
    // the first min(count, maxValues) values of an integer-typed entry, each by its type
    std::vector<int64_t> IntegerValues(const TIfdEntry& e, uint32_t maxValues);
    char CharValue(const TIfdEntry& e) const { return static_cast<char>(e.Raw[0]); }
    std::string AsciiValue(const TIfdEntry& e);
    float RationalValue(const TIfdEntry& e, uint32_t index = 0);
    // numerator and denominator of the index-th rational (signed types cast back by callers);
    // only RATIONAL and SRATIONAL entries hold rationals
    void RationalParts(const TIfdEntry& e, uint32_t index, uint32_t& num, uint32_t& den);
    TDateTime DateTimeValue(const TIfdEntry& e);
    int SubSecValue(const TIfdEntry& e);
    // four bytes of the value field in file order
    std::string VersionValue(const TIfdEntry& e) const;
    std::string ShortListValue(const TIfdEntry& e);

private:
    TStream& FStream;
    bool FBigEndian = false;
    int64_t FBase = 0;
    int64_t FSize = -1;
    std::vector<int64_t> FWalked;  // absolute positions of the directories walked so far
};

// Replaces control bytes 1..9, 11, 12, 14..30 by blanks and cuts at the first NUL.
std::string CleanExifText(const uint8_t* data, size_t count);

struct TTiffInfoRec {
    TPixelFormat PixelFormat = pf24bit;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Compression = 1;
    int64_t StripOffset = 0;
    int64_t StripByteCount = 0;
    int32_t ExifIfdFound = 0;
    int32_t Orientation = 1;
    TDateTime ShootingDate = 0;
    int32_t ThumbWidth = 0;
    int32_t ThumbHeight = 0;
    int32_t ThumbCompression = 6;
    int32_t ThumbOrientation = 1;
    int64_t ThumbOffset = 0;
    int64_t ThumbLength = 0;
    std::unique_ptr<TMemoryStream> ThumbStream;
};

// Stream at a TIFF header. Never raises; the stream is left at the header (base).
void ReadTiffInfo(TStream& stream, bool readIfd1, TTiffInfoRec& rec);
// Opens the file (16 KiB buffered), finds the TIFF header in its first bytes, IFD1 not read.
// Returns false when the file cannot be opened.
bool ReadTiffInfoFromFile(const std::string& fileName, TTiffInfoRec& rec);

// Reads 255 bytes from the current position; the first "II" or "MM" at index 0..253
// becomes the position. Returns true when one was found (else the position is after the
// bytes read).
bool FindTiffHeader(TStream& stream);

// "yyyy:mm:dd hh:nn:ss" -> date-time; an impossible date gives 0, an impossible time the date alone
TDateTime ExifStrToDateTime(const std::string& text);
// date-time -> "yyyy:mm:dd hh:nn:ss"
std::string DateTimeToExifStr(TDateTime value);

}  // namespace fv
