#include "image/image_decode.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <mutex>

#include "image/image_io.h"
#include "image/jpeg_codec.h"
#include "metadata/buffered_stream.h"
#include "metadata/jpeg_info.h"
#include "metadata/raw_preview.h"
#include "platform/byte_order.h"
#include "platform/file_name.h"
#include "image/resample.h"
#include "image/transform.h"

namespace fv {

namespace {

const char* const kUnsupportedFormat = "未サポートの形式です。";
const char* const kUnsupportedWmf = "この形式のWMFは未対応です。";



// Size of an enhanced metafile from its header frame (hundredths of a millimetre).
struct TEmfFacts {
    int Width = 0;
    int Height = 0;
    bool HasPalette = false;
};
TEmfFacts ReadEmfFacts(const std::vector<uint8_t>& d) {
    if (d.size() < 88 || GetU32(d.data()) != 1 || GetU32(d.data() + 40) != 0x464D4520)
        throw EImageLoadError(kUnsupportedFormat);
    const auto frame = [&](size_t at) { return static_cast<int32_t>(GetU32(d.data() + at)); };
    const int64_t fw = static_cast<int64_t>(frame(32)) - frame(24);
    const int64_t fh = static_cast<int64_t>(frame(36)) - frame(28);
    TEmfFacts f;
    f.Width = static_cast<int>(std::llround(static_cast<double>(fw) * kScreenPixelsPerInch / 2540.0));
    f.Height = static_cast<int>(std::llround(static_cast<double>(fh) * kScreenPixelsPerInch / 2540.0));
    f.HasPalette = GetU32(d.data() + 68) != 0;
    if (f.Width <= 0 || f.Height <= 0 || f.Width > kMaxBitmapSide || f.Height > kMaxBitmapSide)
        throw EImageLoadError(kUnsupportedFormat);
    return f;
}

// Metafiles cannot be played on this platform yet: the picture of the right size stays white.
void BlankPicture(TBitmap& bmp, int w, int h) {
    bmp.Clear();
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(std::max(w, 0), std::max(h, 0));
    bmp.Fill(255, 255, 255);
}

void TakeJpegInfo(const TJpegInfoExRec& rec, uint8_t found, TImageInfoRec& info) {
    info.PixelFormat = rec.PixelFormat;
    info.Width = rec.Width;
    info.Height = rec.Height;
    info.IsExif = rec.IsExif;
    if (found & jiExif) {
        info.Orientation = rec.Orientation;
        info.HasOrientation = rec.Orientation > 1;
        info.ShootingDate = rec.ShootingDate;
    }
}

void TakeRawInfo(const TTiffInfoRec& rec, TImageInfoRec& info) {
    info.PixelFormat = rec.PixelFormat;
    info.Width = rec.Width;
    info.Height = rec.Height;
    info.IsExif = rec.ExifIfdFound != 0;
    info.Orientation = rec.Orientation;
    info.HasOrientation = rec.Orientation > 1;
    info.ShootingDate = rec.ShootingDate;
}

void SmoothOrNearest(TBitmap& src, TBitmap& dst, bool smooth) {
    if (smooth)
        FilteredResample(src, dst, fkTriangle);
    else
        Nearest(src, dst);
}

// The one look at a file's name the decoders need beyond its item kind: which raw format.
int RawKindOf(int kind, const std::string& fileName) { return kind == ikRaw ? RawKind(fileName) : rkNone; }

// RAF files keep their metadata and preview in an ordinary JPEG near the start
bool IsJpegLike(int kind, int rawKind) { return kind == ikJpeg || kind == ikDcfThumb || rawKind == rkRAF; }

// The large preview of a raw file through one open of the file (a missing file raises here),
// read through the 16 KiB buffer; only the preview's bytes are copied. Under ImageLoadLock
// when locked is true.
void ReadRawPreviewFile(const std::string& fileName, int rawKind, bool locked, TTiffInfoRec& rec) {
    TFileStream file(fileName, TFileStream::fmOpenRead);
    std::unique_lock<std::recursive_mutex> guard(ImageLoadLock(), std::defer_lock);
    if (locked) guard.lock();
    TBufferedStream s(file, kMetadataBufferSize);
    RawPreviewFromStream(s, rawKind, true, false, rec);
}

}  // namespace


float ReduceFactor(int reduce) {
    switch (reduce) {
        case 0: return 1.0f;
        case 1: return 0.5f;
        case 2: return 0.25f;
        default: return reduce < 0 ? 1.0f : 0.125f;
    }
}

int ReduceDenominator(int reduce) {
    if (reduce <= 0) return 1;
    if (reduce == 1) return 2;
    if (reduce == 2) return 4;
    return 8;
}

bool LoadFileToMemory(const std::string& fileName, TMemoryStream& stream) {
    std::lock_guard<std::recursive_mutex> guard(ImageLoadLock());
    stream.Clear();
    std::error_code ec;
    const auto size = std::filesystem::file_size(fileName, ec);
    if (!ec && size > kMaxPictureFileSize)
        throw EImageLoadError(Format("\"%s\" is too large to load (%llu bytes)", fileName.c_str(),
                                     static_cast<unsigned long long>(size)));
    stream.LoadFromFile(fileName);
    stream.SetPosition(0);
    return stream.Size() > 0;
}

bool ReadPlaceableWmfHeader(const uint8_t* d, size_t size, TPlaceableWmfHeader& h) {
    if (d == nullptr || size < 22) return false;
    h.Key = GetU32(d);
    h.Handle = GetU16(d + 4);
    h.Left = static_cast<int16_t>(GetU16(d + 6));
    h.Top = static_cast<int16_t>(GetU16(d + 8));
    h.Right = static_cast<int16_t>(GetU16(d + 10));
    h.Bottom = static_cast<int16_t>(GetU16(d + 12));
    h.UnitsPerInch = GetU16(d + 14);
    h.Reserved = GetU32(d + 16);
    h.Checksum = GetU16(d + 20);
    if (h.Key != 0x9AC6CDD7u) return false;
    uint16_t x = 0;
    for (int i = 0; i < 10; ++i) x ^= GetU16(d + 2 * i);
    return x == h.Checksum;
}

namespace {

// A metafile read whole: a WMF's placeable box (in its own units) and units per inch, or an EMF's
// header frame; false for a WMF without a valid placeable header.
struct TMetafileFacts {
    bool Wmf = false;
    double BoxWidth = 0, BoxHeight = 0, UnitsPerInch = 96.0;
    TEmfFacts Emf;
};

bool ReadMetafileFacts(const std::string& fileName, TMetafileFacts& m) {
    TMemoryStream ms;
    LoadFileToMemory(fileName, ms);
    const auto& d = ms.Data();
    if (UpperFileExt(fileName) != ".WMF") {
        m.Emf = ReadEmfFacts(d);
        return true;
    }
    m.Wmf = true;
    TPlaceableWmfHeader h;
    if (!ReadPlaceableWmfHeader(d.data(), d.size(), h)) return false;
    m.BoxWidth = h.Right - h.Left;
    m.BoxHeight = h.Bottom - h.Top;
    m.UnitsPerInch = h.UnitsPerInch == 0 ? 96.0 : h.UnitsPerInch;
    return true;
}

}  // namespace

void ReduceBitmap(TBitmap& bmp, int reduce) {
    if (reduce <= 0 || bmp.Empty()) return;
    const float s = ReduceFactor(reduce);
    // a side never shrinks to nothing
    const int w = std::max(1, static_cast<int>(std::trunc(bmp.Width() * s + 0.5)));
    const int h = std::max(1, static_cast<int>(std::trunc(bmp.Height() * s + 0.5)));
    TBitmap out(w, h);
    FilteredResample(bmp, out, fkTriangle);
    bmp.Swap(out);
}

void GetImageInfo(const std::string& fileName, int kind, TImageInfoRec& info) {
    info = TImageInfoRec();
    const int rawKind = RawKindOf(kind, fileName);
    if (IsJpegLike(kind, rawKind)) {
        uint8_t options = jiExif;
        TJpegInfoExRec rec;
        if (ReadJpegInfoExFromFile(fileName, options, rec)) TakeJpegInfo(rec, options, info);
        FreeJpegInfoEx(rec);
        return;
    }
    switch (kind) {
        case ikBmp: {
            // the headers are enough: the pixels are never decoded to learn a size
            TFileStream file(fileName, TFileStream::fmOpenRead);
            uint8_t head[kBmpHeaderBytes];
            const int64_t n = file.Read(head, sizeof head);
            int w = 0, h = 0;
            TPixelFormat pf = pf24bit;
            ReadBmpFacts(head, n > 0 ? static_cast<size_t>(n) : 0, w, h, pf);
            info.PixelFormat = pf;
            info.Width = w;
            info.Height = h;
            return;
        }
        case ikMetafile: {
            TMetafileFacts m;
            if (!ReadMetafileFacts(fileName, m)) throw EImageAbort("");
            if (m.Wmf) {
                // an inverted box gives unknown sides, never negative ones
                info.Width = std::max(0, static_cast<int32_t>(std::trunc(m.BoxWidth * kScreenPixelsPerInch / m.UnitsPerInch + 0.5)));
                info.Height = std::max(0, static_cast<int32_t>(std::trunc(m.BoxHeight * kScreenPixelsPerInch / m.UnitsPerInch + 0.5)));
                info.PixelFormat = pf24bit;
            } else {
                info.Width = m.Emf.Width;
                info.Height = m.Emf.Height;
                info.PixelFormat = m.Emf.HasPalette ? pf8bit : pf24bit;
            }
            return;
        }
        case ikRaw: {
            TTiffInfoRec rec;
            RawPreviewInfo(fileName, false, false, rec);
            TakeRawInfo(rec, info);
            return;
        }
        default:
            if (kind >= ikNotImage) info.PixelFormat = pfDevice;
            return;
    }
}

void LoadImage(TBitmap& bmp, int kind, const std::string& fileName, const TProgressEvent& progress, int reduce) {
    const int rawKind = RawKindOf(kind, fileName);
    if (rawKind == rkRAF) kind = ikJpeg;
    if (kind > ikRaw) throw EImageLoadError(kUnsupportedFormat);
    const int denom = ReduceDenominator(reduce);
    switch (kind) {
        case ikBmp: {
            TMemoryStream ms;
            LoadFileToMemory(fileName, ms);
            TProgressReporter rep(progress, 0);
            LoadBmpFromMemory(ms.Data().data(), ms.Data().size(), bmp);
            ReduceBitmap(bmp, reduce);
            return;
        }
        case ikMetafile: {
            TMetafileFacts m;
            if (!ReadMetafileFacts(fileName, m)) throw EImageLoadError(kUnsupportedWmf);
            if (m.Wmf) {
                const double s = ReduceFactor(reduce);
                const int w = static_cast<int>(std::trunc(m.BoxWidth * kScreenPixelsPerInch * s / m.UnitsPerInch));
                const int hh = static_cast<int>(std::trunc(m.BoxHeight * kScreenPixelsPerInch * s / m.UnitsPerInch));
                BlankPicture(bmp, w, hh);
            } else {
                BlankPicture(bmp, m.Emf.Width, m.Emf.Height);
                ReduceBitmap(bmp, reduce);
            }
            return;
        }
        case ikRaw: {
            TTiffInfoRec rec;
            ReadRawPreviewFile(fileName, rawKind, false, rec);
            if (!rec.ThumbStream) throw EImageLoadError(Format("No preview picture in \"%s\"", fileName.c_str()));
            FindJpegStart(*rec.ThumbStream);
            DecodeJpegStream(*rec.ThumbStream, bmp, denom, progress);
            return;
        }
        default: {
            TMemoryStream ms;
            LoadFileToMemory(fileName, ms);
            FindJpegStart(ms);
            DecodeJpegStream(ms, bmp, denom, progress);
            return;
        }
    }
}

int ThumbnailScaleDenominator(int srcWidth, int fittedWidth) {
    if (fittedWidth <= 0) return 1;
    const float f = static_cast<float>(srcWidth) / static_cast<float>(fittedWidth);
    if (f >= 8.0f) return 8;
    if (f >= 4.0f) return 4;
    if (f >= 2.0f) return 2;
    return 1;
}

bool FitJpegStream(TStream& stream, TBitmap& bmp, int maxWidth, bool smooth, int srcHeight, int srcWidth,
                   int maxHeight) {
    if (srcWidth < 1 && srcHeight < 1) throw EImageAbort("");
    if (srcWidth < 1 || srcHeight < 1 || srcWidth > kMaxJpegSide || srcHeight > kMaxJpegSide) {
        // a size the header readers could not make sense of: the JPEG's own frame header decides
        const TJpegHeader h = ReadJpegHeaderStream(stream);
        srcWidth = h.Width;
        srcHeight = h.Height;
    }
    if (maxWidth >= srcWidth && maxHeight >= srcHeight) {
        DecodeJpegStream(stream, bmp, 1);
        return false;
    }
    const TSize fit = FitSize(maxWidth, maxHeight, srcWidth, srcHeight);
    TBitmap tmp;
    DecodeJpegStream(stream, tmp, ThumbnailScaleDenominator(srcWidth, fit.Width));
    if (tmp.Width() == fit.Width && tmp.Height() == fit.Height) {
        bmp.Swap(tmp);
        return false;
    }
    bmp.Clear();
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(fit.Width, fit.Height);
    SmoothOrNearest(tmp, bmp, smooth);
    return true;
}

void LoadJpegThumbnail(TMemoryStream& ms, TBitmap& bmp, TImageInfoRec& info, bool smooth, int maxHeight,
                       int maxWidth) {
    info = TImageInfoRec();
    ms.SetPosition(0);
    uint8_t options = jiExif;
    TJpegInfoExRec rec;
    ReadJpegInfoEx(ms, options, rec);
    TakeJpegInfo(rec, options, info);
    FreeJpegInfoEx(rec);
    FindJpegStart(ms);
    info.Resized = FitJpegStream(ms, bmp, maxWidth, smooth, info.Height, info.Width, maxHeight);
}

void LoadRawThumbnail(TTiffInfoRec& rec, TBitmap& bmp, TImageInfoRec& info, bool smooth, int maxHeight, int maxWidth) {
    info = TImageInfoRec();
    TakeRawInfo(rec, info);
    if (rec.ThumbStream) {
        FindJpegStart(*rec.ThumbStream);
        info.Resized = FitJpegStream(*rec.ThumbStream, bmp, maxWidth, smooth, info.Height, info.Width, maxHeight);
        rec.ThumbStream.reset();
    }
}

void LoadThumbnail(TBitmap& bmp, const std::string& fileName, int kind, TImageInfoRec& info, bool smooth,
                   int maxHeight, int maxWidth) {
    info = TImageInfoRec();
    const int rawKind = RawKindOf(kind, fileName);
    if (IsJpegLike(kind, rawKind)) {
        TMemoryStream ms;
        LoadFileToMemory(fileName, ms);
        LoadJpegThumbnail(ms, bmp, info, smooth, maxHeight, maxWidth);
        return;
    }
    if (kind == ikRaw) {
        TTiffInfoRec rec;
        ReadRawPreviewFile(fileName, rawKind, true, rec);
        LoadRawThumbnail(rec, bmp, info, smooth, maxHeight, maxWidth);
        return;
    }
    if (kind >= ikNotImage) throw EImageAbort("");
    // bitmaps and metafiles: every failure leaves the defaults and an empty bitmap
    try {
        TBitmap tmp;
        LoadImage(tmp, kind, fileName, {}, 0);
        info.PixelFormat = tmp.PixelFormat();
        info.Width = tmp.Width();
        info.Height = tmp.Height();
        if (info.Width == 0 || info.Height == 0) return;
        if (maxWidth < info.Width || maxHeight < info.Height) {
            const TSize fit = FitSize(maxWidth, maxHeight, info.Width, info.Height);
            bmp.Clear();
            bmp.SetPixelFormat(pf24bit);
            bmp.SetSize(fit.Width, fit.Height);
            SmoothOrNearest(tmp, bmp, smooth);
            info.Resized = true;
        } else {
            bmp.Swap(tmp);
        }
    } catch (const std::exception&) {
        info = TImageInfoRec();
        bmp.Clear();
    }
}

}  // namespace fv
