#pragma once
// Shared by the fuzz targets: a JPEG input gives its Exif APP1 (from the TIFF header on),
// anything else is taken as a TIFF structure as it is.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "metadata/jpeg_info.h"
#include "platform/stream.h"

namespace fv {

// returns the stream to parse, positioned at the TIFF header; holder keeps copied bytes
inline TStream& TiffInputOf(const uint8_t* data, size_t size, std::unique_ptr<TStream>& holder) {
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8) {
        TBytesStream jpeg(data, size);
        auto app1 = std::make_unique<TMemoryStream>();
        if (ExtractExifSegment(jpeg, *app1) && app1->Size() >= 6) {
            app1->Seek(6, soBeginning);
            holder = std::move(app1);
            return *holder;
        }
    }
    holder = std::make_unique<TBytesStream>(data, size);
    return *holder;
}

}  // namespace fv
