// Pentax maker note: "AOC\0" and a byte-order mark, then a directory; listed as raw lines.
#include "metadata/makernote/makernote.h"

namespace fv {

void DecodeMakerNotePentax(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 6);
    if (head.size() < 6 || head.compare(0, 3, "AOC") != 0) return;
    TTiffReader inner(r.Stream());
    inner.SetBase(pos);
    inner.SetBigEndian(ByteOrderMarkOf(head.data() + 4) == TByteOrderMark::Big);
    if (!(head[4] == 'M' || head[4] == 'I')) inner.SetBigEndian(r.BigEndian());
    WalkRawMakerNoteDirectory(item, inner, pos + 6);
}

}  // namespace fv
