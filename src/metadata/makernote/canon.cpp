// Canon maker note: a directory at the start of the note, offsets from the EXIF TIFF header.
// Tag 0x01 (camera settings) and 0x04 (shot information) are arrays read by position.
#include "metadata/makernote/makernote.h"

namespace fv {

namespace {

const TCodeText kCanonLens[] = {
    {1, "Canon EF 50mm f/1.8"}, {2, "Canon EF 28mm f/2.8"}, {4, "Sigma UC Zoom 35-135mm f/4-5.6"},
    {6, "Tokina AF193-2 19-35mm f/3.5-4.5"}, {10, "Sigma 50mm f/2.8 EX or 28mm f/1.8"}, {11, "Canon EF 35mm f/2"},
    {13, "Canon EF 15mm f/2.8"}, {21, "Canon EF 80-200mm f/2.8L"}, {26, "Cosina 100mm f/3.5 Macro AF"},
    {28, "Tamron AF Aspherical 28-200mm f/3.8-5.6"}, {29, "Canon EF 50mm f/1.8 MkII"}, {39, "Canon EF 75-300mm f/4-5.6"},
    {40, "Canon EF 28-80mm f/3.5-5.6"}, {124, "Canon MP-E 65mm f/2.8 1-5x Macro Photo"}, {125, "Canon TS-E 24mm f/3.5L"},
    {131, "Sigma 17-35mm f2.8-4 EX Aspherical HSM"}, {135, "Canon EF 200mm f/1.8L"}, {136, "Canon EF 300mm f/2.8L"},
    {139, "Canon EF 400mm f/2.8L"}, {141, "Canon EF 500mm f/4.5L"}, {149, "Canon EF 100mm f/2"},
    {150, "Sigma 20mm EX f/1.8"}, {151, "Canon EF 200mm f/2.8L"}, {153, "Canon EF 35-350mm f/3.5-5.6L"},
    {155, "Canon EF 85mm f/1.8 USM"}, {156, "Canon EF 28-105mm f/3.5-4.5 USM"}, {160, "Canon EF 20-35mm f/3.5-4.5 USM"},
    {161, "Canon EF 28-70mm f/2.8L or Sigma 24-70mm EX f/2.8"}, {165, "Canon EF 70-200mm f/2.8 L"},
    {166, "Canon EF 70-200mm f/2.8 L + x1.4"}, {167, "Canon EF 70-200mm f/2.8 L + x2"},
    {169, "Sigma 15-30mm f/3.5-4.5 EX DG Aspherical"}, {170, "Canon EF 200mm f/2.8L II"},
    {173, "Canon EF 180mm Macro f/3.5L or Sigma 180mm EX HSM Macro f/3.5"}, {174, "Canon EF 135mm f/2L"},
    {176, "Canon EF 24-85mm f/3.5-4.5 USM"}, {177, "Canon EF 300mm f/4L IS"}, {178, "Canon EF 28-135mm f/3.5-5.6 IS"},
    {180, "Canon EF 35mm f/1.4L"}, {182, "Canon EF 100-400mm f/4.5-5.6L IS + x2"},
    {183, "Canon EF 100-400mm f/4.5-5.6L IS"}, {186, "Canon EF 70-200mm f/4L"}, {190, "Canon EF 100mm f/2.8 Macro"},
    {191, "Canon EF 400mm f/4 DO IS"}, {197, "Canon EF 75-300mm f/4-5.6 IS"}, {198, "Canon EF 50mm f/1.4"},
    {202, "Canon EF 28-80 f/3.5-5.6 USM IV"}, {213, "Canon EF 90-300mm f/4.5-5.6"}, {229, "Canon EF 16-35mm f/2.8L"},
    {230, "Canon EF 24-70mm f/2.8L"}, {231, "Canon EF 17-40mm f/4L"},
};

const TCodeText kMacro[] = {{1, "マクロ"}, {2, "通常"}};
const TCodeText kQuality[] = {{1, "Economy"}, {2, "Normal"}, {3, "Fine"}, {4, "RAW"}, {5, "Superfine"}};
const TCodeText kFlash[] = {{0, "発光禁止"}, {1, "オート"}, {2, "強制発光"}, {3, "赤目軽減"}, {4, "スローシンクロ"},
                            {5, "オート＋赤目軽減"}, {6, "強制発光＋赤目軽減"}, {16, "外部フラッシュ"}};
const TCodeText kDrive[] = {{0, "単写"}, {1, "連写"}};
const TCodeText kFocusMode[] = {{0, "ワンショットAF"}, {1, "AIサーボAF"}, {2, "AIフォーカスAF"}, {3, "MF"},
                                {4, "シングル"}, {5, "コンティニュアス"}, {6, "MF"}};
const TCodeText kImageSize[] = {{0, "Large"}, {1, "Medium"}, {2, "Small"}};
const TCodeText kEasyMode[] = {{0, "フルオート"}, {1, "マニュアル"}, {2, "風景"}, {3, "高速シャッター"},
                               {4, "低速シャッター"}, {5, "夜景"}, {6, "白黒"}, {7, "セピア"}, {8, "ポートレート"},
                               {9, "スポーツ"}, {10, "マクロ"}, {11, "パンフォーカス"}};
const TCodeText kDigitalZoom[] = {{0, "なし"}, {1, "2x"}, {2, "4x"}, {3, "その他"}};
const TCodeText kLevel[] = {{0xFFFF, "Low"}, {0, "Normal"}, {1, "High"}};
const TCodeText kIso[] = {{0, "未使用"}, {15, "Auto"}, {16, "ISO50"}, {17, "ISO100"}, {18, "ISO200"}, {19, "ISO400"}};
const TCodeText kMetering[] = {{0, "デフォルト"}, {1, "スポット"}, {2, "平均"}, {3, "評価測光"}, {4, "部分測光"},
                               {5, "中央重点"}};
const TCodeText kFocusType[] = {{0, "マニュアル"}, {1, "オート"}, {2, "オート"}, {3, "クローズアップ（マクロ）"},
                                {7, "無限遠"}, {8, "ロック（パンフォーカス）"}};
const TCodeText kExposureControl[] = {{0, "イージー撮影"}, {1, "プログラムAE"}, {2, "シャッター優先AE"},
                                      {3, "絞り優先AE"}, {4, "マニュアル"}, {5, "深度優先AE"}};
const TCodeText kOnOff[] = {{0, "OFF"}, {1, "ON"}};
const TCodeText kWhiteBalance[] = {{0, "オート"}, {1, "太陽光"}, {2, "曇り"}, {3, "白熱灯"}, {4, "蛍光灯"},
                                   {5, "フラッシュ"}, {6, "カスタム"}};

std::string Level(int64_t v) { return CodeText(kLevel, v & 0xFFFF); }

std::string CameraSetting(size_t position, int64_t v, std::string& label) {
    switch (position) {
        case 1: label = "マクロモード"; return CodeText(kMacro, v);
        case 2: label = "セルフタイマ"; return v == 0 ? "OFF" : Format("%.1f 秒", static_cast<double>(v) / 10.0);
        case 3: label = "画質モード"; return CodeText(kQuality, v);
        case 4: label = "フラッシュ"; return CodeText(kFlash, v);
        case 5: label = "ドライブモード"; return CodeText(kDrive, v);
        case 7: label = "フォーカスモード"; return CodeText(kFocusMode, v);
        case 10: label = "イメージサイズ"; return CodeText(kImageSize, v);
        case 11: label = "イメージセレクト"; return CodeText(kEasyMode, v);
        case 12: label = "デジタルズーム"; return CodeText(kDigitalZoom, v);
        case 13: label = "コントラスト"; return Level(v);
        case 14: label = "彩度"; return Level(v);
        case 15: label = "シャープネス"; return Level(v);
        case 16: label = "CCD感度"; return CodeText(kIso, v);
        case 17: label = "測光方式"; return CodeText(kMetering, v);
        case 18: label = "フォーカスタイプ"; return CodeText(kFocusType, v);
        case 19: label = "AF Point"; return Format("$%.4x", static_cast<unsigned>(v & 0xFFFF));
        case 20: label = "露出制御"; return CodeText(kExposureControl, v);
        case 22: label = "レンズタイプ"; return CodeText(kCanonLens, v);
        case 23: label = "最大焦点距離"; return Format("%lld", static_cast<long long>(v));
        case 24: label = "最小焦点距離"; return Format("%lld", static_cast<long long>(v));
        case 28: label = "フラッシュ動作"; return Format("$%.4x", static_cast<unsigned>(v & 0xFFFF));
        case 34: label = "手ぶれ補正"; return CodeText(kOnOff, v);
        case 40: label = "色効果"; return Format("%lld", static_cast<long long>(v));
        default: return std::string();
    }
}

std::string ShotInfo(size_t position, int64_t v, std::string& label) {
    switch (position) {
        case 6: label = "露出補正"; return Format("%.2f (EV)", static_cast<int16_t>(v) / 32.0);
        case 7: label = "ホワイトバランス"; return CodeText(kWhiteBalance, v);
        case 9: label = "連続撮影No."; return Format("%lld", static_cast<long long>(v));
        case 10: label = "光学ｽﾞｰﾑｽﾃｯﾌﾟ"; return Format("%lld", static_cast<long long>(v));
        case 14: label = "AF測距点"; return Format("$%.4x", static_cast<unsigned>(v & 0xFFFF));
        case 15: label = "フラッシュ補正"; return Format("%.2f (EV)", static_cast<int16_t>(v) / 32.0);
        case 21: label = "絞り値"; return Format("%lld", static_cast<long long>(static_cast<int16_t>(v)));
        case 22: label = "露出時間"; return Format("%lld", static_cast<long long>(static_cast<int16_t>(v)));
        case 28: label = "NDフィルター"; return CodeText(kOnOff, v);
        default: return std::string();
    }
}

// custom functions: high byte the function number, low byte its setting
void CustomFunctions(TExifItem& item, const TMakerNoteRec& rec, size_t first) {
    for (size_t i = first; i < rec.Integers.size(); ++i) {
        auto v = static_cast<unsigned>(rec.Integers[i] & 0xFFFF);
        unsigned fn = v >> 8, setting = v & 0xFF;
        item.Lines.push_back(MakerNoteLine(Format("Custom($%.2x)", fn), Format("$%.2x", setting)));
    }
}

}  // namespace

void DecodeMakerNoteCanon(TExifItem& item, TTiffReader& r, int64_t pos) {
    WalkMakerNoteDirectory(item, r, pos, 255, [&](const TIfdEntry& e, const TMakerNoteRec& rec, std::string& label,
                                                   std::string& value) {
        switch (e.Tag) {
            case 0x01:
                for (size_t i = 1; i < rec.Integers.size(); ++i) {
                    std::string l;
                    std::string v = CameraSetting(i, rec.Integers[i], l);
                    if (!l.empty()) item.Lines.push_back(MakerNoteLine(l, v));
                }
                break;
            case 0x04:
                for (size_t i = 1; i < rec.Integers.size(); ++i) {
                    std::string l;
                    std::string v = ShotInfo(i, rec.Integers[i], l);
                    if (!l.empty()) item.Lines.push_back(MakerNoteLine(l, v));
                }
                break;
            case 0x05:
                if (rec.Integers.size() > 2) item.Lines.push_back(MakerNoteLine("パノラマNo", std::to_string(rec.Integers[2])));
                if (rec.Integers.size() > 5) item.Lines.push_back(MakerNoteLine("パノラマ方向", std::to_string(rec.Integers[5])));
                break;
            case 0x06: label = "タイトル"; value = ForeignTextToUtf8(rec.Text); break;
            case 0x07: label = "ファームウェア"; value = ForeignTextToUtf8(rec.Text); break;
            case 0x08: {
                label = "撮影No";
                int64_t v = rec.Integers.empty() ? 0 : rec.Integers[0];
                value = Format("%lld-%04lld", static_cast<long long>(v / 10000), static_cast<long long>(v % 10000));
                break;
            }
            case 0x09: label = "所有者"; value = ForeignTextToUtf8(rec.Text); break;
            case 0x0F: CustomFunctions(item, rec, 1); break;
            case 0x90:
                if (item.Model.find("1D") != std::string::npos) CustomFunctions(item, rec, 1);
                break;
            case 0x1A: label = "スーパーマクロ"; value = CodeText(kOnOff, rec.Integers.empty() ? 0 : rec.Integers[0]); break;
            case 0x1D: label = "マイカラー"; value = MakerNoteValueText(r, e); break;
            case 0x0E00: label = "PrintIM"; value = Format("%u Bytes", e.Count); break;
            default: break;
        }
    });
}

}  // namespace fv
