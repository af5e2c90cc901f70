#include "metadata/exif_tags.h"

namespace fv {

namespace {

struct TTagDef {
    uint16_t Tag;
    const char* Name;
    const char* Label;
};

const TTagDef kTags[kExifTagCount] = {
    {0x9000, "ExifVersion", "Exif Version"},
    {0xA000, "FlashpixVersion", "FlashPix Version"},
    {0x010E, "ImageDescription", "画像タイトル"},
    {0x010F, "Make", "メーカー名"},
    {0x0110, "Model", "モデル名"},
    {0x0131, "Software", "ソフトウェア"},
    {0x927C, "MakerNote", "メーカーノート"},
    {0x013B, "Artist", "作者名"},
    {0x8298, "Copyright", "撮影著作権者"},
    {0x8298, "CopyrightEditor", "編集著作権者"},
    {0x9286, "UserComment", "ユーザーコメント"},
    {0x9003, "DateTimeOriginal", "撮影日時"},
    {0x9291, "SubSecTimeOriginal", "撮影日時サブ"},
    {0x9004, "DateTimeDigitized", "作成日時"},
    {0x9292, "SubSecTimeDigitized", "作成日時サブ"},
    {0x0132, "DateTime", "変更日時"},
    {0x9290, "SubSecTime", "変更日時サブ"},
    {0xA300, "FileSource", "ファイルソース"},
    {0xA301, "SceneType", "シーンタイプ"},
    {0xA001, "ColorSpace", "色空間情報"},
    {0x9102, "CompressedBitsPerPixel", "画像圧縮モード"},
    {0xA002, "PixelXDimension", "実効画像幅"},
    {0xA003, "PixelYDimension", "実効画像高"},
    {0x011A, "XResolution", "解像度(X)"},
    {0x011B, "YResolution", "解像度(Y)"},
    {0x0128, "ResolutionUnit", "解像度単位"},
    {0x920A, "FocalLength", "レンズ焦点距離"},
    {0xA20E, "FocalPlaneXResolution", "焦点面解像度(X)"},
    {0xA20F, "FocalPlaneYResolution", "焦点面解像度(Y)"},
    {0xA210, "FocalPlaneResolutionUnit", "焦点面解像度単位"},
    {0xA217, "SensingMethod", "センサー方式"},
    {0x9207, "MeteringMode", "測光方式"},
    {0x8824, "SpectralSensitivity", "スペクトル感度"},
    {0x8827, "ISOSpeedRatings", "ISOｽﾋﾟｰﾄﾞﾚｰﾄ"},
    {0x9201, "ShutterSpeedValue", "ｼｬｯﾀｰｽﾋﾟｰﾄﾞ"},
    {0x829A, "ExposureTime", "露出時間"},
    {0x9202, "ApertureValue", "絞り値"},
    {0x829D, "FNumber", "Ｆナンバー"},
    {0x9205, "MaxApertureValue", "レンズ最小Ｆ値"},
    {0x9203, "BrightnessValue", "輝度値"},
    {0x9204, "ExposureBiasValue", "露光補正値"},
    {0x9208, "LightSource", "光源"},
    {0x9209, "Flash", "フラッシュ"},
    {0xA20B, "FlashEnergy", "フラッシュ強度"},
    {0x8822, "ExposureProgram", "露出プログラム"},
    {0xA215, "ExposureIndex", "露出インデックス"},
    {0x9206, "SubjectDistance", "被写体距離"},
    {0xA214, "SubjectLocation", "被写体位置"},
    {0xA004, "RelatedSoundFile", "関連音声ファイル"},
    {0xA500, "Gamma", "再生ガンマ"},
    {0x9214, "SubjectArea", "被写体領域"},
    {0xA401, "CustomRendered", "個別画像処理"},
    {0xA402, "ExposureMode", "露出モード"},
    {0xA403, "WhiteBalance", "ホワイトバランス"},
    {0xA404, "DigitalZoomRatio", "デジタルズーム"},
    {0xA405, "FocalLengthIn35mmFilm", "35mm換算焦点距離"},
    {0xA406, "SceneCaptureType", "撮影シーンタイプ"},
    {0xA407, "GainControl", "ｹﾞｲﾝ制御"},
    {0xA408, "Contrast", "撮影コントラスト"},
    {0xA409, "Saturation", "撮影彩度"},
    {0xA40A, "Sharpness", "撮影シャープネス"},
    {0xA40B, "DeviceSettingDescription", "撮影条件記述事項"},
    {0xA40C, "SubjectDistanceRange", "被写体距離レンジ"},
    {0xA420, "ImageUniqueID", "画像ユニークＩＤ"},
    {0, "GPSVersionID", "GPS Version"},
    {1, "GPSLatitudeRef", "北緯/南緯"},
    {2, "GPSLatitude", "緯度"},
    {3, "GPSLongitudeRef", "東経/西経"},
    {4, "GPSLongitude", "経度"},
    {5, "GPSAltitudeRef", "高度基準"},
    {6, "GPSAltitude", "高度"},
    {29, "GPSDateStamp", "GPS日付"},
    {7, "GPSTimeStamp", "GPS時間"},
    {8, "GPSSatellites", "衛星信号"},
    {9, "GPSStatus", "受信状態"},
    {10, "GPSMeasureMode", "測位方法"},
    {11, "GPSDOP", "測位の信頼性"},
    {12, "GPSSpeedRef", "移動速度単位"},
    {13, "GPSSpeed", "移動速度"},
    {14, "GPSTrackRef", "進行方向基準"},
    {15, "GPSTrack", "進行方向"},
    {16, "GPSImgDirectionRef", "撮影方向基準"},
    {17, "GPSImgDirection", "撮影方向"},
    {18, "GPSMapDatum", "測地系"},
    {19, "GPSDestLatitudeRef", "目的地の北緯/南緯"},
    {20, "GPSDestLatitude", "目的地の緯度"},
    {21, "GPSDestLongitudeRef", "目的地の東経/西経"},
    {22, "GPSDestLongitude", "目的地の経度"},
    {23, "GPSDestBearingRef", "目的地の方向基準"},
    {24, "GPSDestBearing", "目的地の方向"},
    {25, "GPSDestDistanceRef", "目的地の距離単位"},
    {26, "GPSDestDistance", "目的地の距離"},
    {27, "GPSProcessingMethod", "測位方式の名称"},
    {28, "GPSAreaInformation", "測位地点の名称"},
    {30, "GPSDifferential", "GPS補正測位"},
};

const TExifTagIndex kDisplayOrder[kExifTagCount] = {
    0,  1,  3,  4,  5,  6,  7,  2,  10, 8,  9,  11, 12, 13, 14, 15, 16, 17, 18, 19, 49, 20, 21, 22,
    23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 46, 62, 47,
    50, 44, 45, 52, 53, 57, 51, 54, 55, 56, 58, 59, 60, 61, 63, 48, 64, 65, 66, 67, 68, 69, 70, 71,
    72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94,
};

}  // namespace

uint16_t ExifTagOfIndex(TExifTagIndex index) {
    if (index < 0 || index >= kExifTagCount) return 0xFFFF;
    return kTags[index].Tag;
}

TExifTagIndex ExifIndexOfTag(uint16_t tag, bool gps) {
    int from = gps ? kExifFirstGpsIndex : 0;
    int to = gps ? kExifTagCount : kExifFirstGpsIndex;
    for (int i = from; i < to; ++i)
        if (kTags[i].Tag == tag && i != kExifCopyrightEditorIndex) return i;
    return kExifUnknownIndex;
}

const char* ExifTagName(TExifTagIndex index) {
    if (index < 0 || index >= kExifTagCount) return "Unknown";
    return kTags[index].Name;
}

const char* ExifTagLabel(TExifTagIndex index) {
    if (index < 0 || index >= kExifTagCount) return "不明";
    return kTags[index].Label;
}

const TExifTagIndex* ExifDisplayOrder() { return kDisplayOrder; }

}  // namespace fv
