#pragma once
// The one door to libjpeg (libjpeg-turbo through the IJG API): decoding with DCT scaling
// straight into BGR bitmap rows, and encoding 24-bit bitmaps with a quality setting.
// libjpeg's fatal errors come back as EJpegError; nothing here ever ends the process.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "image/bitmap.h"

namespace fv {

class TStream;

FV_DECLARE_EXCEPTION(EJpegError, Exception);

// Largest side of a picture the decoder accepts (header and output), and the memory the
// decoder may take for whole-image buffers (progressive files).
constexpr int kMaxJpegSide = 30000;
constexpr long kMaxJpegDecoderMemory = 1L << 30;

struct TJpegHeader {
    int Width = 0;
    int Height = 0;
    int Components = 0;
    bool Progressive = false;
};

// scaleDenom 1, 2, 4 or 8; best-quality DCT (islow) and fancy upsampling.
// The bitmap becomes 24-bit BGR of the scaled size. Raises EJpegError.
void DecodeJpeg(const uint8_t* data, size_t size, TBitmap& bitmap, int scaleDenom = 1,
                const TProgressEvent& progress = {});
// From the stream position to its end (memory streams are decoded without a copy).
void DecodeJpegStream(TStream& stream, TBitmap& bitmap, int scaleDenom = 1, const TProgressEvent& progress = {});
// Header facts only; raises EJpegError.
TJpegHeader ReadJpegHeader(const uint8_t* data, size_t size);
// For the viewer: decodes at eighths/8 of the full size (1..8; libjpeg-turbo scales the DCT in
// eighths), so that a photo can be decoded at the smallest size that still covers its box.
// `cancelled` is asked between rows and while a multi-scan file is read; a decode it stops
// raises EImageAbort. Raises EJpegError like DecodeJpeg.
using TCancelCheck = std::function<bool()>;
void DecodeJpegEighths(const uint8_t* data, size_t size, TBitmap& bitmap, int eighths,
                       const TCancelCheck& cancelled = {});
// A decode read a strip of rows at a time, so that the whole picture never has to exist at
// once (the viewer filters the rows into its fitted picture as they come). Rows are 24-bit BGR
// of Width() pixels, top first; CMYK files are converted. Open and ReadRows raise EJpegError
// (EImageAbort when `cancelled` stopped them); a truncated file gives its missing rows anyway
// (grey as libjpeg fills them, or black), the way DecodeJpeg does.
class TJpegRowReader {
public:
    TJpegRowReader();
    ~TJpegRowReader();
    TJpegRowReader(const TJpegRowReader&) = delete;
    TJpegRowReader& operator=(const TJpegRowReader&) = delete;
    // scaleNum / scaleDenom of the full size (n/8, or 1/1, 1/2, 1/4, 1/8); data stays the
    // caller's and must outlive the reader
    void Open(const uint8_t* data, size_t size, unsigned scaleNum, unsigned scaleDenom, TCancelCheck cancelled = {});
    // the same read from the stream's position on, 64 KiB at a time (the stream must outlive
    // the reader; its errors come back as EJpegError)
    void Open(TStream& stream, unsigned scaleNum, unsigned scaleDenom, TCancelCheck cancelled = {});
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // the next row ReadRows gives
    int NextRow() const { return FNext; }
    // the next `count` rows (fewer at the end of the picture) into rows[0..count), each of at
    // least Width() * 3 bytes
    void ReadRows(uint8_t* const* rows, int count);

private:
    struct TState;
    [[noreturn]] void Fail();
    void Begin(const uint8_t* data, size_t size, TStream* stream, unsigned scaleNum, unsigned scaleDenom,
               TCancelCheck cancelled);
    void OpenChecked(size_t size, unsigned scaleNum, unsigned scaleDenom);
    int ReadSome(uint8_t* const* rows, int count);
    std::unique_ptr<TState> FState;
    int FWidth = 0, FHeight = 0, FNext = 0;
};
// The side libjpeg gives at eighths/8 (rounded up).
int JpegEighthsSide(int side, int eighths);
// The same from the stream position (which is kept); a file stream is read by libjpeg as far as
// the header goes.
TJpegHeader ReadJpegHeaderStream(TStream& stream);
// The scaled size libjpeg will produce for a picture of width x height at 1/scaleDenom.
int JpegScaledSide(int side, int scaleDenom);

// Encodes a 24-bit (or 8/32-bit, converted) bitmap; quality 1..100; progressive: in several
// scans, coarse to fine.
std::vector<uint8_t> EncodeJpeg(const TBitmap& bitmap, int quality = 90, bool progressive = false);

}  // namespace fv
