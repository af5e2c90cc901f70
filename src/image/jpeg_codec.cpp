#include "image/jpeg_codec.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on
#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "platform/stream.h"

namespace fv {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: we jump back to
// the frame that set up the codec and raise from there.
struct TErrorManager {
    jpeg_error_mgr Pub;
    std::jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->Message);
    std::longjmp(err->Jump, 1);
}

// corrupt-data warnings are not printed; the decoder goes on with what it has
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}

// Files with absurd numbers of scans make a progressive decode run for minutes; a caller that
// no longer wants the picture stops the decode here too (libjpeg calls this while it reads a
// multi-scan file and between output rows).
constexpr int kMaxScans = 500;
struct TProgress {
    jpeg_progress_mgr Pub;
    const TCancelCheck* Cancelled = nullptr;
    bool CancelSeen = false;
};
void ProgressMonitor(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TErrorManager*>(cinfo->err);
    auto* prog = reinterpret_cast<TProgress*>(cinfo->progress);
    if (prog->Cancelled && *prog->Cancelled && (*prog->Cancelled)()) {
        prog->CancelSeen = true;
        std::snprintf(err->Message, sizeof err->Message, "JPEG decoding cancelled");
        std::longjmp(err->Jump, 1);
    }
    if (cinfo->is_decompressor) {
        auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->input_scan_number > kMaxScans) {
            std::snprintf(err->Message, sizeof err->Message, "JPEG has more than %d scans", kMaxScans);
            std::longjmp(err->Jump, 1);
        }
    }
}

void InitErrors(TErrorManager& em) {
    jpeg_std_error(&em.Pub);
    em.Pub.error_exit = ErrorExit;
    em.Pub.emit_message = EmitMessage;
    em.Pub.output_message = OutputMessage;
    em.Message[0] = 0;
}

// Owns a decompressor; destroyed on every way out.
struct TDecompressor {
    jpeg_decompress_struct Info;
    TErrorManager Err;
    TProgress Progress;
    bool Created = false;
    TDecompressor() {
        std::memset(&Info, 0, sizeof Info);
        InitErrors(Err);
        Info.err = &Err.Pub;
    }
    ~TDecompressor() {
        if (Created) jpeg_destroy_decompress(&Info);
    }
};

struct TCompressor {
    jpeg_compress_struct Info;
    TErrorManager Err;
    bool Created = false;
    unsigned char* OutBuf = nullptr;
    unsigned long OutSize = 0;
    TCompressor() {
        std::memset(&Info, 0, sizeof Info);
        InitErrors(Err);
        Info.err = &Err.Pub;
    }
    ~TCompressor() {
        if (Created) jpeg_destroy_compress(&Info);
        std::free(OutBuf);
    }
};

void CheckSides(unsigned w, unsigned h, const char* what) {
    if (w == 0 || h == 0 || w > static_cast<unsigned>(kMaxJpegSide) || h > static_cast<unsigned>(kMaxJpegSide))
        throw EJpegError(Format("JPEG %s size %u x %u is not supported", what, w, h));
}

// A few bytes can claim a huge picture, and libjpeg fills what the data lacks with grey, so
// such a file would cost gigabytes. Even a flat picture needs some bits for each 8 x 8 block;
// a large picture with far fewer bytes than that is refused.
constexpr uint64_t kLargePicture = 50'000'000;
constexpr uint64_t kPixelsPerByteAtMost = 4096;
void CheckDataForSize(unsigned w, unsigned h, size_t size) {
    const uint64_t pixels = static_cast<uint64_t>(w) * h;
    if (pixels > kLargePicture && size < pixels / kPixelsPerByteAtMost)
        throw EJpegError(Format("JPEG data of %zu bytes is too short for %u x %u pixels", size, w, h));
}

// Adobe CMYK files are stored inverted; the colour is C * K with both inverted.
void CmykRowToBgr(const uint8_t* s, uint8_t* d, unsigned width, bool inverted) {
    for (unsigned x = 0; x < width; ++x, s += 4, d += 3) {
        unsigned c = s[0], m = s[1], y = s[2], k = s[3];
        if (!inverted) {
            c = 255 - c; m = 255 - m; y = 255 - y; k = 255 - k;
        }
        d[2] = static_cast<uint8_t>(c * k / 255);
        d[1] = static_cast<uint8_t>(m * k / 255);
        d[0] = static_cast<uint8_t>(y * k / 255);
    }
}

}  // namespace

int JpegScaledSide(int side, int scaleDenom) {
    if (scaleDenom <= 1) return side;
    return (side + scaleDenom - 1) / scaleDenom;
}

TJpegHeader ReadJpegHeader(const uint8_t* data, size_t size) {
    TDecompressor d;
    if (setjmp(d.Err.Jump)) throw EJpegError(d.Err.Message);
    jpeg_create_decompress(&d.Info);
    d.Created = true;
    jpeg_mem_src(&d.Info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.Info, TRUE);
    TJpegHeader h;
    h.Width = static_cast<int>(d.Info.image_width);
    h.Height = static_cast<int>(d.Info.image_height);
    h.Components = d.Info.num_components;
    h.Progressive = d.Info.progressive_mode != 0;
    return h;
}

namespace {

// libjpeg's input from a stream, a chunk at a time: the file never has to be in memory whole.
struct TStreamSource {
    jpeg_source_mgr Pub;
    TStream* Stream = nullptr;
    std::vector<uint8_t> Buffer;
};

void InitStreamSource(j_decompress_ptr) {}
void TermStreamSource(j_decompress_ptr) {}

boolean FillFromStream(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<TStreamSource*>(cinfo->src);
    int64_t got = -1;
    bool failed = false;
    try {
        got = src->Stream->Read(src->Buffer.data(), static_cast<int64_t>(src->Buffer.size()));
    } catch (...) {
        failed = true;  // nothing may be thrown through libjpeg: its own error instead
    }
    if (failed) ERREXIT(cinfo, JERR_FILE_READ);
    if (got <= 0) {
        // the file ends before the picture does: libjpeg finishes it as if it ended here
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->Buffer[0] = 0xFF;
        src->Buffer[1] = JPEG_EOI;
        got = 2;
    }
    src->Pub.next_input_byte = src->Buffer.data();
    src->Pub.bytes_in_buffer = static_cast<size_t>(got);
    return TRUE;
}

void SkipInStream(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<TStreamSource*>(cinfo->src);
    if (count <= 0) return;
    while (static_cast<size_t>(count) > src->Pub.bytes_in_buffer) {
        count -= static_cast<long>(src->Pub.bytes_in_buffer);
        FillFromStream(cinfo);
    }
    src->Pub.next_input_byte += count;
    src->Pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void UseStream(TStreamSource& src, TStream& stream) {
    src.Stream = &stream;
    src.Buffer.resize(64 * 1024);
    src.Pub.init_source = InitStreamSource;
    src.Pub.fill_input_buffer = FillFromStream;
    src.Pub.skip_input_data = SkipInStream;
    src.Pub.resync_to_restart = jpeg_resync_to_restart;
    src.Pub.term_source = TermStreamSource;
    src.Pub.next_input_byte = nullptr;
    src.Pub.bytes_in_buffer = 0;
}

}  // namespace

// The decompressor behind a row reader. Every method that calls libjpeg sets its own jump
// point, and nothing with a destructor lives between it and the libjpeg calls.
struct TJpegRowReader::TState {
    TStreamSource Source;
    TDecompressor D;
    TCancelCheck Cancelled;
    std::vector<uint8_t> CmykRow;
    bool Cmyk = false, Inverted = false, Started = false, Ended = false;
};

TJpegRowReader::TJpegRowReader() : FState(std::make_unique<TState>()) {}

TJpegRowReader::~TJpegRowReader() = default;

[[noreturn]] void TJpegRowReader::Fail() {
    if (FState->D.Progress.CancelSeen) throw EImageAbort(FState->D.Err.Message);
    throw EJpegError(FState->D.Err.Message);
}

void TJpegRowReader::Open(const uint8_t* data, size_t size, unsigned scaleNum, unsigned scaleDenom,
                          TCancelCheck cancelled) {
    if (data == nullptr || size < 4) throw EJpegError("Not a JPEG file");
    Begin(data, size, nullptr, scaleNum, scaleDenom, std::move(cancelled));
}

void TJpegRowReader::Open(TStream& stream, unsigned scaleNum, unsigned scaleDenom, TCancelCheck cancelled) {
    const int64_t left = stream.Size() - stream.Position();
    if (left < 4) throw EJpegError("Not a JPEG file");
    Begin(nullptr, static_cast<size_t>(left), &stream, scaleNum, scaleDenom, std::move(cancelled));
}

void TJpegRowReader::Begin(const uint8_t* data, size_t size, TStream* stream, unsigned scaleNum, unsigned scaleDenom,
                           TCancelCheck cancelled) {
    if (FState->D.Created) FState = std::make_unique<TState>();
    TState& st = *FState;
    st.Cancelled = std::move(cancelled);
    if (stream) UseStream(st.Source, *stream);
    jpeg_decompress_struct& info = st.D.Info;
    if (setjmp(st.D.Err.Jump)) Fail();
    jpeg_create_decompress(&info);
    st.D.Created = true;
    info.mem->max_memory_to_use = kMaxJpegDecoderMemory;
    st.D.Progress.Pub.progress_monitor = ProgressMonitor;
    st.D.Progress.Cancelled = &st.Cancelled;
    info.progress = &st.D.Progress.Pub;
    if (stream)
        info.src = &st.Source.Pub;
    else
        jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    OpenChecked(size, scaleNum, scaleDenom);
    if (setjmp(st.D.Err.Jump)) Fail();
    jpeg_start_decompress(&info);
    st.Started = true;
    FWidth = static_cast<int>(info.output_width);
    FHeight = static_cast<int>(info.output_height);
    FNext = 0;
}

// the checks that raise from this frame, between the header and the start of the decode
void TJpegRowReader::OpenChecked(size_t size, unsigned scaleNum, unsigned scaleDenom) {
    TState& st = *FState;
    jpeg_decompress_struct& info = st.D.Info;
    CheckSides(info.image_width, info.image_height, "image");
    CheckDataForSize(info.image_width, info.image_height, size);
    if (setjmp(st.D.Err.Jump)) Fail();
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = TRUE;
    info.scale_num = scaleNum;
    info.scale_denom = scaleDenom;
    st.Cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = st.Cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_calc_output_dimensions(&info);
    CheckSides(info.output_width, info.output_height, "output");
    st.Inverted = info.saw_Adobe_marker != 0;
    if (st.Cmyk) st.CmykRow.resize(static_cast<size_t>(info.output_width) * 4);
}


// one call of libjpeg: up to count rows (one for CMYK files), 0 once it gives no more
int TJpegRowReader::ReadSome(uint8_t* const* rows, int count) {
    TState& st = *FState;
    if (setjmp(st.D.Err.Jump)) Fail();
    if (st.Cmyk) {
        JSAMPROW r = st.CmykRow.data();
        if (jpeg_read_scanlines(&st.D.Info, &r, 1) != 1) return 0;
        CmykRowToBgr(st.CmykRow.data(), rows[0], st.D.Info.output_width, st.Inverted);
        return 1;
    }
    return static_cast<int>(
        jpeg_read_scanlines(&st.D.Info, const_cast<JSAMPARRAY>(rows), static_cast<JDIMENSION>(count)));
}

void TJpegRowReader::ReadRows(uint8_t* const* rows, int count) {
    TState& st = *FState;
    if (!st.Started) throw EJpegError("Not a JPEG file");
    count = std::clamp(count, 0, FHeight - FNext);
    int done = 0;
    while (done < count && !st.Ended) {
        const int got = ReadSome(rows + done, count - done);
        if (got <= 0) st.Ended = true;
        done += std::max(got, 0);
    }
    // a truncated file leaves the rest of the rows as libjpeg filled them (grey); rows it no
    // longer gives at all are black, the way a decoded bitmap starts
    for (int k = done; k < count; ++k) std::memset(rows[k], 0, static_cast<size_t>(FWidth) * 3);
    FNext += count;
}

namespace {

// scaleNum / scaleDenom of the full size: 1/1, 1/2, 1/4, 1/8 or n/8
void DecodeScaled(const uint8_t* data, size_t size, TBitmap& bmp, unsigned scaleNum, unsigned scaleDenom,
                  const TProgressEvent& progress, const TCancelCheck& cancelled) {
    TProgressReporter rep(progress, 0);
    TJpegRowReader reader;
    reader.Open(data, size, scaleNum, scaleDenom, cancelled);
    bmp.Clear();
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(reader.Width(), reader.Height());
    const int H = reader.Height();
    uint8_t* rows[16];
    int lastPct = 0;
    for (int y = 0; y < H;) {
        const int n = std::min(16, H - y);
        for (int i = 0; i < n; ++i) rows[i] = bmp.ScanLine(y + i);
        reader.ReadRows(rows, n);
        y += n;
        if (progress) {
            const int pct = static_cast<int>(static_cast<int64_t>(y) * 100 / H);
            if (pct != lastPct) {
                lastPct = pct;
                progress(psRunning, pct);
            }
        }
    }
}

}  // namespace

void DecodeJpeg(const uint8_t* data, size_t size, TBitmap& bmp, int scaleDenom, const TProgressEvent& progress) {
    const unsigned denom = static_cast<unsigned>(scaleDenom == 2 || scaleDenom == 4 || scaleDenom == 8 ? scaleDenom : 1);
    DecodeScaled(data, size, bmp, 1, denom, progress, {});
}

void DecodeJpegEighths(const uint8_t* data, size_t size, TBitmap& bmp, int eighths, const TCancelCheck& cancelled) {
    DecodeScaled(data, size, bmp, static_cast<unsigned>(std::clamp(eighths, 1, 8)), 8, {}, cancelled);
}

int JpegEighthsSide(int side, int eighths) {
    eighths = std::clamp(eighths, 1, 8);
    return static_cast<int>((static_cast<int64_t>(side) * eighths + 7) / 8);
}

namespace {

// libjpeg reads the header from the stream as far as it goes: its segments may be of any length
TJpegHeader ReadHeaderFrom(TStream& stream) {
    TDecompressor d;
    TStreamSource src;
    UseStream(src, stream);
    if (setjmp(d.Err.Jump)) throw EJpegError(d.Err.Message);
    jpeg_create_decompress(&d.Info);
    d.Created = true;
    d.Info.src = &src.Pub;
    jpeg_read_header(&d.Info, TRUE);
    return {static_cast<int>(d.Info.image_width), static_cast<int>(d.Info.image_height), d.Info.num_components,
            d.Info.progressive_mode != 0};
}

}  // namespace

TJpegHeader ReadJpegHeaderStream(TStream& stream) {
    const int64_t pos = stream.Position();
    if (auto* ms = dynamic_cast<TMemoryStream*>(&stream)) {
        const auto& v = ms->Data();
        if (pos < 0 || pos >= static_cast<int64_t>(v.size())) throw EJpegError("Not a JPEG file");
        return ReadJpegHeader(v.data() + pos, v.size() - static_cast<size_t>(pos));
    }
    if (stream.Size() - pos < 4) throw EJpegError("Not a JPEG file");
    TJpegHeader h;
    try {
        h = ReadHeaderFrom(stream);
    } catch (...) {
        stream.Seek(pos, soBeginning);
        throw;
    }
    stream.Seek(pos, soBeginning);
    return h;
}

void DecodeJpegStream(TStream& stream, TBitmap& bmp, int scaleDenom, const TProgressEvent& progress) {
    const int64_t pos = stream.Position();
    if (auto* ms = dynamic_cast<TMemoryStream*>(&stream)) {
        const auto& v = ms->Data();
        if (pos < 0 || pos >= static_cast<int64_t>(v.size())) throw EJpegError("Not a JPEG file");
        DecodeJpeg(v.data() + pos, v.size() - static_cast<size_t>(pos), bmp, scaleDenom, progress);
        return;
    }
    const int64_t remaining = stream.Size() - pos;
    if (remaining <= 0) throw EJpegError("Not a JPEG file");
    std::vector<uint8_t> buf(static_cast<size_t>(remaining));
    const int64_t got = stream.Read(buf.data(), remaining);
    buf.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
    DecodeJpeg(buf.data(), buf.size(), bmp, scaleDenom, progress);
}

namespace {

void CompressRows(TCompressor& c, const TBitmap& bmp, int quality, bool progressive) {
    if (setjmp(c.Err.Jump)) throw EJpegError(c.Err.Message);
    jpeg_create_compress(&c.Info);
    c.Created = true;
    jpeg_mem_dest(&c.Info, &c.OutBuf, &c.OutSize);
    c.Info.image_width = static_cast<JDIMENSION>(bmp.Width());
    c.Info.image_height = static_cast<JDIMENSION>(bmp.Height());
    c.Info.input_components = 3;
    c.Info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c.Info);
    jpeg_set_quality(&c.Info, quality < 1 ? 1 : (quality > 100 ? 100 : quality), TRUE);
    if (progressive) jpeg_simple_progression(&c.Info);
    jpeg_start_compress(&c.Info, TRUE);
    while (c.Info.next_scanline < c.Info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(bmp.ScanLine(static_cast<int>(c.Info.next_scanline)));
        jpeg_write_scanlines(&c.Info, &row, 1);
    }
    jpeg_finish_compress(&c.Info);
}

}  // namespace

std::vector<uint8_t> EncodeJpeg(const TBitmap& src, int quality, bool progressive) {
    if (src.Empty()) throw EJpegError("Cannot encode an empty picture");
    TBitmap converted;
    const TBitmap* bmp = &src;
    if (src.PixelFormat() != pf24bit) {
        converted = src;
        converted.SetPixelFormat(pf24bit);
        bmp = &converted;
    }
    TCompressor c;
    CompressRows(c, *bmp, quality, progressive);
    return std::vector<uint8_t>(c.OutBuf, c.OutBuf + c.OutSize);
}

}  // namespace fv
