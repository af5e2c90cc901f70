#pragma once
// Shared pieces of the maker-note decoders: the generic reading of one entry, its raw
// dump line, and a directory walk that adds the decoder's labelled lines.
#include <functional>
#include <string>

#include "metadata/exif_item.h"

namespace fv {

// Reads up to 256 values of an entry (integers, rationals or the text).
void ReadMakerNoteEntry(TTiffReader& r, const TIfdEntry& e, TMakerNoteRec& rec);
// "未対応", the text, "n/d,n/d", hex bytes or decimal numbers; "Error" on a fault
std::string MakerNoteValueText(TTiffReader& r, const TIfdEntry& e);
// "%-16s : %s"
std::string MakerNoteLine(const std::string& label, const std::string& value);
// "不明（%d）"
std::string UnknownCode(int64_t code);
// the text of a code from a table of {code, text}, else UnknownCode
struct TCodeText {
    int Code;
    const char* Text;
};
template <size_t N>
std::string CodeText(const TCodeText (&table)[N], int64_t code) {
    for (const auto& t : table)
        if (t.Code == code) return t.Text;
    return UnknownCode(code);
}

// A decoder's view of one entry: set label (and value) to list it among the item's Lines.
using TMakerNoteVisit = std::function<void(const TIfdEntry& e, const TMakerNoteRec& rec, std::string& label, std::string& value)>;

// Walks the directory at absolute position pos: one raw line per entry in MakerNoteLines,
// and for each entry the visitor labels a line in Lines. Directories with maxCount or
// more entries are not decoded. Returns false when nothing was decoded.
bool WalkMakerNoteDirectory(TExifItem& item, TTiffReader& r, int64_t pos, int maxCount, const TMakerNoteVisit& visit);

// Directories of the makers without a canon or nikon sized note stay under this many entries.
constexpr int kMakerNoteMaxEntries = 255;

// the first integer of an entry, 0 when it has none
inline int64_t FirstValue(const TMakerNoteRec& rec) { return rec.Integers.empty() ? 0 : rec.Integers[0]; }

// Lists a directory as raw lines only; the PrintIM block is named with its size.
void WalkRawMakerNoteDirectory(TExifItem& item, TTiffReader& r, int64_t dir);

// reads n bytes at absolute position pos (fewer when the stream ends)
std::string ReadBytesAt(TStream& s, int64_t pos, size_t n);

}  // namespace fv
