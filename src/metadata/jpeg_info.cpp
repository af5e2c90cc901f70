#include "metadata/jpeg_info.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "metadata/buffered_stream.h"
#include "platform/byte_order.h"
#include "platform/file_name.h"

namespace fv {

namespace {

// thrown inside the walks on a marker length below 2, which would loop on the same spot
FV_DECLARE_EXCEPTION(EJpegSegmentError, Exception);

bool IsSofMarker(uint8_t m) {
    return (m >= 0xC0 && m <= 0xC3) || (m >= 0xC5 && m <= 0xC7) || (m >= 0xC9 && m <= 0xCB) || (m >= 0xCD && m <= 0xCF);
}

bool IsStopMarker(uint8_t m) { return m == 0x00 || m == 0xD9 || m == 0xDA || m == 0xFF; }

bool IsBareMarker(uint8_t m) { return m >= 0xD0 && m <= 0xD8; }

uint16_t ReadBE16(TStream& s) {
    uint8_t b[2];
    s.ReadBuffer(b, 2);
    return GetBE16(b);
}

// segment length after the marker: at least 2 (the length field itself)
uint16_t ReadSegmentLength(TStream& s) {
    uint16_t len = ReadBE16(s);
    if (len < 2) throw EJpegSegmentError(Format("JPEG segment length %u", len));
    return len;
}

struct TSofData {
    TPixelFormat PixelFormat;
    int32_t Width;
    int32_t Height;
};

// stream just after an SOF marker; leaves the position at the end of the segment
TSofData ReadSof(TStream& s) {
    int64_t start = s.Position();
    uint16_t len = ReadSegmentLength(s);
    uint8_t b[6];
    s.ReadBuffer(b, 6);
    TSofData d;
    d.Height = GetBE16(b + 1);
    d.Width = GetBE16(b + 3);
    d.PixelFormat = b[5] == 1 ? pf8bit : pf24bit;
    s.Seek(start + len, soBeginning);
    return d;
}

void SkipSegment(TStream& s) {
    int64_t start = s.Position();
    uint16_t len = ReadSegmentLength(s);
    s.Seek(start + len, soBeginning);
}

// The marker walk of the segment finders: stops at a stop marker, a non-FF byte or
// when fewer than 4 bytes are left. Calls visit(marker) with the stream just after the
// marker; visit returns true to end the walk (the stream is left where visit left it).
// Whatever visit read of a segment it declined, the walk resumes at that segment's end.
template <class Visit>
bool WalkSegments(TStream& s, Visit visit) {
    FindJpegStart(s);
    uint8_t m[2];
    s.ReadBuffer(m, 2);
    int64_t size = s.Size();
    while (s.Position() <= size - 4) {
        s.ReadBuffer(m, 2);
        if (m[0] != 0xFF || IsStopMarker(m[1])) return false;
        if (IsBareMarker(m[1])) continue;
        const int64_t segment = s.Position();
        if (visit(m[1])) return true;
        s.Seek(segment, soBeginning);
        SkipSegment(s);
    }
    return false;
}

}  // namespace

void FreeJpegInfoEx(TJpegInfoExRec& rec) {
    try {
        rec.ThumbStream.reset();
        rec.PreviewStream.reset();
    } catch (...) {
    }
}

bool IsExifFileExt(const std::string& fileName) {
    const std::string ext = UpperFileExt(fileName);
    static const std::string kList = ".JPEG;.JPE;.JPG;.THM;.TIF;.TIFF;.NSK;.NEF;.CR2;.CRW;.ORF;.PEF;.SRF;.ERF;.DNG;.RAF";
    return ext.size() > 1 && kList.find(ext) != std::string::npos;
}

bool IsExifHeader(const uint8_t* b) {
    return b[0] == 'E' && b[1] == 'x' && b[2] == 'i' && b[3] == 'f' && b[4] == 0 && b[5] == 0;
}

int64_t FindJpegStart(TStream& s) {
    uint8_t b[2];
    s.Seek(0, soBeginning);
    if (s.Read(b, 2) == 2 && b[0] == 0xFF && b[1] == 0xD8) {
        s.Seek(0, soBeginning);
        return 0;
    }
    s.Seek(128, soBeginning);
    if (s.Read(b, 2) == 2 && b[0] == 0xFF && b[1] == 0xD8) {
        s.Seek(128, soBeginning);
        return 128;
    }
    uint8_t buf[1024];
    s.Seek(0, soBeginning);
    int64_t n = s.Read(buf, sizeof buf);
    if (n >= 3) {
        for (int64_t i = 1; i + 1 < n; ++i) {
            if (buf[i] == 0xFF && buf[i + 1] == 0xD8) {
                s.Seek(i, soBeginning);
                return i;
            }
        }
    }
    throw EJpegStartNotFound("no JPEG data");
}

int64_t FindAppSegment(TStream& s, int n) {
    try {
        int64_t found = -1;
        WalkSegments(s, [&](uint8_t marker) {
            if (marker == 0xE0 + n) {
                found = s.Position() - 2;
                s.Seek(found, soBeginning);
                return true;
            }
            return false;
        });
        return found;
    } catch (const std::exception&) {
        return -1;
    }
}

bool ExtractAppSegment(TStream& s, int n, TMemoryStream& dest) {
    dest.Clear();
    try {
        bool got = WalkSegments(s, [&](uint8_t marker) {
            if (marker != 0xE0 + n) return false;
            const uint16_t len = ReadSegmentLength(s);
            // a segment of length 2 has an empty payload (CopyFrom would take 0 as "all")
            if (len > 2) dest.CopyFrom(s, len - 2);
            return true;
        });
        if (!got) dest.Clear();
        dest.Seek(0, soBeginning);
        return got;
    } catch (const std::exception&) {
        dest.Clear();
        return false;
    }
}

bool ExtractAppSegmentFromFile(const std::string& fileName, int n, TMemoryStream& dest) {
    try {
        TFileStream file(fileName, TFileStream::fmOpenRead);
        TBufferedStream s(file, kMetadataBufferSize, 0);
        return ExtractAppSegment(s, n, dest);
    } catch (const std::exception&) {
        dest.Clear();
        return false;
    }
}

bool ExtractExifSegment(TStream& s, TMemoryStream& dest) {
    dest.Clear();
    try {
        bool got = WalkSegments(s, [&](uint8_t marker) {
            if (marker != 0xE1) return false;
            const int64_t start = s.Position();
            const uint16_t len = ReadSegmentLength(s);
            uint8_t h[6];
            if (len < 8) return false;  // too short for "Exif" NUL NUL: the walk skips it
            s.ReadBuffer(h, 6);
            if (!IsExifHeader(h)) return false;
            s.Seek(start + 2, soBeginning);
            dest.CopyFrom(s, len - 2);
            return true;
        });
        if (!got) dest.Clear();
        dest.Seek(0, soBeginning);
        return got;
    } catch (const std::exception&) {
        dest.Clear();
        return false;
    }
}

bool ExtractExifSegmentFromFile(const std::string& fileName, TMemoryStream& dest) {
    try {
        TFileStream file(fileName, TFileStream::fmOpenRead);
        TBufferedStream s(file, kMetadataBufferSize, 0);
        return ExtractExifSegment(s, dest);
    } catch (const std::exception&) {
        dest.Clear();
        return false;
    }
}

void ReadJpegSize(TStream& s, bool searchStart, TJpegSizeRec& rec) {
    rec.Width = rec.Height = 0;
    rec.IsExif = false;
    int64_t entry = 0;
    try {
        entry = s.Position();
        if (searchStart) FindJpegStart(s);
        uint8_t m[2];
        s.ReadBuffer(m, 2);
        int64_t size = s.Size();
        while (s.Position() <= size - 4) {
            s.ReadBuffer(m, 2);
            // tolerate a few garbage bytes before the next marker
            for (int step = 0; m[0] != 0xFF && step < 15; ++step) {
                s.Seek(-1, soCurrent);
                s.ReadBuffer(m, 2);
            }
            if (m[0] != 0xFF || IsStopMarker(m[1])) break;
            if (IsBareMarker(m[1])) continue;
            if (IsSofMarker(m[1])) {
                TSofData d = ReadSof(s);
                rec.Width = d.Width;
                rec.Height = d.Height;
                rec.PixelFormat = d.PixelFormat;
            } else if (m[1] == 0xE1) {
                int64_t start = s.Position();
                uint16_t len = ReadSegmentLength(s);
                uint8_t h[6];
                if (len >= 8) {
                    s.ReadBuffer(h, 6);
                    if (IsExifHeader(h)) rec.IsExif = true;
                }
                s.Seek(start + len, soBeginning);
            } else {
                SkipSegment(s);
            }
        }
    } catch (const std::exception&) {
        rec.IsExif = false;
        rec.Width = rec.Height = -1;
    }
    try {
        s.Seek(entry, soBeginning);
    } catch (const std::exception&) {
    }
}

namespace {

// APP0/APP13 payload that may hold an embedded JPEG preview
void TakePreview(TStream& s, TJpegInfoExRec& rec, uint8_t& found) {
    int64_t start = s.Position();
    uint16_t len = ReadSegmentLength(s);
    auto preview = std::make_unique<TMemoryStream>();
    if (len > 2) preview->CopyFrom(s, len - 2);
    const auto& d = preview->Data();
    int64_t last = (static_cast<int64_t>(len) - 3) / 2;
    int64_t at = -1;
    for (int64_t i = 0; i <= last && i + 1 < static_cast<int64_t>(d.size()); ++i) {
        if (d[i] == 0xFF && d[i + 1] == 0xD8) {
            at = i;
            break;
        }
    }
    if (at >= 0) {
        preview->Seek(at, soBeginning);
        TJpegSizeRec size;
        ReadJpegSize(*preview, false, size);
        rec.PreviewWidth = size.Width;
        rec.PreviewHeight = size.Height;
        rec.PreviewStream = std::move(preview);
        found |= jiPreview;
    }
    s.Seek(start + len, soBeginning);
}

void TakeExif(TStream& s, uint8_t wanted, TJpegInfoExRec& rec, uint8_t& found) {
    int64_t start = s.Position();
    uint16_t len = ReadSegmentLength(s);
    uint8_t h[6];
    if (len >= 8) {
        s.ReadBuffer(h, 6);
        if (IsExifHeader(h)) {
            rec.IsExif = true;
            if ((wanted & jiExif) && !(found & jiExif)) {
                TTiffInfoRec tiff;
                ReadTiffInfo(s, (wanted & jiThumbnail) != 0, tiff);
                rec.Orientation = tiff.Orientation;
                rec.ShootingDate = tiff.ShootingDate;
                found |= jiExif;
                if (tiff.ThumbStream) {
                    rec.ThumbStream = std::move(tiff.ThumbStream);
                    TJpegSizeRec size;
                    ReadJpegSize(*rec.ThumbStream, false, size);
                    rec.ThumbStream->Seek(0, soBeginning);
                    rec.ThumbWidth = size.Width;
                    rec.ThumbHeight = size.Height;
                    rec.ThumbOrientation = tiff.ThumbOrientation;
                    found |= jiThumbnail;
                }
            }
        }
    }
    s.Seek(start + len, soBeginning);
}

}  // namespace

void ReadJpegInfoEx(TStream& s, uint8_t& options, TJpegInfoExRec& rec) {
    FreeJpegInfoEx(rec);
    rec = TJpegInfoExRec();
    const uint8_t wanted = options;
    uint8_t found = 0;
    try {
        FindJpegStart(s);
        uint8_t m[2];
        s.ReadBuffer(m, 2);
        for (;;) {
            s.ReadBuffer(m, 2);
            if (m[0] != 0xFF || IsStopMarker(m[1])) break;
            uint8_t marker = m[1];
            if (IsBareMarker(marker)) continue;
            if (IsSofMarker(marker)) {
                TSofData d = ReadSof(s);
                rec.Width = d.Width;
                rec.Height = d.Height;
                rec.PixelFormat = d.PixelFormat;
                if (wanted == 0) break;
            } else if ((marker == 0xE0 || marker == 0xED) && (wanted & jiPreview) && !(found & jiThumbnail) && !rec.PreviewStream) {
                TakePreview(s, rec, found);
            } else if (marker == 0xE1) {
                TakeExif(s, wanted, rec, found);
            } else if (marker == 0xFE && (wanted & jiComment)) {
                int64_t start = s.Position();
                uint16_t len = ReadSegmentLength(s);
                rec.Comment.resize(len - 2);
                if (len > 2) s.ReadBuffer(rec.Comment.data(), len - 2);
                found |= jiComment;
                s.Seek(start + len, soBeginning);
            } else {
                SkipSegment(s);
            }
        }
        options = found;
    } catch (const std::exception&) {
        FreeJpegInfoEx(rec);
        rec = TJpegInfoExRec();
        options = 0;
        // walk again from the start, so a file cut short after its frame header keeps its size
        TJpegSizeRec size;
        ReadJpegSize(s, true, size);
        rec.Width = size.Width;
        rec.Height = size.Height;
        rec.PixelFormat = size.PixelFormat;
        rec.IsExif = size.IsExif;
    }
}

bool ReadJpegInfoExFromFile(const std::string& fileName, uint8_t& options, TJpegInfoExRec& rec) {
    try {
        TFileStream file(fileName, TFileStream::fmOpenRead);
        TBufferedStream s(file, kMetadataBufferSize, 0);
        ReadJpegInfoEx(s, options, rec);
        return true;
    } catch (const std::exception&) {
        FreeJpegInfoEx(rec);
        rec = TJpegInfoExRec();
        options = 0;
        return false;
    }
}

std::recursive_mutex& ImageLoadLock() {
    static std::recursive_mutex lock;
    return lock;
}

bool ReadJpegInfoExFromFileLocked(const std::string& fileName, uint8_t& options, TJpegInfoExRec& rec) {
    std::lock_guard<std::recursive_mutex> guard(ImageLoadLock());
    return ReadJpegInfoExFromFile(fileName, options, rec);
}

}  // namespace fv
