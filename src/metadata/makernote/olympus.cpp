// Olympus maker note: "OLYMP" header of 8 bytes, then a directory whose offsets count
// from the TIFF header of the EXIF block.
#include <cstring>

#include "metadata/makernote/makernote.h"

namespace fv {

namespace {

std::string OlympusSpecialMode(const TMakerNoteRec& rec) {
    int64_t mode = rec.Integers.empty() ? -1 : rec.Integers[0];
    int64_t no = rec.Integers.size() > 1 ? rec.Integers[1] : 0;
    int64_t dir = rec.Integers.size() > 2 ? rec.Integers[2] : 0;
    static const TCodeText kDir[] = {{1, "左→右"}, {2, "右→左"}, {3, "下→上"}, {4, "上→下"}};
    switch (mode) {
        case 0: return "通常撮影";
        case 2: return Format("連続撮影（No:%lld）", static_cast<long long>(no));
        case 3: return Format("パノラマ（No:%lld 方向：%s）", static_cast<long long>(no), CodeText(kDir, dir).c_str());
        default: return UnknownCode(mode);
    }
}

std::string OlympusWhiteBalance(const TMakerNoteRec& rec) {
    int64_t mode = rec.Integers.empty() ? -1 : rec.Integers[0];
    int64_t temp = rec.Integers.size() > 1 ? rec.Integers[1] : 0;
    static const TCodeText kTemp[] = {{2, "3000K"}, {3, "3700K"}, {4, "4000K"}, {5, "4500K"},
                                      {6, "5500K"}, {7, "6500K"}, {8, "7500K"}};
    switch (mode) {
        case 1: return "AUTO";
        case 2: return CodeText(kTemp, temp);
        case 3: return "ワンタッチ";
        default: return UnknownCode(mode);
    }
}

}  // namespace

void DecodeMakerNoteOlympus(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 8);
    if (head.size() < 8 || head.compare(0, 5, "OLYMP") != 0) return;
    const std::string model = item.Model;
    WalkMakerNoteDirectory(item, r, pos + 8, 255, [&](const TIfdEntry& e, const TMakerNoteRec& rec, std::string& label,
                                                       std::string& value) {
        int64_t v = rec.Integers.empty() ? 0 : rec.Integers[0];
        switch (e.Tag) {
            case 0x0200: label = "撮影モード"; value = OlympusSpecialMode(rec); break;
            case 0x0201: {
                static const TCodeText k[] = {{1, "SQ"}, {2, "HQ"}, {3, "SHQ"}};
                label = "撮影画質";
                value = CodeText(k, v);
                break;
            }
            case 0x0202: {
                static const TCodeText k[] = {{0, "通常"}, {1, "マクロ"}, {2, "スーパーマクロ"}};
                label = "マクロモード";
                value = CodeText(k, v);
                break;
            }
            case 0x0204: {
                label = "デジタルズーム";
                uint32_t num = rec.Rationals.empty() ? 0 : rec.Rationals[0].first;
                uint32_t den = rec.Rationals.empty() ? 0 : rec.Rationals[0].second;
                value = Format("%u/%u 倍", num, den);
                break;
            }
            case 0x0207: label = "ソフトウェア"; value = ForeignTextToUtf8(rec.Text); break;
            case 0x0208: label = "画像情報"; value = ForeignTextToUtf8(rec.Text); break;
            case 0x0209: {
                label = "カメラID";
                std::string id;
                for (int64_t c : rec.Integers)
                    if (c != 0) id.push_back(static_cast<char>(c));
                value = ForeignTextToUtf8(id);
                break;
            }
            case 0x100B: {
                static const TCodeText k[] = {{0, "オート"}, {1, "マニュアル"}};
                label = "フォーカスモード";
                value = CodeText(k, v);
                break;
            }
            case 0x100F: {
                label = "シャープネス";
                if (model.find("C2500L") != std::string::npos) {
                    static const TCodeText k[] = {{0, "Normal"}, {1, "Soft"}};
                    value = CodeText(k, v);
                } else {
                    static const TCodeText k[] = {{0, "Normal"}, {1, "Hard"}, {2, "Soft"}};
                    value = CodeText(k, v);
                }
                break;
            }
            case 0x1015: label = "ホワイトバランス"; value = OlympusWhiteBalance(rec); break;
            case 0x1023: {
                label = "フラッシュ補正";
                int32_t num = rec.Rationals.empty() ? 0 : static_cast<int32_t>(rec.Rationals[0].first);
                int32_t den = rec.Rationals.empty() ? 0 : static_cast<int32_t>(rec.Rationals[0].second);
                value = den == 0 ? Format("%d/%d (EV)", num, den) : Format("%.1f (EV)", static_cast<double>(num) / den);
                break;
            }
            case 0x1029: {
                static const TCodeText k[] = {{0, "High"}, {1, "Normal"}, {2, "Low"}};
                label = "コントラスト";
                value = CodeText(k, v);
                break;
            }
            case 0x1034: {
                label = "圧縮率";
                uint32_t num = rec.Rationals.empty() ? 0 : rec.Rationals[0].first;
                uint32_t den = rec.Rationals.empty() ? 0 : rec.Rationals[0].second;
                value = den == 0 ? UnknownCode(num) : Format("1/%g", static_cast<double>(num) / den);
                break;
            }
            case 0x0E00: label = "PrintIM"; value = Format("%u Bytes", e.Count); break;
            default: break;
        }
    });
}

}  // namespace fv
