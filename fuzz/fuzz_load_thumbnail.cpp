// libFuzzer target: the thumbnail path of JPEG and raw files from their bytes: the header
// read, the preview walk of every raw format over a small read buffer, the DCT-scaled
// decode with the final resample, the viewer's decode in eighths with a cancel check, and its
// strip reader feeding the resampler straight into a 32-bit fitted picture.
#include <cstddef>
#include <cstdint>

#include "metadata/buffered_stream.h"
#include "image/image_decode.h"
#include "image/jpeg_codec.h"
#include "image/resample.h"
#include "metadata/jpeg_info.h"
#include "metadata/raw_preview.h"

namespace {

// Pictures above this many pixels are still parsed, but not decoded: a few bytes can claim
// 30000 x 30000 pixels, and decoding that much grey is slow rather than wrong.
constexpr int64_t kMaxDecodedPixels = 4096LL * 4096;

bool SmallEnough(fv::TStream& s) {
    fv::TJpegSizeRec r;
    fv::ReadJpegSize(s, true, r);
    return r.Width > 0 && r.Height > 0 && static_cast<int64_t>(r.Width) * r.Height <= kMaxDecodedPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    {
        TMemoryStream ms(std::vector<uint8_t>(data, data + size));
        try {
            if (SmallEnough(ms)) {
                TBitmap b;
                TImageInfoRec info;
                LoadJpegThumbnail(ms, b, info, (size & 1) != 0, 120, 160);
                // the viewer's decode: an eighth scale from the input, and a cancel check that
                // stops some decodes part-way
                TBitmap v;
                int calls = 0;
                const int stopAfter = static_cast<int>(size % 7);
                DecodeJpegEighths(data, size, v, 1 + static_cast<int>(size % 8),
                                  [&] { return stopAfter != 0 && ++calls > stopAfter; });
            }
        } catch (const Exception&) {
            // bad pictures raise our own errors; anything else (or a crash) is a finding
        }
        // the viewer's fit while decoding: rows in strips, filtered into a smaller or larger
        // 32-bit picture, columns first for odd sizes (a quarter-turned photo)
        try {
            ms.Seek(0, soBeginning);
            if (SmallEnough(ms)) {
                // from memory, or from a stream a chunk at a time
                TJpegRowReader reader;
                TBytesStream whole(data, size);
                if ((size & 2) != 0) {
                    ReadJpegHeaderStream(whole);  // libjpeg reading the stream, which is kept where it was
                    if (whole.Position() != 0) __builtin_trap();
                    reader.Open(whole, 1 + static_cast<unsigned>(size % 8), 8);
                } else {
                    reader.Open(data, size, 1 + static_cast<unsigned>(size % 8), 8);
                }
                std::vector<uint8_t> strip(static_cast<size_t>(reader.Width()) * 3 * 16 + 16);
                auto source = [&](int first, int count, const uint8_t** rows) {
                    uint8_t* r[16];
                    for (int k = 0; k < 16; ++k) r[k] = strip.data() + static_cast<size_t>(k) * reader.Width() * 3;
                    while (reader.NextRow() < first) reader.ReadRows(r, std::min(16, first - reader.NextRow()));
                    reader.ReadRows(r, count);
                    for (int k = 0; k < count; ++k) rows[k] = r[k];
                };
                const int w = 1 + static_cast<int>(data[size / 2] % 97), h = 1 + static_cast<int>(data[size / 3] % 61);
                TBitmap fitted(w, h, pf32bit);
                FilteredResampleRows(reader.Width(), reader.Height(), source, fitted, fkSinc, {}, (w & 1) != 0);
            }
        } catch (const Exception&) {
            // bad pictures raise our own errors; anything else (or a crash) is a finding
        }
    }
    for (int kind = rkCR2; kind <= rkSRF; ++kind) {
        TBytesStream bytes(data, size);
        TBufferedStream s(bytes, 512);
        TTiffInfoRec rec;
        RawPreviewFromStream(s, kind, (kind & 1) != 0, true, rec);
        if (!rec.ThumbStream) continue;
        try {
            if (SmallEnough(*rec.ThumbStream)) {
                TBitmap b;
                TImageInfoRec info;
                LoadRawThumbnail(rec, b, info, true, 64, 64);
            }
        } catch (const Exception&) {
        }
    }
    return 0;
}
