#include "metadata/makernote/makernote.h"

#include <cstring>

namespace fv {

namespace {
constexpr uint32_t kMaxMakerValues = 256;
}

std::string ReadBytesAt(TStream& s, int64_t pos, size_t n) {
    std::string out(n, '\0');
    s.Seek(pos, soBeginning);
    int64_t got = s.Read(out.data(), static_cast<int64_t>(n));
    out.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return out;
}

void ReadMakerNoteEntry(TTiffReader& r, const TIfdEntry& e, TMakerNoteRec& rec) {
    rec = TMakerNoteRec();
    uint32_t n = e.Count < kMaxMakerValues ? e.Count : kMaxMakerValues;
    if (e.Type == ttAscii) {
        rec.Text = r.AsciiValue(e);
        rec.LastIndex = static_cast<int32_t>(n) - 1;
        return;
    }
    if (e.Type == ttRational || e.Type == ttSRational) {
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t num = 0, den = 0;
            r.RationalParts(e, i, num, den);
            rec.Rationals.emplace_back(num, den);
        }
        rec.LastIndex = static_cast<int32_t>(n) - 1;
        return;
    }
    if (!TTiffReader::IsIntegerType(e.Type)) return;
    rec.Integers = r.IntegerValues(e, kMaxMakerValues);
    rec.LastIndex = static_cast<int32_t>(n) - 1;
}

std::string MakerNoteValueText(TTiffReader& r, const TIfdEntry& e) {
    try {
        if (e.Type == 0 || e.Type > 12) return "未対応";
        if (e.Type == ttFloat) return "未対応（Single）";
        if (e.Type == ttDouble) return "未対応（Double）";
        TMakerNoteRec rec;
        ReadMakerNoteEntry(r, e, rec);
        if (e.Type == ttAscii) return ForeignTextToUtf8(rec.Text);
        std::string out;
        if (e.Type == ttRational || e.Type == ttSRational) {
            for (auto& [num, den] : rec.Rationals) {
                if (!out.empty()) out += ',';
                if (e.Type == ttSRational) out += Format("%d/%d", static_cast<int32_t>(num), static_cast<int32_t>(den));
                else out += Format("%u/%u", num, den);
            }
            return out;
        }
        for (int64_t v : rec.Integers) {
            if (!out.empty()) out += ',';
            out += e.Type == ttUndefined ? Format("%.2x", static_cast<unsigned>(v)) : std::to_string(v);
        }
        return out;
    } catch (const std::exception&) {
        return "Error";
    }
}

std::string MakerNoteLine(const std::string& label, const std::string& value) {
    // cameras pad their texts with blanks; the listing does not show them
    size_t end = value.find_last_not_of(' ');
    return PadColumns(label, 16) + " : " + (end == std::string::npos ? std::string() : value.substr(0, end + 1));
}

std::string UnknownCode(int64_t code) { return Format("不明（%lld）", static_cast<long long>(code)); }

bool WalkMakerNoteDirectory(TExifItem& item, TTiffReader& r, int64_t pos, int maxCount, const TMakerNoteVisit& visit) {
    if (pos < 0 || pos + 2 > r.StreamSize()) return false;
    const TIfdWalkResult walk =
        r.WalkDirectoryAt(pos, TIfdRole::Sub, [&](const TIfdEntry& e) {
            item.MakerNoteLines.push_back(
                MakerNoteLine(Format("(%.4X:%2d:%4u)", e.Tag, e.Type, e.Count), MakerNoteValueText(r, e)));
            std::string label, value;
            try {
                TMakerNoteRec rec;
                ReadMakerNoteEntry(r, e, rec);
                visit(e, rec, label, value);
            } catch (const std::exception&) {
                if (!label.empty()) value = "Error";
            }
            if (!label.empty()) item.Lines.push_back(MakerNoteLine(label, value));
            return true;
        }, static_cast<uint32_t>(maxCount));
    return walk.Count != 0 && !walk.Refused && !walk.Repeated;
}

void WalkRawMakerNoteDirectory(TExifItem& item, TTiffReader& r, int64_t dir) {
    WalkMakerNoteDirectory(item, r, dir, kMakerNoteMaxEntries,
                           [&](const TIfdEntry& e, const TMakerNoteRec&, std::string& label, std::string& value) {
                               if (e.Tag == 0x0E00) {
                                   label = "PrintIM";
                                   value = Format("%u Bytes", e.Count);
                               }
                           });
}

}  // namespace fv
