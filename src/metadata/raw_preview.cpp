#include "metadata/raw_preview.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <mutex>

#include "metadata/buffered_stream.h"
#include "metadata/jpeg_info.h"
#include "platform/file_name.h"

namespace fv {

namespace {

FV_DECLARE_EXCEPTION(ERawFormatError, Exception);

// positions the stream at an absolute position that must lie inside it
void SeekInside(TStream& s, int64_t pos, int64_t size) {
    if (pos < 0 || pos > size) throw ERawFormatError("raw offset outside the file");
    s.Seek(pos, soBeginning);
}

// a reader of one raw file's TIFF structure; its directories are walked by the reader's walk
// (entries read at their own place, a cut directory keeps what comes before, no directory twice)
struct TRawTiff {
    TStream& S;
    TTiffReader R;
    int64_t Size;
    TRawTiff(TStream& s, bool big, int64_t base) : S(s), R(s), Size(s.Size()) {
        R.SetBigEndian(big);
        R.SetBase(base);
    }
    TIfdWalkResult Walk(int64_t pos, const std::function<bool(const TIfdEntry&)>& visit) {
        return R.WalkDirectoryAt(pos, TIfdRole::Sub, visit);
    }
};

void JpegSizeFallback(TStream& s, TRawIfdInfo& info) {
    if (info.Width == 0 && info.Height == 0 && info.Compression != 1 && info.JpegOffset > 0 &&
        info.JpegOffset < s.Size()) {
        s.Seek(info.JpegOffset, soBeginning);
        TJpegSizeRec j;
        ReadJpegSize(s, false, j);
        if (j.Width > 0 && j.Height > 0) {
            info.Width = j.Width;
            info.Height = j.Height;
        }
    }
}

// tag 0x927C of the Exif IFD, plus base; 0 when absent
int64_t FindMakerNote(TStream& s, bool big, int64_t base, int64_t exifIfd) {
    TRawTiff w(s, big, base);
    int64_t note = 0;
    w.Walk(exifIfd, [&](const TIfdEntry& e) {
        if (e.Tag == 0x927C) note = static_cast<int64_t>(e.Value) + base;
        return e.Tag < 0x927C;
    });
    return note;
}

TRawIfdInfo MinoltaNote(TStream& s, bool big, int64_t base, int64_t note) {
    TRawIfdInfo info;
    TRawTiff w(s, big, base);
    w.Walk(note, [&](const TIfdEntry& e) {
        if (e.Tag == 0x0088) info.JpegOffset = static_cast<int64_t>(w.R.IntegerValue(e)) + base;
        if (e.Tag == 0x0089) info.JpegLength = w.R.IntegerValue(e);
        return e.Tag < 0x0089;
    });
    return info;
}

TRawIfdInfo OlympusNote(TStream& s, bool big, int64_t base, int64_t note) {
    TRawIfdInfo info;
    TRawTiff w(s, big, base);
    int64_t sub = 0;
    w.Walk(note + 8, [&](const TIfdEntry& e) {
        if (e.Tag != 0x2020) return true;
        sub = static_cast<int64_t>(e.Value) + base;
        return false;
    });
    if (sub <= 0) return info;
    w.Walk(sub, [&](const TIfdEntry& e) {
        switch (e.Tag) {
            case 0x0100:
                if (w.R.IntegerValue(e) != 1) return false;
                info.Compression = 6;
                return true;
            case 0x0101: info.JpegOffset = static_cast<int64_t>(w.R.IntegerValue(e)) + base; return true;
            case 0x0102: info.JpegLength = w.R.IntegerValue(e); return false;
            default: return true;
        }
    });
    return info;
}

TRawIfdInfo NikonNote(TStream& s, int64_t note) {
    TRawIfdInfo info;
    const int64_t base2 = note + 10;
    const int64_t size = s.Size();
    SeekInside(s, base2, size);
    TTiffReader hdr(s);
    const uint32_t ifd0 = hdr.Open();  // its own byte order
    const bool big = hdr.BigEndian();
    TRawTiff w(s, big, base2);
    int64_t preview = 0;
    w.Walk(base2 + static_cast<int64_t>(ifd0), [&](const TIfdEntry& e) {
        if (e.Tag != 0x0011) return true;
        preview = static_cast<int64_t>(w.R.IntegerValue(e)) + base2;
        return false;
    });
    if (preview > 0) ReadRawIfd(s, preview, big, false, info, base2, false);
    return info;
}

TRawIfdInfo PentaxNote(TStream& s, int64_t base, int64_t note) {
    TRawIfdInfo info;
    const int64_t size = s.Size();
    SeekInside(s, note + 4, size);
    uint8_t bom[2];
    s.ReadBuffer(bom, 2);
    const TByteOrderMark mark = ByteOrderMarkOf(bom);
    if (mark == TByteOrderMark::None) return info;
    const bool big = mark == TByteOrderMark::Big;
    TRawTiff w(s, big, base);
    w.Walk(note + 6, [&](const TIfdEntry& e) {
        if (e.Tag == 0x0002) {
            const std::vector<int64_t> v = w.R.IntegerValues(e, 2);
            if (v.size() == 2 && v[0] >= 0 && v[1] >= 0 && v[0] <= 0x7fffffff && v[1] <= 0x7fffffff) {
                info.Width = static_cast<int32_t>(v[0]);
                info.Height = static_cast<int32_t>(v[1]);
            }
        } else if (e.Tag == 0x0003) {
            info.JpegLength = w.R.IntegerValue(e);
        } else if (e.Tag == 0x0004) {
            info.JpegOffset = static_cast<int64_t>(w.R.IntegerValue(e)) + base;
            return false;
        }
        return true;
    });
    return info;
}

// IFD that follows the IFD at pos: skip its entries and read the next-IFD offset
int64_t IfdAfter(TStream& s, bool big, int64_t base, int64_t pos) {
    TRawTiff w(s, big, base);
    SeekInside(s, pos, w.Size);
    const uint16_t n = w.R.ReadU16();
    SeekInside(s, pos + 2 + 12LL * n, w.Size);
    const uint32_t next = w.R.ReadU32();
    return next > 0 ? static_cast<int64_t>(next) + base : 0;
}

TRawIfdInfo ReadAt(TStream& s, bool big, int64_t base, int64_t pos) {
    TRawIfdInfo info;
    ReadRawIfd(s, pos, big, false, info, base, false);
    return info;
}

TRawIfdInfo Resolve(TStream& s, bool big, int64_t base, const TRawIfdInfo& ifd0, int strategy) {
    TRawIfdInfo r;
    switch (strategy) {
        case rsNone:
            r.PixelFormat = pfDevice;
            r.Compression = 0;
            r.Orientation = 0;
            return r;
        case rsIfd0:
            return ifd0;
        case rsIfd1:
            if (ifd0.NextIfd > 0) return ReadAt(s, big, base, ifd0.NextIfd);
            return ifd0;
        case rsIfd2: {
            const int64_t p = ifd0.NextIfd > 0 ? IfdAfter(s, big, base, ifd0.NextIfd) : 0;
            if (p > 0) return ReadAt(s, big, base, p);
            return ifd0;
        }
        case rsSubIfd1:
            if (ifd0.SubIfd1 > 0) return ReadAt(s, big, base, ifd0.SubIfd1);
            return ifd0;
        case rsSubIfd2:
            if (ifd0.SubIfd2 > 0) return ReadAt(s, big, base, ifd0.SubIfd2);
            return ifd0;
        case rsMinolta:
            if (ifd0.ExifIfd > 0) {
                const int64_t note = FindMakerNote(s, big, base, ifd0.ExifIfd);
                r = note > 0 ? MinoltaNote(s, big, base, note) : TRawIfdInfo{};
                break;
            }
            return ifd0;
        case rsSubIfdOrNikon:
            if (ifd0.SubIfd1 > 0 && ifd0.SubIfd2 > 0) return ReadAt(s, big, base, ifd0.SubIfd1);
            if (ifd0.ExifIfd > 0) {
                const int64_t note = FindMakerNote(s, big, base, ifd0.ExifIfd);
                r = note > 0 ? NikonNote(s, note) : TRawIfdInfo{};
                break;
            }
            return ifd0;
        case rsOlympus:
            if (ifd0.ExifIfd > 0) {
                const int64_t note = FindMakerNote(s, big, base, ifd0.ExifIfd);
                r = note > 0 ? OlympusNote(s, big, base, note) : TRawIfdInfo{};
                break;
            }
            return ifd0;
        case rsIfd2OrPentax: {
            if (ifd0.NextIfd > 0) {
                const int64_t p = IfdAfter(s, big, base, ifd0.NextIfd);
                if (p > 0) {
                    r = ReadAt(s, big, base, p);
                    if (r.JpegOffset > 0) return r;
                }
            }
            if (ifd0.ExifIfd > 0) {
                const int64_t note = FindMakerNote(s, big, base, ifd0.ExifIfd);
                r = note > 0 ? PentaxNote(s, base, note) : TRawIfdInfo{};
                break;
            }
            return ifd0;
        }
        default:
            return ifd0;
    }
    JpegSizeFallback(s, r);
    return r;
}

// Copies length bytes at offset into a new memory stream; nothing when they are not all there.
std::unique_ptr<TMemoryStream> CopyPreview(TStream& s, int64_t offset, int64_t length) {
    const int64_t size = s.Size();
    if (offset <= 0 || length <= 0 || offset >= size || length > size - offset) return nullptr;
    auto ms = std::make_unique<TMemoryStream>();
    ms->Data().resize(static_cast<size_t>(length));
    s.Seek(offset, soBeginning);
    const int64_t got = s.Read(ms->Data().data(), length);
    if (got != length) return nullptr;
    return ms;
}

void OpenAndRead(const std::string& fileName, bool largeWanted, bool thumbWanted, TTiffInfoRec& rec) {
    rec = TTiffInfoRec();
    try {
        TFileStream file(fileName, TFileStream::fmOpenRead);
        TBufferedStream s(file, kMetadataBufferSize);
        RawPreviewFromStream(s, RawKind(fileName), largeWanted, thumbWanted, rec);
    } catch (const std::exception&) {
        // a file that cannot be opened or read has no preview
        rec = TTiffInfoRec();
    }
}

}  // namespace

int RawKind(const std::string& fileName) {
    const std::string ext = UpperFileExt(fileName);
    static const char* const kExts[] = {".CR2", ".CRW", ".DNG", ".ERF", ".MRW", ".NEF",
                                        ".NSK", ".ORF", ".PEF", ".RAF", ".SRF"};
    for (int i = 0; i < 11; ++i)
        if (ext == kExts[i]) return i + 1;
    return rkNone;
}

int RawLargeStrategy(int kind) {
    switch (kind) {
        case rkCR2: return rsIfd0;
        case rkDNG: return rsSubIfd2;
        case rkMRW: return rsMinolta;
        case rkNEF: return rsSubIfdOrNikon;
        case rkNSK: return rsIfd0;
        case rkORF: return rsOlympus;
        case rkPEF: return rsIfd2OrPentax;
        default: return rsNone;  // ERF, RAF, SRF
    }
}

int RawThumbStrategy(int kind) {
    switch (kind) {
        case rkDNG: return rsIfd0;
        case rkMRW: return rsMinolta;
        case rkNEF: return rsIfd0;
        case rkCR2: case rkERF: case rkNSK: case rkORF: case rkPEF: case rkRAF: case rkSRF: return rsIfd1;
        default: return rsNone;
    }
}

void ReadRawIfd(TStream& s, int64_t ifdPos, bool big, bool readDate, TRawIfdInfo& info, int64_t base, bool passExif) {
    info = TRawIfdInfo();
    try {
        TRawTiff w(s, big, base);
        const TIfdWalkResult walk = w.Walk(ifdPos, [&](const TIfdEntry& e) {
            bool stop = false;
            switch (e.Tag) {
                case 0x0100: info.Width = w.R.SideValue(e); break;
                case 0x0101: info.Height = w.R.SideValue(e); break;
                case 0x0103: info.Compression = static_cast<int32_t>(w.R.IntegerValue(e)); break;
                case 0x0111:
                case 0x0201: info.JpegOffset = static_cast<int64_t>(w.R.IntegerValue(e)) + base; break;
                case 0x0112: info.Orientation = static_cast<int32_t>(w.R.IntegerValue(e)); break;
                case 0x0117:
                case 0x0202:
                    info.JpegLength = w.R.IntegerValue(e);
                    stop = !readDate;
                    break;
                case 0x014A:
                    if (e.Count == 1) {
                        info.SubIfd1 = static_cast<int64_t>(e.Value) + base;
                    } else if (e.Count >= 2) {
                        SeekInside(s, static_cast<int64_t>(e.Value) + base, w.Size);
                        info.SubIfd1 = static_cast<int64_t>(w.R.ReadU32()) + base;
                        info.SubIfd2 = static_cast<int64_t>(w.R.ReadU32()) + base;
                    }
                    break;
                case 0x8769:
                    info.ExifIfd = static_cast<int64_t>(e.Value) + base;
                    stop = !passExif;
                    break;
                case 0x8825: info.GpsIfd = static_cast<int64_t>(e.Value) + base; break;
                default: break;
            }
            return !stop;
        });
        SeekInside(s, ifdPos + 2 + 12LL * walk.Count, w.Size);
        const uint32_t next = w.R.ReadU32();
        info.NextIfd = next > 0 ? static_cast<int64_t>(next) + base : 0;
        if (readDate && info.ExifIfd > 0 && info.ExifIfd < w.Size) {
            w.Walk(info.ExifIfd, [&](const TIfdEntry& e) {
                if (e.Tag == 0x9003) info.ShootingDate = w.R.DateTimeValue(e);
                return e.Tag < 0x9003;
            });
        }
    } catch (const std::exception&) {
        // what was read so far stays
    }
    try {
        JpegSizeFallback(s, info);
    } catch (const std::exception&) {
    }
}

void ReadRawPreviews(TStream& s, int mainStrategy, int copyStrategy, TTiffInfoRec& rec) {
    rec = TTiffInfoRec();
    try {
        const int64_t base = s.Position();
        uint8_t h[8];
        s.ReadBuffer(h, 8);
        const TByteOrderMark mark = ByteOrderMarkOf(h);
        if (mark == TByteOrderMark::None) return;
        const bool big = mark == TByteOrderMark::Big;
        TTiffReader hr(s);
        hr.SetBigEndian(big);
        const uint32_t ifd0Off = hr.U32(h + 4);
        TRawIfdInfo ifd0;
        ReadRawIfd(s, base + static_cast<int64_t>(ifd0Off), big, true, ifd0, base, false);
        rec.ExifIfdFound = ifd0.ExifIfd > 0 ? 1 : 0;
        rec.Orientation = ifd0.Orientation;
        rec.ShootingDate = ifd0.ShootingDate;

        const TRawIfdInfo main = Resolve(s, big, base, ifd0, mainStrategy);
        rec.PixelFormat = main.PixelFormat;
        rec.Width = main.Width;
        rec.Height = main.Height;
        rec.Compression = main.Compression;

        TRawIfdInfo copy;
        if (copyStrategy == rsIfd0)
            copy = ifd0;
        else if (copyStrategy == mainStrategy)
            copy = main;
        else
            copy = Resolve(s, big, base, ifd0, copyStrategy);
        rec.ThumbWidth = copy.Width;
        rec.ThumbHeight = copy.Height;
        rec.ThumbCompression = copy.Compression;
        rec.ThumbOffset = copy.JpegOffset;
        rec.ThumbLength = copy.JpegLength;
        if (copyStrategy != rsIfd0) rec.ThumbOrientation = copy.Orientation;

        if (copy.JpegOffset > 0 && copy.JpegLength > 0) {
            rec.ThumbStream = CopyPreview(s, copy.JpegOffset, copy.JpegLength);
            if (rec.ThumbStream && copyStrategy == rsMinolta && rec.ThumbStream->Size() >= 2) {
                // these previews do not start with the marker
                rec.ThumbStream->Data()[0] = 0xFF;
                rec.ThumbStream->Data()[1] = 0xD8;
            }
        }
    } catch (const std::exception&) {
        rec = TTiffInfoRec();
    }
}

void ReadCiffPreview(TStream& s, bool copyWanted, TTiffInfoRec& rec) {
    rec = TTiffInfoRec();
    try {
        const int64_t size = s.Size();
        if (size < 18) return;
        uint8_t h[14];
        s.Seek(0, soBeginning);
        s.ReadBuffer(h, 14);
        if (std::memcmp(h + 6, "HEAPCCDR", 8) != 0) return;
        TTiffReader r(s);
        r.SetBigEndian(ByteOrderMarkOf(h) == TByteOrderMark::Big);
        const int64_t headerLength = r.U32(h + 2);
        s.Seek(size - 4, soBeginning);
        const int64_t dirOffset = r.ReadU32();
        SeekInside(s, headerLength + dirOffset, size);
        const uint16_t n = r.ReadU16();
        const int64_t entries = s.Position();
        if (entries + 10LL * n > size) return;
        for (uint16_t i = 0; i < n; ++i) {
            s.Seek(entries + 10LL * i, soBeginning);
            uint8_t e[10];
            s.ReadBuffer(e, 10);
            const int64_t len = r.U32(e + 2);
            const int64_t at = headerLength + static_cast<int64_t>(r.U32(e + 6));
            if (at < 0 || at + 2 > size) continue;
            s.Seek(at, soBeginning);
            uint8_t m[2];
            s.ReadBuffer(m, 2);
            if (m[0] != 0xFF || m[1] != 0xD8) continue;
            s.Seek(at, soBeginning);
            TJpegSizeRec j;
            ReadJpegSize(s, false, j);
            rec.PixelFormat = j.PixelFormat;
            rec.Width = j.Width;
            rec.Height = j.Height;
            rec.ExifIfdFound = j.IsExif ? 1 : 0;
            rec.Compression = 6;
            rec.StripOffset = at;
            rec.StripByteCount = len;
            if (copyWanted) {
                rec.ThumbWidth = j.Width;
                rec.ThumbHeight = j.Height;
                rec.ThumbCompression = 6;
                rec.ThumbOrientation = 1;
                rec.ThumbOffset = at;
                rec.ThumbLength = len;
                // the preview is the entry's bytes, starting with its FF D8
                rec.ThumbStream = CopyPreview(s, at, len);
            }
            return;
        }
    } catch (const std::exception&) {
        rec = TTiffInfoRec();
    }
}

void RawPreviewFromStream(TStream& s, int kind, bool largeWanted, bool thumbWanted, TTiffInfoRec& rec) {
    rec = TTiffInfoRec();
    try {
        if (kind == rkCRW) {
            ReadCiffPreview(s, largeWanted, rec);
            return;
        }
        const int large = RawLargeStrategy(kind);
        const int copy = largeWanted ? large : (thumbWanted ? RawThumbStrategy(kind) : rsNone);
        if (kind == rkRAF) {
            // the metadata of these files sits in an ordinary JPEG near the start
            const int64_t app1 = FindAppSegment(s, 1);
            if (app1 < 0) return;
            s.Seek(app1 + 4, soBeginning);
            uint8_t h[6];
            if (s.Read(h, 6) != 6 || !IsExifHeader(h)) return;
            s.Seek(app1, soBeginning);
        } else {
            s.Seek(0, soBeginning);
        }
        if (!FindTiffHeader(s)) return;
        ReadRawPreviews(s, large, copy, rec);
    } catch (const std::exception&) {
        rec = TTiffInfoRec();
    }
}

void RawPreviewInfo(const std::string& fileName, bool largeWanted, bool thumbWanted, TTiffInfoRec& rec) {
    OpenAndRead(fileName, largeWanted, thumbWanted, rec);
}

void RawPreviewInfoLocked(const std::string& fileName, bool largeWanted, bool thumbWanted, TTiffInfoRec& rec) {
    std::lock_guard<std::recursive_mutex> guard(ImageLoadLock());
    OpenAndRead(fileName, largeWanted, thumbWanted, rec);
}

}  // namespace fv
