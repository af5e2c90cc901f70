// Minolta maker note: a plain directory; the camera-settings array is read by position.
#include "metadata/makernote/makernote.h"

namespace fv {

namespace {

std::string Signed(int64_t v) { return v > 0 ? Format("+%lld", static_cast<long long>(v)) : std::to_string(v); }

std::string ThirdsEv(int64_t v) {
    double ev = (static_cast<double>(v) - 6.0) / 3.0;
    return ev > 0 ? Format("+%.1f (EV)", ev) : Format("%.1f (EV)", ev);
}

std::string MinoltaSetting(size_t position, int64_t v, std::string& label) {
    switch (position) {
        case 1: {
            static const TCodeText k[] = {{0, "P"}, {1, "A"}, {2, "S"}, {3, "M"}};
            label = "露出モード"; return CodeText(k, v);
        }
        case 2: {
            static const TCodeText k[] = {{0, "通常"}, {1, "赤目軽減"}, {2, "後幕シンクロ"}, {3, "ワイヤレス"}};
            label = "フラッシュモード"; return CodeText(k, v);
        }
        case 3: {
            static const TCodeText k[] = {{0, "オート"}, {1, "太陽光"}, {2, "曇天"}, {3, "タングステン"}, {5, "カスタム"},
                                          {7, "蛍光灯"}, {8, "蛍光灯2"}, {11, "カスタム2"}, {12, "カスタム3"}};
            label = "ホワイトバランス"; return CodeText(k, v);
        }
        case 4: {
            static const TCodeText k[] = {{0, "Full"}, {1, "1600x1200"}, {2, "1280x960"}, {3, "640x480"}};
            label = "記録サイズ"; return CodeText(k, v);
        }
        case 5: {
            static const TCodeText k[] = {{0, "RAW"}, {1, "Super Fine"}, {2, "Fine"}, {3, "Standard"}, {4, "Economy"},
                                          {5, "Extra Fine"}};
            label = "画質モード"; return CodeText(k, v);
        }
        case 6: {
            static const TCodeText k[] = {{0, "単写"}, {1, "連写"}, {2, "セルフタイマー"}, {4, "ブラケット"},
                                          {5, "インターバル"}, {6, "UHS連写"}, {7, "HS連写"}};
            label = "ドライブモード"; return CodeText(k, v);
        }
        case 7: {
            static const TCodeText k[] = {{0, "多分割"}, {1, "中央重点"}, {2, "スポット"}};
            label = "測光方式"; return CodeText(k, v);
        }
        case 11: {
            static const TCodeText k[] = {{0, "OFF"}, {1, "ON"}};
            label = "マクロモード"; return CodeText(k, v);
        }
        case 13: label = "露出補正"; return ThirdsEv(v);
        case 20: {
            static const TCodeText k[] = {{0, "未発光"}, {1, "発光"}};
            label = "フラッシュ"; return CodeText(k, v);
        }
        case 31: label = "彩度補正"; return Signed(v - 3);
        case 32: label = "コントラスト補正"; return Signed(v - 3);
        case 33: {
            static const TCodeText k[] = {{0, "Hard"}, {1, "Normal"}, {2, "Soft"}};
            label = "シャープネス"; return CodeText(k, v);
        }
        case 34: {
            static const TCodeText k[] = {{0, "通常"}, {1, "ポートレート"}, {2, "テキスト"}, {3, "夜景ポートレート"},
                                          {4, "夕景"}, {5, "スポーツ"}};
            label = "シーンセレクタ"; return CodeText(k, v);
        }
        case 35: label = "調光補正"; return ThirdsEv(v);
        default: return std::string();
    }
}

}  // namespace

void DecodeMakerNoteMinolta(TExifItem& item, TTiffReader& r, int64_t pos) {
    WalkMakerNoteDirectory(item, r, pos, kMakerNoteMaxEntries, [&](const TIfdEntry& e, const TMakerNoteRec& rec, std::string&,
                                                           std::string&) {
        if (e.Tag != 0x0001 && e.Tag != 0x0003) return;
        // the settings are big-endian 32-bit words whatever the file's byte order
        std::vector<int64_t> words;
        if (e.Type == ttUndefined || e.Type == ttByte) {
            for (size_t i = 0; i + 3 < rec.Integers.size(); i += 4)
                words.push_back((rec.Integers[i] << 24) | (rec.Integers[i + 1] << 16) | (rec.Integers[i + 2] << 8) |
                                rec.Integers[i + 3]);
        } else {
            words = rec.Integers;
        }
        for (size_t i = 1; i < words.size(); ++i) {
            std::string label;
            std::string value = MinoltaSetting(i, words[i], label);
            if (!label.empty()) item.Lines.push_back(MakerNoteLine(label, value));
        }
    });
}

}  // namespace fv
