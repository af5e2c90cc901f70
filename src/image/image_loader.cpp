#include "image/image_loader.h"

#include "image/image_decode.h"
#include "image/jpeg_codec.h"
#include "image/resample.h"
#include "metadata/jpeg_info.h"
#include "metadata/raw_preview.h"
#include "image/transform.h"
#include "platform/stream.h"

namespace fv {

int ViewDecodeEighths(int width, int height, int minWidth, int minHeight) {
    for (int e = 1; e < 8; ++e)
        if (JpegEighthsSide(width, e) >= minWidth && JpegEighthsSide(height, e) >= minHeight) return e;
    return 8;
}

namespace {

bool ViewJpegKind(int kind, const std::string& fileName) {
    return kind == ikJpeg || kind == ikDcfThumb || (kind == ikRaw && RawKind(fileName) == rkRAF);
}

// The DCT scale a viewer's JPEG is decoded at, from its header at the stream's position (RAF
// files: their embedded JPEG), which is kept.
int ViewJpegEighths(TStream& s, int reduce, const TViewDecodeWant& want) {
    FindJpegStart(s);
    if (s.Position() >= s.Size()) throw EJpegError("Not a JPEG file");
    const TJpegHeader h = ReadJpegHeaderStream(s);
    int minW = 0, minH = 0;
    if (want) want(h.Width, h.Height, minW, minH);
    return minW > 0 || minH > 0 ? ViewDecodeEighths(h.Width, h.Height, minW, minH) : 8 / ReduceDenominator(reduce);
}

// A photo read a chunk at a time, each read under ImageLoadLock as a whole-file load is.
class TLockedFileStream : public TFileStream {
public:
    explicit TLockedFileStream(const std::string& path) : TFileStream(path, fmOpenRead) {}
    int64_t Read(void* buffer, int64_t count) override {
        std::lock_guard<std::recursive_mutex> guard(ImageLoadLock());
        return TFileStream::Read(buffer, count);
    }
};

bool QuarterTurned(int orientation) { return orientation >= 5 && orientation <= 8; }

}  // namespace

void LoadViewImage(TBitmap& bitmap, int kind, const std::string& fileName, int reduce, const TViewDecodeWant& want,
                   const std::function<bool()>& cancelled, int* eighths) {
    if (!ViewJpegKind(kind, fileName)) {
        LoadImage(bitmap, kind, fileName, {}, reduce);
        if (eighths) *eighths = 8 / ReduceDenominator(reduce);
        return;
    }
    TMemoryStream file;
    LoadFileToMemory(fileName, file);
    if (cancelled && cancelled()) throw EImageAbort("cancelled");
    const int e = ViewJpegEighths(file, reduce, want);
    const auto pos = static_cast<size_t>(file.Position());
    DecodeJpegEighths(file.Data().data() + pos, file.Data().size() - pos, bitmap, e, cancelled);
    if (eighths) *eighths = e;
}

bool LoadViewImageFitted(TBitmap& fitted, int kind, const std::string& fileName, int reduce, int orientation,
                         const TViewDecodeWant& want, const TViewFitSize& fit, int kernel,
                         const std::function<bool()>& cancelled, TViewFittedFacts* facts) {
    if (!ViewJpegKind(kind, fileName)) return false;
    // the file is read as the rows are decoded, never whole
    TLockedFileStream file(fileName);
    const int e = ViewJpegEighths(file, reduce, want);
    if (cancelled && cancelled()) throw EImageAbort("cancelled");
    TJpegRowReader reader;
    reader.Open(file, static_cast<unsigned>(std::clamp(e, 1, 8)), 8, cancelled);
    const bool turn = QuarterTurned(orientation);
    const int w = reader.Width(), h = reader.Height();
    int fw = 0, fh = 0;
    fit(turn ? h : w, turn ? w : h, fw, fh);
    if (fw <= 0 || fh <= 0) throw EImageAbort("");
    // the fitted picture as the file stores it; turned once it is made
    TBitmap out(turn ? fh : fw, turn ? fw : fh, pf32bit);
    // a strip of rows the decoder fills as the resampler asks; rows it skips are read and dropped
    constexpr int kStrip = 16;
    const size_t rowBytes = static_cast<size_t>(w) * 3 + 16;
    std::vector<uint8_t> strip(rowBytes * kStrip);
    uint8_t* rows[kStrip];
    auto source = [&](int first, int count, const uint8_t** out) {
        if (cancelled && cancelled()) throw EImageAbort("cancelled");
        while (reader.NextRow() < first) {
            const int n = std::min(kStrip, first - reader.NextRow());
            for (int k = 0; k < n; ++k) rows[k] = strip.data() + static_cast<size_t>(k) * rowBytes;
            reader.ReadRows(rows, n);
        }
        for (int k = 0; k < count; ++k) rows[k] = strip.data() + static_cast<size_t>(k) * rowBytes;
        reader.ReadRows(rows, count);
        for (int k = 0; k < count; ++k) out[k] = rows[k];
    };
    // a picture turned by a quarter has its rows and columns swapped: filtered columns first, it
    // gets the very passes it would have got turned first
    FilteredResampleRows(w, h, source, out, kernel, {}, turn);
    OrientPicture32(out, orientation);
    fitted.Swap(out);
    if (facts) {
        facts->Eighths = e;
        facts->DecodedWidth = turn ? h : w;
        facts->DecodedHeight = turn ? w : h;
    }
    return true;
}

void OrientPicture32(TBitmap& bitmap, int orientation) {
    if (orientation < 2 || orientation > 8 || bitmap.Empty() || bitmap.PixelFormat() != pf32bit) return;
    const int W = bitmap.Width(), H = bitmap.Height();
    const bool turn = QuarterTurned(orientation);
    const int nw = turn ? H : W, nh = turn ? W : H;
    // where new pixel (0, 0) comes from, and how far the source moves (in pixels) for one step
    // right and one step down in the new picture
    int x0 = 0, y0 = 0, dxX = 1, dyX = 0, dxY = 0, dyY = 1;
    switch (orientation) {
        case 2: x0 = W - 1; dxX = -1; break;                                     // mirrored
        case 3: x0 = W - 1; y0 = H - 1; dxX = -1; dyY = -1; break;               // half turn
        case 4: y0 = H - 1; dyY = -1; break;                                     // flipped
        case 5: dxX = 0; dyX = 1; dxY = 1; dyY = 0; break;                       // transposed
        case 6: y0 = H - 1; dxX = 0; dyX = -1; dxY = 1; dyY = 0; break;          // clockwise
        case 7: x0 = W - 1; y0 = H - 1; dxX = 0; dyX = -1; dxY = -1; dyY = 0; break;  // transverse
        case 8: x0 = W - 1; dxX = 0; dyX = 1; dxY = -1; dyY = 0; break;          // counter-clockwise
    }
    TBitmap out(nw, nh, pf32bit);
    const auto* src = reinterpret_cast<const uint32_t*>(bitmap.Bits());
    const ptrdiff_t srow = bitmap.Stride() / 4;
    const ptrdiff_t stepX = dxX + dyX * srow, stepY = dxY + dyY * srow;
    for (int y = 0; y < nh; ++y) {
        auto* d = reinterpret_cast<uint32_t*>(out.ScanLine(y));
        const ptrdiff_t line = x0 + y0 * srow + y * stepY;
        for (int x = 0; x < nw; ++x) d[x] = src[line + x * stepX];
    }
    bitmap.Swap(out);
}

}  // namespace fv
