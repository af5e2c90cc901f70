// libFuzzer target: the full EXIF reader with maker notes, then every value text, so that
// whatever the reader stores can also be presented.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_input.h"
#include "metadata/exif_item.h"
#include "metadata/exif_present.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    std::unique_ptr<TStream> holder;
    TStream& s = TiffInputOf(data, size, holder);
    TExifItem item;
    if (item.LoadFromStream(s, true)) {
        for (int i = 0; i <= kExifTagCount; ++i) GetDisplayLine(item, i, true, "%-16s : %s", "");
    }
    return 0;
}
