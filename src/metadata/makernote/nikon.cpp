// Nikon maker notes: the newer form ("Nikon" header of 10 bytes and a TIFF header of its
// own that the offsets count from), the older form with an 8-byte header, and the oldest
// form with the directory at the start of the note.
#include <cstring>

#include "metadata/makernote/makernote.h"

namespace fv {

namespace {

constexpr int kNikonMaxEntries = 64;

bool StartsNikon(const std::string& head) {
    if (head.size() < 5) return false;
    for (size_t i = 0; i < 5; ++i)
        if (std::toupper(static_cast<unsigned char>(head[i])) != "NIKON"[i]) return false;
    return true;
}

std::string RationalText(const TMakerNoteRec& rec, size_t i, const char* fmt) {
    if (i >= rec.Rationals.size() || rec.Rationals[i].second == 0) return "-";
    return Format(fmt, static_cast<double>(rec.Rationals[i].first) / rec.Rationals[i].second);
}

void NikonNewer(const TIfdEntry& e, const TMakerNoteRec& rec, TTiffReader& r, bool older, std::string& label,
                std::string& value) {
    auto text = [&] { return ForeignTextToUtf8(rec.Text); };
    switch (e.Tag) {
        case 0x02:
            label = "ISOスピード";
            value = Format("ISO %lld", static_cast<long long>(rec.Integers.size() > 1 ? rec.Integers[1]
                                                             : rec.Integers.empty() ? 0 : rec.Integers[0]));
            break;
        case 0x03: label = "カラーモード"; value = text(); break;
        case 0x04: label = older ? "撮影モード" : "画質モード"; value = text(); break;
        case 0x05: label = "ホワイトバランス"; value = text(); break;
        case 0x06: label = "シャープネス"; value = text(); break;
        case 0x07: label = "フォーカスモード"; value = text(); break;
        case 0x08: label = "フラッシュ"; value = text(); break;
        case 0x0B: label = "ﾎﾜｲﾄﾊﾞﾗﾝｽ補正"; value = MakerNoteValueText(r, e); break;
        case 0x0F: label = "ISO感度選択"; value = text(); break;
        case 0x80: label = "画像モード"; value = text(); break;
        case 0x81: label = "階調補正"; value = text(); break;
        case 0x82: label = "コンバータ"; value = text(); break;
        case 0x84:
            label = "レンズ情報";
            if (rec.Rationals.size() >= 4)
                value = RationalText(rec, 0, "%.1f") + "～" + RationalText(rec, 1, "%.1f") + "(mm),F" +
                        RationalText(rec, 2, "%.1f") + "～F" + RationalText(rec, 3, "%.1f");
            else
                value = MakerNoteValueText(r, e);
            break;
        case 0x85:
            label = "フォーカス距離";
            value = rec.Rationals.empty() ? MakerNoteValueText(r, e)
                                          : Format("%u/%u (m)", rec.Rationals[0].first, rec.Rationals[0].second);
            break;
        case 0x86:
            label = "デジタルズーム";
            value = rec.Rationals.empty() ? MakerNoteValueText(r, e) : RationalText(rec, 0, "%.2f");
            break;
        case 0x88: label = "AF-Position"; value = MakerNoteValueText(r, e); break;
        case 0x8D: label = "カラー設定"; value = text(); break;
        case 0x8F: label = "備考"; value = text(); break;
        case 0xAB: label = "ｲﾒｰｼﾞﾌﾟﾛｸﾞﾗﾑ"; value = text(); break;
        default: break;
    }
}

void NikonOldest(const TIfdEntry& e, const TMakerNoteRec& rec, TTiffReader& r, std::string& label, std::string& value) {
    int64_t v = rec.Integers.empty() ? 0 : rec.Integers[0];
    switch (e.Tag) {
        case 0x03: {
            static const TCodeText k[] = {{1, "VGA BASIC"},  {2, "VGA NORMAL"},  {3, "VGA FINE"},
                                          {4, "SXGA BASIC"}, {5, "SXGA NORMAL"}, {6, "SXGA FINE"},
                                          {7, "UXGA BASIC"}, {8, "UXGA NORMAL"}, {9, "UXGA FINE"}};
            label = "画質モード";
            value = CodeText(k, v);
            break;
        }
        case 0x04: {
            static const TCodeText k[] = {{1, "カラー"}, {2, "モノクロ"}};
            label = "カラーモード";
            value = CodeText(k, v);
            break;
        }
        case 0x05: label = "画像補正"; value = MakerNoteValueText(r, e); break;
        case 0x06: label = "CCD感度"; value = MakerNoteValueText(r, e); break;
        case 0x07: label = "ホワイトバランス"; value = MakerNoteValueText(r, e); break;
        case 0x08: label = "フォーカス"; value = MakerNoteValueText(r, e); break;
        case 0x0A: label = "デジタルズーム"; value = MakerNoteValueText(r, e); break;
        case 0x0B: label = "コンバーター"; value = MakerNoteValueText(r, e); break;
        default: break;
    }
}

}  // namespace

void DecodeMakerNoteNikon(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 18);
    // newer: "Nikon" NUL 02 xx 00 00, then "II"/"MM" 42 and the IFD offset
    if (StartsNikon(head) && head.size() >= 18 && ByteOrderMarkOf(head.data() + 10) != TByteOrderMark::None) {
        TTiffReader inner(r.Stream());
        r.Stream().Seek(pos + 10, soBeginning);
        uint32_t ifd = inner.Open();
        if (WalkMakerNoteDirectory(item, inner, inner.Base() + ifd, kNikonMaxEntries,
                                   [&](const TIfdEntry& e, const TMakerNoteRec& rec, std::string& label, std::string& value) {
                                       NikonNewer(e, rec, inner, false, label, value);
                                   }))
            return;
    }
    if (StartsNikon(head)) {
        WalkMakerNoteDirectory(item, r, pos + 8, kNikonMaxEntries,
                               [&](const TIfdEntry& e, const TMakerNoteRec& rec, std::string& label, std::string& value) {
                                   NikonNewer(e, rec, r, true, label, value);
                               });
        return;
    }
    WalkMakerNoteDirectory(item, r, pos, kNikonMaxEntries,
                           [&](const TIfdEntry& e, const TMakerNoteRec& rec, std::string& label, std::string& value) {
                               NikonOldest(e, rec, r, label, value);
                           });
}

}  // namespace fv
