// Maker notes of Fujifilm, Casio, Minolta (decoded) and Pentax, Panasonic, Sony (raw lines).
#include <cstring>

#include "image/exif_makernote.h"

namespace fv {

namespace {

constexpr int kMaxEntries = 255;

std::string Generic(TTiffReader& r, const TIfdEntry& e) { return MakerNoteValueText(r, e); }

int64_t First(const TMakerNoteRec& rec) { return rec.Integers.empty() ? 0 : rec.Integers[0]; }

}  // namespace

void DecodeMakerNoteFujifilm(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 12);
    if (head.size() < 12 || head.compare(0, 8, "FUJIFILM") != 0) return;
    // little-endian, offsets from the start of the note
    TTiffReader inner(r.Stream());
    inner.SetBase(pos);
    inner.SetBigEndian(false);
    uint32_t ifd = inner.U32(reinterpret_cast<const uint8_t*>(head.data() + 8));
    WalkMakerNoteDirectory(item, inner, pos + ifd, kMaxEntries, [&](const TIfdEntry& e, const TMakerNoteRec& rec,
                                                                     std::string& label, std::string& value) {
        int64_t v = First(rec);
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
                            ? Generic(inner, e)
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

void DecodeMakerNoteCasio(TExifItem& item, TTiffReader& r, int64_t pos) {
    WalkMakerNoteDirectory(item, r, pos, kMaxEntries, [&](const TIfdEntry& e, const TMakerNoteRec& rec, std::string& label,
                                                           std::string& value) {
        int64_t v = First(rec);
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
    WalkMakerNoteDirectory(item, r, pos, kMaxEntries, [&](const TIfdEntry& e, const TMakerNoteRec& rec, std::string&,
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

namespace {
void RawOnly(TExifItem& item, TTiffReader& r, int64_t dir) {
    WalkMakerNoteDirectory(item, r, dir, kMaxEntries, [&](const TIfdEntry& e, const TMakerNoteRec&, std::string& label,
                                                           std::string& value) {
        if (e.Tag == 0x0E00) {
            label = "PrintIM";
            value = Format("%u Bytes", e.Count);
        }
    });
}
}  // namespace

void DecodeMakerNotePentax(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 6);
    if (head.size() < 6 || head.compare(0, 3, "AOC") != 0) return;
    TTiffReader inner(r.Stream());
    inner.SetBase(pos);
    inner.SetBigEndian(head[4] == 'M' && head[5] == 'M');
    if (!(head[4] == 'M' || head[4] == 'I')) inner.SetBigEndian(r.BigEndian());
    RawOnly(item, inner, pos + 6);
}

void DecodeMakerNotePanasonic(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 12);
    if (head.size() < 12 || head.compare(0, 9, "Panasonic") != 0) return;
    RawOnly(item, r, pos + 12);
}

void DecodeMakerNoteSony(TExifItem& item, TTiffReader& r, int64_t pos) {
    std::string head = ReadBytesAt(r.Stream(), pos, 12);
    if (head.size() < 12 || head.compare(0, 8, "SONY DSC") != 0) return;
    RawOnly(item, r, pos + 12);
}

}  // namespace fv
