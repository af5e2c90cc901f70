// libFuzzer target: the quick TIFF reader (IFD0, Exif IFD date, IFD1 thumbnail).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_input.h"
#include "metadata/buffered_stream.h"
#include "metadata/tiff_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    std::unique_ptr<TStream> holder;
    TStream& s = TiffInputOf(data, size, holder);
    TTiffInfoRec rec;
    ReadTiffInfo(s, true, rec);
    // the raw-file path: header search through a buffered stream
    TBytesStream bytes(data, size);
    TBufferedStream b(bytes, 256);
    if (FindTiffHeader(b)) ReadTiffInfo(b, true, rec);
    return 0;
}
