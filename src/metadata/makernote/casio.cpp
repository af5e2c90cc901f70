// Casio maker note: a plain directory at the start of the note.
#include "metadata/makernote/makernote.h"

namespace fv {

void DecodeMakerNoteCasio(TExifItem& item, TTiffReader& r, int64_t pos) {
    WalkMakerNoteDirectory(item, r, pos, kMakerNoteMaxEntries, [&](const TIfdEntry& e, const TMakerNoteRec& rec, std::string& label,
                                                           std::string& value) {
        int64_t v = FirstValue(rec);
        switch (e.Tag) {
            case 0x01: {
                static const TCodeText k[] = {{1, "単写"}, {2, "パノラマ"}, {3, "夜景"}, {4, "ポートレート"}, {5, "風景"}};
                label = "撮影モード"; value = CodeText(k, v); break;
            }
            case 0x02: {
                static const TCodeText k[] = {{1, "Economy"}, {2, "Normal"}, {3, "Fine"}};
                label = "画質モード"; value = CodeText(k, v); break;
            }
            case 0x03: {
                static const TCodeText k[] = {{2, "マクロ"}, {3, "オート"}, {4, "マニュアル"}, {5, "無限遠"}};
                label = "フォーカスモード"; value = CodeText(k, v); break;
            }
            case 0x04: {
                static const TCodeText k[] = {{1, "オート"}, {2, "強制発光"}, {3, "発光禁止"}, {4, "赤目軽減"}};
                label = "フラッシュモード"; value = CodeText(k, v); break;
            }
            case 0x05: {
                static const TCodeText k[] = {{11, "弱"}, {13, "標準"}, {15, "強"}};
                label = "フラッシュ強度"; value = CodeText(k, v); break;
            }
            case 0x06: label = "被写体距離"; value = Format("%lld (mm)", static_cast<long long>(v)); break;
            case 0x07: {
                static const TCodeText k[] = {{1, "オート"}, {2, "タングステン"}, {3, "太陽光"}, {4, "蛍光灯"},
                                              {5, "日陰"}, {129, "マニュアル"}};
                label = "ホワイトバランス"; value = CodeText(k, v); break;
            }
            case 0x0A: {
                static const TCodeText k[] = {{0x10000, "OFF"}, {0x10001, "2x"}};
                label = "デジタルズーム"; value = CodeText(k, v); break;
            }
            case 0x0B: {
                static const TCodeText k[] = {{0, "Normal"}, {1, "Soft"}, {2, "Hard"}};
                label = "シャープネス"; value = CodeText(k, v); break;
            }
            case 0x0C: {
                static const TCodeText k[] = {{0, "Normal"}, {1, "Low"}, {2, "High"}};
                label = "コントラスト"; value = CodeText(k, v); break;
            }
            case 0x0D: {
                static const TCodeText k[] = {{0, "Normal"}, {1, "Low"}, {2, "High"}};
                label = "彩度"; value = CodeText(k, v); break;
            }
            case 0x14: {
                static const TCodeText k[] = {{64, "Normal"}, {125, "+1.0"}, {250, "+2.0"}, {244, "+3.0"},
                                              {80, "Normal"}, {100, "High"}};
                label = "CCD感度"; value = CodeText(k, v); break;
            }
            default: break;
        }
    });
}

}  // namespace fv
