// Sony maker note: "SONY DSC " and three zero bytes, then a directory; listed as raw lines.
#include "metadata/makernote/makernote.h"

namespace fv {

void DecodeMakerNoteSony(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 12);
    if (head.size() < 12 || head.compare(0, 8, "SONY DSC") != 0) return;
    WalkRawMakerNoteDirectory(item, r, pos + 12);
}

}  // namespace fv
