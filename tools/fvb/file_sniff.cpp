// Tells JPEG from TIFF-structured files by their first bytes, and the item kind of a file
// by the library's file-type registry.
#include <cerrno>
#include <cstring>

#include "commands.h"
#include "library/ext_items.h"
#include "metadata/jpeg_info.h"
#include "platform/file_name.h"
#include "platform/stream.h"

namespace fv::fvb {

TFileLayout SniffFile(const std::string& path, std::string& error) {
    try {
        TFileStream f(path, TFileStream::fmOpenRead);
        uint8_t head[4] = {0, 0, 0, 0};
        int64_t n = f.Read(head, 4);
        if (n >= 4 && ((head[0] == 'I' && head[1] == 'I' && head[2] == 42 && head[3] == 0) ||
                       (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && head[3] == 42)))
            return flTiff;
        try {
            FindJpegStart(f);
            return flJpeg;
        } catch (const EJpegStartNotFound&) {
            return flOther;
        }
    } catch (const std::exception& e) {
        error = e.what();
        return flUnreadable;
    }
}

bool RegisteredKind(const std::string& path, uint8_t& kind) {
    static const TExtItems registry(0xFF);
    TExtItem item;
    if (!registry.FindItem(FileExtView(path), item)) return false;
    kind = item.Kind;
    return true;
}

}  // namespace fv::fvb
