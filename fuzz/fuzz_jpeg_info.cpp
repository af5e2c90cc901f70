// libFuzzer target: the quick JPEG header reader and the segment finders over a small
// read buffer, so that buffer refills and seeks across its edge are exercised too.
#include <cstddef>
#include <cstdint>

#include "metadata/buffered_stream.h"
#include "metadata/jpeg_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    TBytesStream bytes(data, size);
    TBufferedStream s(bytes, 512);
    uint8_t options = jiExif | jiThumbnail | jiPreview | jiComment;
    TJpegInfoExRec rec;
    ReadJpegInfoEx(s, options, rec);
    if (rec.ThumbStream) {
        TJpegSizeRec size2;
        ReadJpegSize(*rec.ThumbStream, false, size2);
    }
    FreeJpegInfoEx(rec);
    TJpegSizeRec sizeRec;
    ReadJpegSize(s, true, sizeRec);
    TMemoryStream seg;
    ExtractAppSegment(s, 13, seg);
    FindAppSegment(s, 0);
    return 0;
}
