#include "metadata/exif_present.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace fv {

namespace {

// digits of |value| rounded to decimals, grouped by three when grouping is set
std::string FixedDigits(double value, int decimals, bool grouping, int minInt) {
    char buf[512];
    double scale = std::pow(10.0, decimals);
    double rounded = std::round(std::fabs(value) * scale) / scale;  // half away from zero
    std::snprintf(buf, sizeof buf, "%.*f", decimals, rounded);
    std::string s = buf;
    size_t dot = s.find('.');
    std::string ip = dot == std::string::npos ? s : s.substr(0, dot);
    std::string fp = dot == std::string::npos ? "" : s.substr(dot + 1);
    while (static_cast<int>(ip.size()) < minInt) ip.insert(ip.begin(), '0');
    if (minInt == 0 && ip == "0") ip.clear();
    if (grouping) {
        std::string g;
        int n = static_cast<int>(ip.size());
        for (int i = 0; i < n; ++i) {
            if (i > 0 && (n - i) % 3 == 0) g.push_back(',');
            g.push_back(ip[static_cast<size_t>(i)]);
        }
        ip = g;
    }
    if (!fp.empty()) {
        ip += '.';
        ip += fp;
    }
    return ip;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size())) s.replace(p, from.size(), to);
    return s;
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(' ');
    return s.substr(a, b - a + 1);
}

}  // namespace

std::string FormatFloatPattern(const std::string& pattern, double value) {
    if (!std::isfinite(value)) return value != value ? "NAN" : value > 0 ? "INF" : "-INF";
    // split into literal prefix, number part and literal suffix
    std::string prefix, suffix, number;
    bool inQuote = false, numberDone = false;
    for (char c : pattern) {
        if (c == '"') {
            inQuote = !inQuote;
            continue;
        }
        bool numeric = !inQuote && (c == '#' || c == '0' || c == ',' || c == '.');
        if (numeric && !numberDone) {
            number.push_back(c);
        } else {
            if (!number.empty()) numberDone = true;
            (number.empty() ? prefix : suffix).push_back(c);
        }
    }
    size_t dot = number.find('.');
    std::string intPart = dot == std::string::npos ? number : number.substr(0, dot);
    std::string fracPart = dot == std::string::npos ? "" : number.substr(dot + 1);
    int minInt = 0;
    for (char c : intPart) minInt += c == '0';
    int required = 0, optional = 0;
    for (char c : fracPart) (c == '0' ? required : optional) += (c == '0' || c == '#') ? 1 : 0;
    bool grouping = intPart.find(',') != std::string::npos;
    int decimals = required + optional;
    std::string digits = FixedDigits(value, decimals, grouping, minInt);
    // drop optional trailing zeros
    if (optional > 0) {
        size_t p = digits.find('.');
        if (p != std::string::npos) {
            int keep = static_cast<int>(digits.size() - p - 1);
            while (keep > required && digits.back() == '0') {
                digits.pop_back();
                --keep;
            }
            if (digits.back() == '.') digits.pop_back();
        }
    }
    if (digits.empty()) digits.assign(1, '0');
    double check = std::round(std::fabs(value) * std::pow(10.0, decimals));
    bool negative = value < 0 && check != 0;
    std::string out = prefix;
    if (negative) out += '-';
    out += digits;
    out += suffix;
    return out;
}

std::string FormatNumber(double value, int decimals, int width) {
    if (!std::isfinite(value)) throw std::range_error("number out of range");
    std::string s = FixedDigits(value, decimals, true, 1);
    if (value < 0 && std::round(std::fabs(value) * std::pow(10.0, decimals)) != 0) s = "-" + s;
    while (static_cast<int>(s.size()) < width) s.insert(s.begin(), ' ');
    return s;
}

std::string FormatDatePattern(const std::string& pattern, TDateTime date) {
    TDateTimeParts p = DecodeDateTime(date);
    std::string out;
    size_t i = 0;
    auto run = [&](char c) {
        size_t n = 0;
        while (i + n < pattern.size() && (pattern[i + n] | 0x20) == c) ++n;
        return n;
    };
    while (i < pattern.size()) {
        char c = static_cast<char>(pattern[i] | 0x20);
        size_t n = (c == 'y' || c == 'm' || c == 'd' || c == 'h' || c == 'n' || c == 's') ? run(c) : 0;
        if (n == 0) {
            out.push_back(pattern[i++]);
            continue;
        }
        int v = c == 'y' ? p.Year : c == 'm' ? p.Month : c == 'd' ? p.Day : c == 'h' ? p.Hour : c == 'n' ? p.Minute : p.Second;
        if (c == 'y') out += n <= 2 ? Format("%.2d", v % 100) : Format("%.4d", v);
        else out += n >= 2 ? Format("%.2d", v) : Format("%d", v);
        i += n;
    }
    return out;
}

std::string FormatExifDate(const TExifItem& item, int subSecond, TDateTime date) {
    if (date == 0) return "不明";
    if (item.DateFormatSet) return FormatDatePattern(item.DateFormat, date);
    std::string s = FormatDatePattern("yyyy/mm/dd hh:nn:ss", date);
    if (subSecond > 0) {
        s += '.';
        s += std::to_string(subSecond);
    }
    return s;
}

namespace {

const char* Pick(const char* const* texts, size_t n, unsigned v) { return v < n ? texts[v] : texts[n - 1]; }

template <size_t N>
const char* Pick(const char* const (&texts)[N], unsigned v) {
    return Pick(texts, N, v);
}

std::string Resolution(float value, bool unitPresent, bool inch) {
    std::string n = FormatNumber(value, 0, 5);
    if (!unitPresent) return n;
    return n + (inch ? " (dot/inch)" : " (dot/cm)");
}

std::string Apex(const std::string& main, double apex, const char* tail) {
    return PadColumns(main, 10) + " ←" + FormatNumber(apex, 3, 7) + tail;
}

std::string FlashText(uint16_t f) {
    auto has = [&](int bit) { return (f >> bit) & 1; };
    const char* fired = has(efFired) ? "発光" : has(efNotFired) ? "未発光" : "?";
    const char* mode = has(efModeUnknown) ? "不明" : has(efModeCompulsory) ? "強制" : has(efModeSuppressed) ? "禁止"
                     : has(efModeAuto) ? "自動" : "?";
    const char* redEye = has(efRedEye) ? "有り" : has(efNoRedEye) ? "無し" : "?";
    const char* strobe = has(efFunctionPresent) ? "有り" : has(efNoFunction) ? "無し" : "?";
    const char* ret = has(efReturnNoDetection) ? "機能無し" : has(efReturnReserved) ? "予約" : has(efReturnNotDetected) ? "未検出"
                    : has(efReturnDetected) ? "検出" : "?";
    return Format("%s(%s); 赤目(%s); ｽﾄﾛﾎﾞ(%s); ﾘﾀｰﾝ(%s)", fired, mode, redEye, strobe, ret);
}

const char* DirectionRef(char c) {
    switch (c) {
        case 'M': case 'm': return "磁方位";
        case 'T': case 't': return "真方位";
        default: return "不明";
    }
}

const char* SpeedRef(char c) {
    switch (c) {
        case 'K': case 'k': return "km/h";
        case 'M': case 'm': return "mile/h";
        case 'N': case 'n': return "knot";
        default: return "不明";
    }
}

const char* DistanceRef(char c) {
    switch (c) {
        case 'K': case 'k': return "km";
        case 'M': case 'm': return "mile";
        case 'N': case 'n': return "海里";
        default: return "不明";
    }
}

std::string VersionText(const uint8_t* b) {
    std::string s(reinterpret_cast<const char*>(b), 4);
    for (char c : s)
        if (c < '0' || c > '9') throw std::invalid_argument("version is not a number");
    return FormatNumber(std::stoi(s) / 100.0, 2);
}

std::string ValueText(const TExifItem& x, TExifTagIndex i) {
    static const char* const kFileSource[] = {"その他", "透過型スキャナー", "反射型スキャナー", "Digital Still Camera", "予約"};
    static const char* const kColorSpace[] = {"sRGB", "Uncalibrated", "予約"};
    static const char* const kSensing[] = {"未定義", "単板カラーセンサ", "２板カラーセンサ", "３板カラーセンサ",
                                           "色順序カラーセンサ", "３線リニアセンサ", "色順序リニアセンサ", "予約"};
    static const char* const kMetering[] = {"不明", "平均", "中央重点", "スポット", "マルチスポット",
                                            "分割測光", "部分測光", "予約", "その他"};
    static const char* const kLight[] = {"Auto/Custom", "昼光", "蛍光灯", "タングステン", "フラッシュ", "晴天", "曇天", "日陰",
                                         "D5700-7100", "N4600-5400", "W3900-4500", "WW3200-3700", "標準光Ａ", "標準光Ｂ",
                                         "標準光Ｃ", "Ｄ５５", "Ｄ６５", "Ｄ７５", "Ｄ５０", "ISO Studio Tungsten", "その他", "予約"};
    static const char* const kProgram[] = {"未定義", "マニュアル", "ノーマルプログラム", "絞り優先AE", "シャッター優先AE",
                                           "Creative Program", "Action Program", "ポートレイトモード", "ランドスケープモード", "予約"};
    static const char* const kArea[] = {"中心座標", "円領域", "短径領域", "不明"};
    static const char* const kRendered[] = {"通常処理（Normal Process）", "特殊処理（Custom Process）", "不明"};
    static const char* const kExpMode[] = {"自動（Auto Exposure）", "マニュアル（Manual Exposure）", "オートブラケット（Auto Bracket）", "不明"};
    static const char* const kWb[] = {"自動（Auto White Balance）", "マニュアル（Manual White Balance）", "不明"};
    static const char* const kScene[] = {"標準（Standard）", "風景（Landscape）", "人物（Portrait）", "夜景（Night Scene）", "不明"};
    static const char* const kGain[] = {"無し（None）", "弱い増感（Low Gain Up）", "強い増感（High Gain Up）",
                                        "弱い減感（Low Gain Down）", "強い減感（High Gain Down）", "不明"};
    static const char* const kContrast[] = {"標準（Normal）", "軟調（Soft）", "硬調（Hard）", "不明"};
    static const char* const kSaturation[] = {"標準（Normal）", "低彩度（Low Saturation）", "高彩度（High Saturation）", "不明"};
    static const char* const kSharpness[] = {"標準（Normal）", "弱い（Soft）", "強い（Hard）", "不明"};
    static const char* const kRange[] = {"不明", "マクロ（Macro）", "近景（Close View）", "遠景（Distance View）", "予約"};
    static const char* const kAltRef[] = {"海抜", "海面下", "不明"};
    static const char* const kStatus[] = {"測位", "未測定", "不明"};
    static const char* const kMeasure[] = {"2-dimensional", "3-dimensional", "不明"};
    static const char* const kDiff[] = {"単独測位", "Differtial補正測位", "不明"};

    switch (i) {
        case 0: return VersionText(x.ExifVersion);
        case 1: return VersionText(x.FlashpixVersion);
        case 2: return x.ImageDescription;
        case 3: return x.Make;
        case 4: return x.Model;
        case 5: return x.Software;
        case 6: return x.MakerNoteInfo;
        case 7: return x.Artist;
        case 8: return x.CopyrightPhotographer;
        case 9: return x.CopyrightEditor;
        case 10: return x.UserComment;
        case 11: return FormatExifDate(x, x.SubSecTimeOriginal, x.DateTimeOriginal);
        case 13: return FormatExifDate(x, x.SubSecTimeDigitized, x.DateTimeDigitized);
        case 15: return FormatExifDate(x, x.SubSecTime, x.DateTime);
        case 12: return FormatFloatPattern("#,##0 \"(ms)\"", x.SubSecTimeOriginal);
        case 14: return FormatFloatPattern("#,##0 \"(ms)\"", x.SubSecTimeDigitized);
        case 16: return FormatFloatPattern("#,##0 \"(ms)\"", x.SubSecTime);
        case 17: return Pick(kFileSource, x.FileSource);
        case 18: return x.SceneTypeOther ? "予約" : "直接撮影された画像";
        case 19: return Pick(kColorSpace, x.ColorSpace);
        case 20: return FormatNumber(x.CompressedBitsPerPixel, 1) + " (bit/Pixel)";
        case 21: return FormatNumber(x.PixelXDimension, 0, 5) + " (Pixel)";
        case 22: return FormatNumber(x.PixelYDimension, 0, 5) + " (Pixel)";
        case 23: return Resolution(x.XResolution, x.IsPresent(25), x.ResolutionUnitInch);
        case 24: return Resolution(x.YResolution, x.IsPresent(25), x.ResolutionUnitInch);
        case 25: return x.ResolutionUnitInch ? "dot/inch" : "dot/cm";
        case 26: return FormatFloatPattern("#,##0.## \"(mm)\"", x.FocalLength);
        case 27: return Resolution(x.FocalPlaneXResolution, x.IsPresent(29), !x.FocalPlaneUnitCm);
        case 28: return Resolution(x.FocalPlaneYResolution, x.IsPresent(29), !x.FocalPlaneUnitCm);
        case 29: return x.FocalPlaneUnitCm ? "dot/cm" : "dot/inch";
        case 30: return Pick(kSensing, x.SensingMethod);
        case 31: return Pick(kMetering, x.MeteringMode);
        case 32: return x.SpectralSensitivity;
        case 33: return x.ISOSpeedRatings;
        case 34: {
            double tv = x.ShutterSpeedValue;
            if (tv <= -2147483647.0) return "バルブ撮影";
            if (tv > 0) return Apex(FormatFloatPattern("\"1/\"#,##0 \"秒\"", std::pow(2.0, tv)), tv, "(Apex)");
            return Apex(FormatFloatPattern("#,##0.## \"秒\"", std::pow(2.0, -tv)), tv, "(Apex)");
        }
        case 35: {
            double t = x.ExposureTime;
            if (t > 0 && t < 1) return Apex(FormatFloatPattern("\"1/\"#,##0 \"秒\"", 1.0 / t), t, " 秒");
            return FormatFloatPattern("#,##0.## \"秒\"", t);
        }
        case 36: return Apex(FormatFloatPattern("\"F\"#,##0.##", std::pow(2.0, x.ApertureValue / 2.0)), x.ApertureValue, "(Apex)");
        case 38:
            return Apex(FormatFloatPattern("\"F\"#,##0.##", std::pow(2.0, x.MaxApertureValue / 2.0)), x.MaxApertureValue, "(Apex)");
        case 37: return FormatFloatPattern("\"F\"#,##0.##", x.FNumber);
        case 39: return FormatFloatPattern("#,##0.## \"(EV)\"", x.BrightnessValue);
        case 40: return FormatFloatPattern("#,##0.## \"(EV)\"", x.ExposureBiasValue);
        case 41: return Pick(kLight, x.LightSource);
        case 42: return FlashText(x.Flash);
        case 43: return FormatFloatPattern("#,##0.## \"(BCPS)\"", x.FlashEnergy);
        case 44: return Pick(kProgram, x.ExposureProgram);
        case 45: return FormatFloatPattern("#,##0.##", x.ExposureIndex);
        case 46: return x.SubjectDistanceInfinite ? "無限遠 ∞" : FormatFloatPattern("#,##0.## \"(m)\"", x.SubjectDistance);
        case 47: return Format("( %d , %d )", x.SubjectLocationX, x.SubjectLocationY);
        case 48: return std::string(x.RelatedSoundFile, 13);
        case 49: return FormatFloatPattern("#,##0.##", x.Gamma);
        case 50: {
            const TSubjectArea& a = x.SubjectArea;
            const char* kind = Pick(kArea, a.Kind);
            switch (a.Kind) {
                case 0: return Format("%s (X=%d,Y=%d )", kind, a.Values[0], a.Values[1]);
                case 1: return Format("%s (X=%d,Y=%d,R=%d)", kind, a.Values[0], a.Values[1], a.Values[2]);
                case 2: return Format("%s (X=%d,Y=%d,W=%d,H=%d)", kind, a.Values[0], a.Values[1], a.Values[2], a.Values[3]);
                default: return "不明";
            }
        }
        case 51: return Pick(kRendered, x.CustomRendered);
        case 52: return Pick(kExpMode, x.ExposureMode);
        case 53: return Pick(kWb, x.WhiteBalance);
        case 54: return x.DigitalZoomRatio == 0 ? "OFF" : FormatFloatPattern("\"x \"0.##", x.DigitalZoomRatio);
        case 55: return Format("%d (mm)", x.FocalLengthIn35mmFilm);
        case 56: return Pick(kScene, x.SceneCaptureType);
        case 57: return Pick(kGain, x.GainControl);
        case 58: return Pick(kContrast, x.Contrast);
        case 59: return Pick(kSaturation, x.Saturation);
        case 60: return Pick(kSharpness, x.Sharpness);
        case 61: return x.DeviceSettingDescription;
        case 62: return Pick(kRange, x.SubjectDistanceRange);
        case 63: return x.ImageUniqueID;
        case 64: return Format("%d.%d.%d.%d", x.GPSVersionID[0], x.GPSVersionID[1], x.GPSVersionID[2], x.GPSVersionID[3]);
        case 65: return GpsRefName(x.GPSLatitude.Ref);
        case 66: return FormatGpsPosition(x.GPSLatitude);
        case 67: return GpsRefName(x.GPSLongitude.Ref);
        case 68: return FormatGpsPosition(x.GPSLongitude);
        case 69: return Pick(kAltRef, x.GPSAltitudeRef);
        case 70: return FormatNumber(x.GPSAltitude) + " (m)";
        case 71: return FormatDatePattern("yyyy/mm/dd", x.GPSDateStamp);
        case 72: return FormatDatePattern("hh:nn:ss", x.GPSTimeStamp);
        case 73: return x.GPSSatellites;
        case 74: return Pick(kStatus, x.GPSStatus);
        case 75: return Pick(kMeasure, x.GPSMeasureMode);
        case 76: return FormatNumber(x.GPSDOP);
        case 77: return SpeedRef(x.GPSSpeedRef);
        case 78: return Format("%s (%s)", FormatNumber(x.GPSSpeed).c_str(), SpeedRef(x.GPSSpeedRef));
        case 79: return DirectionRef(x.GPSTrackRef);
        case 80: return FormatNumber(x.GPSTrack) + " (度)";
        case 81: return DirectionRef(x.GPSImgDirectionRef);
        case 82: return FormatNumber(x.GPSImgDirection) + " (度)";
        case 83: return x.GPSMapDatum;
        case 84: return GpsRefName(x.GPSDestLatitude.Ref);
        case 85: return FormatGpsPosition(x.GPSDestLatitude);
        case 86: return GpsRefName(x.GPSDestLongitude.Ref);
        case 87: return FormatGpsPosition(x.GPSDestLongitude);
        case 88: return DirectionRef(x.GPSDestBearingRef);
        case 89: return FormatNumber(x.GPSDestBearing) + " (度)";
        case 90: return DistanceRef(x.GPSDestDistanceRef);
        case 91: return Format("%s (%s)", FormatNumber(x.GPSDestDistance).c_str(), DistanceRef(x.GPSDestDistanceRef));
        case 92: return x.GPSProcessingMethod;
        case 93: return x.GPSAreaInformation;
        case 94: return Pick(kDiff, x.GPSDifferential);
        default: return "不明";
    }
}

}  // namespace

std::string GetValueText(const TExifItem& item, TExifTagIndex index, const std::string& defaultText) {
    if (!item.IsPresent(index)) return defaultText;
    try {
        return ValueText(item, index);
    } catch (const std::exception&) {
        return "Error";
    }
}

std::string GetDisplayLine(const TExifItem& item, TExifTagIndex index, bool withLabel, const std::string& format,
                           const std::string& defaultText) {
    std::string v = GetValueText(item, index, defaultText);
    v = Replace(Replace(Replace(v, "\r\n", " "), "\r", " "), "\n", " ");
    v = Trim(v);
    if (!withLabel) return v;
    // the format takes two texts; anything else in it is copied
    std::string out;
    const char* args[2] = {ExifTagLabel(index), v.c_str()};
    int used = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out.push_back(format[i]);
            continue;
        }
        size_t j = i + 1;
        if (j < format.size() && format[j] == '%') {
            out.push_back('%');
            i = j;
            continue;
        }
        bool left = false;
        if (j < format.size() && format[j] == '-') left = true, ++j;
        int width = 0;
        while (j < format.size() && format[j] >= '0' && format[j] <= '9' && width < 1000) width = width * 10 + (format[j++] - '0');
        if (j < format.size() && format[j] == 's' && used < 2) {
            out += PadColumns(args[used++], width, left);
            i = j;
        } else {
            out.push_back('%');
        }
    }
    return out;
}

bool ListExif(const std::string& fileName, bool isJpeg, const std::string& format, const std::string& defaultText,
              std::vector<std::string>& lines) {
    TExifItem item;
    if (!item.LoadFromFile(fileName, isJpeg, false)) return false;
    const TExifTagIndex* order = ExifDisplayOrder();
    for (int k = 0; k < kExifTagCount; ++k)
        if (item.IsPresent(order[k])) lines.push_back(GetDisplayLine(item, order[k], true, format, defaultText));
    return true;
}

}  // namespace fv
