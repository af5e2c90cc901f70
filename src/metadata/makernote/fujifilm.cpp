// Fujifilm maker note: "FUJIFILM", then the offset of its directory, offsets from the note.
#include <cstring>

#include "metadata/makernote/makernote.h"

namespace fv {

void DecodeMakerNoteFujifilm(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 12);
    if (head.size() < 12 || head.compare(0, 8, "FUJIFILM") != 0) return;
    // little-endian, offsets from the start of the note
    TTiffReader inner(r.Stream());
    inner.SetBase(pos);
    inner.SetBigEndian(false);
    uint32_t ifd = inner.U32(reinterpret_cast<const uint8_t*>(head.data() + 8));
    WalkMakerNoteDirectory(item, inner, pos + ifd, kMakerNoteMaxEntries, [&](const TIfdEntry& e, const TMakerNoteRec& rec,
                                                                     std::string& label, std::string& value) {
        int64_t v = FirstValue(rec);
        switch (e.Tag) {
            case 0x0000: {
                label = "Version";
                std::string t;
                for (int64_t c : rec.Integers) t.push_back(static_cast<char>(c));
                value = CleanExifText(reinterpret_cast<const uint8_t*>(t.data()), t.size());
                break;
            }
            case 0x1000: label = "撮影モード"; value = ForeignTextToUtf8(rec.Text); break;
            case 0x1001: {
                static const TCodeText k[] = {{1, "Soft"}, {2, "Soft"}, {3, "Normal"}, {4, "Hard"}, {5, "Hard"}};
                label = "シャープネス";
                value = CodeText(k, v);
                break;
            }
            case 0x1002: {
                static const TCodeText k[] = {{0, "Auto"}, {256, "Daylight"}, {512, "Cloudy"}, {768, "DaylightColor-fluorescence"},
                                              {769, "DaywhiteColor-fluorescence"}, {770, "White-fluorescence"},
                                              {1024, "Incandescence"}, {3840, "Custom white balance"}};
                label = "ホワイトバランス";
                value = CodeText(k, v);
                break;
            }
            case 0x1003: {
                static const TCodeText k[] = {{0, "Normal"}, {256, "High"}, {512, "Low"}};
                label = "彩度";
                value = CodeText(k, v);
                break;
            }
            case 0x1004: {
                static const TCodeText k[] = {{0, "Normal"}, {256, "High"}, {512, "Low"}};
                label = "コントラスト";
                value = CodeText(k, v);
                break;
            }
            case 0x1010: {
                static const TCodeText k[] = {{0, "Auto"}, {1, "On"}, {2, "Off"}, {3, "Red-eye reduction"}};
                label = "フラッシュ";
                value = CodeText(k, v);
                break;
            }
            case 0x1011: {
                label = "フラッシュ補正";
                value = rec.Rationals.empty() || rec.Rationals[0].second == 0
                            ? MakerNoteValueText(inner, e)
                            : Format("%.1f (EV)", static_cast<int32_t>(rec.Rationals[0].first) /
                                                      static_cast<double>(static_cast<int32_t>(rec.Rationals[0].second)));
                break;
            }
            case 0x1020: {
                static const TCodeText k[] = {{0, "Off"}, {1, "On"}};
                label = "マクロモード";
                value = CodeText(k, v);
                break;
            }
            case 0x1021: {
                static const TCodeText k[] = {{0, "Auto"}, {1, "Manual"}};
                label = "フォーカス";
                value = CodeText(k, v);
                break;
            }
            case 0x1030: {
                static const TCodeText k[] = {{0, "Off"}, {1, "On"}};
                label = "スローシンクロ";
                value = CodeText(k, v);
                break;
            }
            case 0x1031: {
                static const TCodeText k[] = {{0, "Auto"}, {1, "Portrait"}, {2, "Landscape"}, {4, "Sports"},
                                              {5, "Night"}, {6, "Program AE"}, {256, "Aperture priority AE"},
                                              {512, "Shutter priority AE"}, {768, "Manual exposure"}};
                label = "露出プログラム";
                value = CodeText(k, v);
                break;
            }
            case 0x1100: {
                static const TCodeText k[] = {{0, "Off"}, {1, "On"}};
                label = "連写モード";
                value = CodeText(k, v);
                break;
            }
            case 0x1300: {
                static const TCodeText k[] = {{0, "No"}, {1, "Yes"}};
                label = "手ぶれ警告";
                value = CodeText(k, v);
                break;
            }
            case 0x1301: {
                static const TCodeText k[] = {{0, "Good"}, {1, "Out of focus"}};
                label = "フォーカス状態";
                value = CodeText(k, v);
                break;
            }
            case 0x1302: {
                static const TCodeText k[] = {{0, "Good"}, {1, "Over exposure"}};
                label = "露出状態";
                value = CodeText(k, v);
                break;
            }
            default: break;
        }
    });
}

}  // namespace fv
