// Panasonic maker note: "Panasonic" and three blanks, then a directory; listed as raw lines.
#include "metadata/makernote/makernote.h"

namespace fv {

void DecodeMakerNotePanasonic(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 12);
    if (head.size() < 12 || head.compare(0, 9, "Panasonic") != 0) return;
    WalkRawMakerNoteDirectory(item, r, pos + 12);
}

}  // namespace fv
