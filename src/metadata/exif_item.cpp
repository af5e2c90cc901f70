#include "metadata/exif_item.h"

#include <cmath>
#include <cstring>

#include "metadata/buffered_stream.h"
#include "metadata/jpeg_info.h"
#include "platform/byte_order.h"
#include "platform/codepage.h"
#include "platform/file_name.h"

namespace fv {

namespace {

// the most values a numeric tag keeps for machine-readable output
constexpr uint32_t kMaxRawValues = 256;

double Frac(double x) { return x - std::trunc(x); }

void TrimRight(std::string& s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
}

bool EqualsNoCase(const std::string& s, const char* prefix, size_t n) {
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = s[i], b = prefix[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 32);
        if (a != b) return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- loading

bool TExifItem::LoadFromFile(const std::string& fileName, bool isJpeg, bool readMakerNote) {
    try {
        if (!isJpeg && UpperFileExt(fileName) != ".RAF") {
            TFileStream file(fileName, TFileStream::fmOpenRead);
            TBufferedStream s(file, kMetadataBufferSize, 0);
            FindTiffHeader(s);
            return LoadFromStream(s, readMakerNote);
        }
        TMemoryStream app1;
        // the first Exif APP1, not merely the first APP1: XMP may come before it
        if (!ExtractExifSegmentFromFile(fileName, app1)) return false;
        if (app1.Size() < 6 || !IsExifHeader(app1.Data().data())) return false;
        app1.Seek(6, soBeginning);
        return LoadFromStream(app1, readMakerNote);
    } catch (const std::exception&) {
        return false;
    }
}

bool TExifItem::LoadFromStream(TStream& stream, bool readMakerNote) {
    // a reused item shows the new file only: the typed fields count through Present, the
    // lists and the PrintIM state start over
    Present.reset();
    HasOrientation = false;
    Orientation = 1;
    Lines.clear();
    MakerNoteLines.clear();
    HasPrintIM = false;
    PrintIMHeader.clear();
    PrintIMLines.clear();
    for (auto& raw : Raw) raw = TExifRawValue();
    Stream = &stream;
    struct TClearStream {
        TStream*& S;
        ~TClearStream() { S = nullptr; }
    } clearStream{Stream};

    int64_t exifPos = -1, gpsPos = -1, makerPos = -1, makerLen = 0;
    TTiffReader r(stream);
    int64_t size = 0;
    try {
        size = stream.Size();
        if (size - stream.Position() < 11) return false;
        int64_t base = stream.Position();
        uint8_t h[2];
        stream.ReadBuffer(h, 2);
        if (ByteOrderMarkOf(h) == TByteOrderMark::None) return false;
        stream.Seek(base, soBeginning);
        uint32_t ifd0 = r.Open();
        BaseOffset = static_cast<int32_t>(base);
        BigEndian = r.BigEndian();

        // IFD0 must be whole; the Exif and GPS directories keep what comes before a cut
        r.WalkDirectory(ifd0, TIfdRole::Main, [&](const TIfdEntry& e) {
            switch (e.Tag) {
                case 0x0112:
                    Orientation = static_cast<int32_t>(r.IntegerValue(e));
                    HasOrientation = true;
                    break;
                case 0x8769: exifPos = base + e.Value; break;
                case 0x8825: gpsPos = base + e.Value; break;
                case 0xC4A5: ReadPrintIM(r, e); break;
                default: StoreTag(r, e, false); break;
            }
            return true;
        });

        if (exifPos >= 0 && exifPos < size) {
            r.WalkDirectoryAt(exifPos, TIfdRole::Sub, [&](const TIfdEntry& e) {
                if (e.Tag == 0x927C) {
                    makerPos = base + e.Value;
                    makerLen = e.Count;
                }
                StoreTag(r, e, false);
                return true;
            });
            SubjectArea.ImageWidth = PixelXDimension;
            SubjectArea.ImageHeight = PixelYDimension;
        }
    } catch (const std::exception&) {
        return false;
    }

    if (gpsPos >= 0 && gpsPos < size) {
        try {
            r.WalkDirectoryAt(gpsPos, TIfdRole::Sub, [&](const TIfdEntry& e) {
                StoreTag(r, e, true);
                return true;
            });
        } catch (const std::exception&) {
            // a GPS directory whose count lies outside the stream holds nothing
        }
    }

    if (readMakerNote && makerPos >= 0 && makerPos < size) {
        try {
            stream.Seek(makerPos, soBeginning);
            if (!HasOrinMakerNote(stream)) DecodeMakerNote(*this, r, makerPos, makerLen);
        } catch (const std::exception&) {
        }
    }
    return true;
}

// ---------------------------------------------------------------- tag store

void TExifItem::StoreTag(TTiffReader& r, const TIfdEntry& e, bool gps) {
    TExifTagIndex index = ExifIndexOfTag(e.Tag, gps);
    if (index >= kExifTagCount) return;
    try {
        StoreValue(r, e, index);
        Present.set(static_cast<size_t>(index));
        if (index == kExifCopyrightIndex) Present.set(kExifCopyrightEditorIndex);
    } catch (const std::exception&) {
        Present.reset(static_cast<size_t>(index));
        if (index == kExifCopyrightIndex) Present.reset(kExifCopyrightEditorIndex);
        return;
    }
    try {
        StoreRaw(r, e, index);
    } catch (const std::exception&) {
        Raw[index] = TExifRawValue();
    }
}

namespace {

uint8_t Ordinal(uint32_t raw, uint32_t maxKept, uint8_t other) {
    return raw <= maxKept ? static_cast<uint8_t>(raw) : other;
}

uint16_t FlashFlags(uint32_t f) {
    uint16_t s = 0;
    auto set = [&](int bit) { s = static_cast<uint16_t>(s | (1u << bit)); };
    set((f & 1) ? efFired : efNotFired);
    set(efReturnNoDetection + static_cast<int>((f >> 1) & 3));
    set(efModeUnknown + static_cast<int>((f >> 3) & 3));
    set((f & 0x20) ? efNoFunction : efFunctionPresent);
    set((f & 0x40) ? efRedEye : efNoRedEye);
    return s;
}

}  // namespace

TGpsDms TExifItem::ReadDms(TTiffReader& r, const TIfdEntry& e, char ref) {
    if (e.Count < 3) throw ETiffFormatError("GPS position with fewer than three values");
    double part[3];
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t num = 0, den = 0;
        r.RationalParts(e, i, num, den);
        part[i] = den == 0 ? 0.0 : static_cast<double>(num) / den;
    }
    double x = part[0] + part[1] / 60.0 + part[2] / 3600.0;
    TGpsDms d;
    d.Ref = ref;
    d.Degrees = std::trunc(x);
    d.Minutes = std::trunc(Frac(x) * 60.0);
    d.Seconds = Frac(Frac(x) * 60.0) * 60.0;
    return d;
}

std::string TExifItem::ReadEncodedText(TTiffReader& r, const TIfdEntry& e, uint8_t& code) {
    if (static_cast<int64_t>(e.Count) - 8 <= 0) return std::string();
    std::vector<uint8_t> all = r.ValueBytes(e, kMaxTiffTextBytes);  // checked against the stream size
    const uint8_t* id = all.data();
    std::string body(reinterpret_cast<const char*>(all.data() + 8), all.size() - 8);
    auto isId = [&](const char* name) { return std::memcmp(id, name, 8) == 0; };
    auto upToNul = [](const std::string& s) {
        size_t n = s.find('\0');
        return n == std::string::npos ? s : s.substr(0, n);
    };
    if (isId("ASCII\0\0\0")) {
        code = ecAscii;
        return ForeignTextToUtf8(upToNul(body));
    }
    if (isId("JIS\0\0\0\0\0")) {
        code = ecJis;
        return ForeignTextToUtf8(JisToSjis(upToNul(body)));
    }
    if (isId("UNICODE\0")) {
        bool little = !BigEndian;
        size_t start = 0;
        if (IsOldOrinSoftware(Software)) {
            little = true;
            code = ecUnicode;
        } else if (body.size() >= 2 && static_cast<uint8_t>(body[0]) == 0xFF && static_cast<uint8_t>(body[1]) == 0xFE) {
            little = true;
            start = 2;
            code = ecUnicodeMarked;
        } else if (body.size() >= 2 && static_cast<uint8_t>(body[0]) == 0xFE && static_cast<uint8_t>(body[1]) == 0xFF) {
            little = false;
            start = 2;
            code = ecUnicodeMarked;
        } else {
            code = ecUnicode;
        }
        std::u16string units;
        for (size_t i = start; i + 1 < body.size(); i += 2) {
            const uint16_t u = GetOrdered16(reinterpret_cast<const uint8_t*>(body.data() + i), !little);
            if (u == 0) break;
            units.push_back(static_cast<char16_t>(u));
        }
        return Utf16ToUtf8(units);
    }
    code = ecUndefined;
    return ForeignTextToUtf8(upToNul(body));
}

void TExifItem::StoreValue(TTiffReader& r, const TIfdEntry& e, TExifTagIndex index) {
    auto rational = [&]() { return r.RationalValue(e); };
    auto integer = [&]() { return r.IntegerValue(e); };
    auto text = [&]() { return ForeignTextToUtf8(r.AsciiValue(e)); };
    switch (index) {
        case 0: std::memcpy(ExifVersion, e.Raw, 4); break;
        case 1: std::memcpy(FlashpixVersion, e.Raw, 4); break;
        case 2: ImageDescription = text(); break;
        case 3: Make = text(); break;
        case 4: Model = text(); break;
        case 5: Software = text(); break;
        case 6: MakerNoteInfo = Format("有り ($%.8X ～ %d Bytes)", static_cast<unsigned>(r.Base() + e.Value),
                                       static_cast<int>(e.Count)); break;
        case 7: Artist = text(); break;
        case 8: {
            std::vector<uint8_t> bytes = e.Count <= 4 ? std::vector<uint8_t>(e.Raw, e.Raw + e.Count) : r.ValueBytes(e, kMaxTiffTextBytes);
            std::string photographer = CleanExifText(bytes.data(), bytes.size());
            CopyrightPhotographer = ForeignTextToUtf8(photographer);
            CopyrightEditor.clear();
            if (photographer.size() + 1 < e.Count && photographer.size() + 1 < bytes.size())
                CopyrightEditor = ForeignTextToUtf8(
                    CleanExifText(bytes.data() + photographer.size() + 1, bytes.size() - photographer.size() - 1));
            break;
        }
        case 10: UserComment = ReadEncodedText(r, e, UserCommentCode); break;
        case 11: DateTimeOriginal = r.DateTimeValue(e); break;
        case 12: SubSecTimeOriginal = r.SubSecValue(e); break;
        case 13: DateTimeDigitized = r.DateTimeValue(e); break;
        case 14: SubSecTimeDigitized = r.SubSecValue(e); break;
        case 15: DateTime = r.DateTimeValue(e); break;
        case 16: SubSecTime = r.SubSecValue(e); break;
        case 17: FileSource = Ordinal(integer(), 3, 4); break;
        case 18: SceneTypeOther = integer() != 1; break;
        case 19: {
            uint32_t v = integer();
            ColorSpace = v == 1 ? 0 : v == 0xFFFF ? 1 : 2;
            break;
        }
        case 20: CompressedBitsPerPixel = rational(); break;
        case 21: PixelXDimension = static_cast<int32_t>(integer()); break;
        case 22: PixelYDimension = static_cast<int32_t>(integer()); break;
        case 23: XResolution = rational(); break;
        case 24: YResolution = rational(); break;
        case 25: ResolutionUnitInch = integer() != 3; break;
        case 26: FocalLength = rational(); break;
        case 27: FocalPlaneXResolution = rational(); break;
        case 28: FocalPlaneYResolution = rational(); break;
        case 29: FocalPlaneUnitCm = integer() == 3; break;
        case 30: {
            static const int kMap[9] = {7, 0, 1, 2, 3, 4, 7, 5, 6};
            uint32_t v = integer();
            SensingMethod = static_cast<uint8_t>(v <= 8 ? kMap[v] : 7);
            break;
        }
        case 31: {
            uint32_t v = integer();
            MeteringMode = v <= 6 ? static_cast<uint8_t>(v) : v == 255 ? 8 : 7;
            break;
        }
        case 32: SpectralSensitivity = text(); break;
        case 33: ISOSpeedRatings = r.ShortListValue(e); break;
        case 34: ShutterSpeedValue = rational(); break;
        case 35: ExposureTime = rational(); break;
        case 36: ApertureValue = rational(); break;
        case 37: FNumber = rational(); break;
        case 38: MaxApertureValue = rational(); break;
        case 39: BrightnessValue = rational(); break;
        case 40: ExposureBiasValue = rational(); break;
        case 41: {
            uint32_t v = integer();
            if (v <= 4) LightSource = static_cast<uint8_t>(v);
            else if (v >= 9 && v <= 15) LightSource = static_cast<uint8_t>(v - 4);
            else if (v >= 17 && v <= 24) LightSource = static_cast<uint8_t>(v - 5);
            else if (v == 255) LightSource = 20;
            else LightSource = 21;
            break;
        }
        case 42: Flash = FlashFlags(integer()); break;
        case 43: FlashEnergy = rational(); break;
        case 44: ExposureProgram = Ordinal(integer(), 8, 9); break;
        case 45: ExposureIndex = rational(); break;
        case 46: {
            uint32_t num = 0, den = 0;
            r.RationalParts(e, 0, num, den);
            SubjectDistanceInfinite = den == 0;
            SubjectDistance = rational();
            break;
        }
        case 47: {
            const std::vector<int64_t> v = r.IntegerValues(e, 2);
            SubjectLocationX = v.size() > 0 ? static_cast<int32_t>(v[0]) : 0;
            SubjectLocationY = v.size() > 1 ? static_cast<int32_t>(v[1]) : 0;
            break;
        }
        case 48: {
            const std::vector<uint8_t> b = r.ValueBytes(e, sizeof RelatedSoundFile);
            std::memset(RelatedSoundFile, 0, sizeof RelatedSoundFile);
            if (!b.empty()) std::memcpy(RelatedSoundFile, b.data(), b.size());
            break;
        }
        case 49: Gamma = rational(); break;
        case 50: {
            // 2, 3 or 4 values, each read by the stored type (SHORT as written by cameras)
            SubjectArea = TSubjectArea();
            const uint8_t kind = e.Count == 2 ? 0 : e.Count == 3 ? 1 : e.Count == 4 ? 2 : 3;
            if (kind != 3) {
                const std::vector<int64_t> v = r.IntegerValues(e, 4);
                for (size_t i = 0; i < v.size(); ++i) SubjectArea.Values[i] = static_cast<uint16_t>(v[i]);
            }
            SubjectArea.Kind = kind;
            break;
        }
        case 51: CustomRendered = Ordinal(integer(), 1, 2); break;
        case 52: ExposureMode = Ordinal(integer(), 2, 3); break;
        case 53: WhiteBalance = Ordinal(integer(), 1, 2); break;
        case 54: DigitalZoomRatio = rational(); break;
        case 55: FocalLengthIn35mmFilm = static_cast<int16_t>(integer()); break;
        case 56: SceneCaptureType = Ordinal(integer(), 3, 4); break;
        case 57: GainControl = Ordinal(integer(), 4, 5); break;
        case 58: Contrast = Ordinal(integer(), 2, 3); break;
        case 59: Saturation = Ordinal(integer(), 2, 3); break;
        case 60: Sharpness = Ordinal(integer(), 2, 3); break;
        case 61: DeviceSettingDescription = "未対応"; break;
        case 62: SubjectDistanceRange = Ordinal(integer(), 3, 4); break;
        case 63: ImageUniqueID = text(); break;
        case 64: std::memcpy(GPSVersionID, e.Raw, 4); break;
        case 65: GPSLatitude.Ref = r.CharValue(e); break;
        case 66: GPSLatitude = ReadDms(r, e, GPSLatitude.Ref); break;
        case 67: GPSLongitude.Ref = r.CharValue(e); break;
        case 68: GPSLongitude = ReadDms(r, e, GPSLongitude.Ref); break;
        case 69: GPSAltitudeRef = static_cast<uint8_t>(integer()); break;
        case 70: GPSAltitude = rational(); break;
        case 71: GPSDateStamp = std::trunc(ExifStrToDateTime(r.AsciiValue(e))); break;
        case 72: {
            if (e.Count < 3) throw ETiffFormatError("GPS time with fewer than three values");
            double part[3];
            for (uint32_t i = 0; i < 3; ++i) {
                uint32_t num = 0, den = 0;
                r.RationalParts(e, i, num, den);
                part[i] = den == 0 ? 0.0 : static_cast<double>(num) / den;
            }
            double x = part[0] + part[1] / 60.0 + part[2] / 3600.0;
            int ms = static_cast<int>(std::trunc(Frac(Frac(Frac(x) * 60.0) * 60.0) * 1000.0));
            TDateTime t = 0;
            if (!TryEncodeTime(static_cast<int>(std::trunc(x)), static_cast<int>(std::trunc(Frac(x) * 60.0)),
                               static_cast<int>(std::trunc(Frac(Frac(x) * 60.0) * 60.0)), ms, t))
                throw ETiffFormatError("GPS time out of range");
            GPSTimeStamp = t;
            break;
        }
        case 73: GPSSatellites = text(); break;
        case 74: {
            char c = r.CharValue(e);
            GPSStatus = (c == 'A' || c == 'a') ? 0 : (c == 'V' || c == 'v') ? 1 : 2;
            break;
        }
        case 75: {
            char c = r.CharValue(e);
            GPSMeasureMode = c == '2' ? 0 : c == '3' ? 1 : 2;
            break;
        }
        case 76: GPSDOP = rational(); break;
        case 77: GPSSpeedRef = r.CharValue(e); break;
        case 78: GPSSpeed = rational(); break;
        case 79: GPSTrackRef = r.CharValue(e); break;
        case 80: GPSTrack = rational(); break;
        case 81: GPSImgDirectionRef = r.CharValue(e); break;
        case 82: GPSImgDirection = rational(); break;
        case 83: GPSMapDatum = text(); break;
        case 84: GPSDestLatitude.Ref = r.CharValue(e); break;
        case 85: GPSDestLatitude = ReadDms(r, e, GPSDestLatitude.Ref); break;
        case 86: GPSDestLongitude.Ref = r.CharValue(e); break;
        case 87: GPSDestLongitude = ReadDms(r, e, GPSDestLongitude.Ref); break;
        case 88: GPSDestBearingRef = r.CharValue(e); break;
        case 89: GPSDestBearing = rational(); break;
        case 90: GPSDestDistanceRef = r.CharValue(e); break;
        case 91: GPSDestDistance = rational(); break;
        case 92: GPSProcessingMethod = ReadEncodedText(r, e, GPSProcessingMethodCode); break;
        case 93: GPSAreaInformation = ReadEncodedText(r, e, GPSAreaInformationCode); break;
        case 94: GPSDifferential = Ordinal(integer(), 1, 2); break;
        default: throw ETiffFormatError("tag without a store");
    }
}

// The tag as it was written, for machine-readable listings.
void TExifItem::StoreRaw(TTiffReader& r, const TIfdEntry& e, TExifTagIndex index) {
    TExifRawValue& v = Raw[index];
    v = TExifRawValue();
    auto setText = [&](std::string s) {
        TrimRight(s);
        v.IsText = true;
        v.Text = std::move(s);
    };
    switch (index) {
        case 0: case 1: setText(std::string(reinterpret_cast<const char*>(e.Raw), 4)); return;
        case 6: case 9: case 61: return;  // binary blobs and the editor half of Copyright
        case 8: setText(CopyrightEditor.empty() ? CopyrightPhotographer : CopyrightPhotographer + " - " + CopyrightEditor); return;
        case 10: setText(UserComment); return;
        case 92: setText(GPSProcessingMethod); return;
        case 93: setText(GPSAreaInformation); return;
        case 48: setText(std::string(RelatedSoundFile, strnlen(RelatedSoundFile, 13))); return;
        default: break;
    }
    switch (e.Type) {
        case ttAscii: setText(ForeignTextToUtf8(r.AsciiValue(e))); return;
        case ttRational:
        case ttSRational: {
            uint32_t n = e.Count < kMaxRawValues ? e.Count : kMaxRawValues;
            for (uint32_t i = 0; i < n; ++i) {
                uint32_t num = 0, den = 0;
                r.RationalParts(e, i, num, den);
                double value = 0;
                if (den != 0)
                    value = e.Type == ttSRational ? static_cast<double>(static_cast<int32_t>(num)) / static_cast<int32_t>(den)
                                                  : static_cast<double>(num) / den;
                v.Numbers.push_back(value);
            }
            return;
        }
        default: break;
    }
    if (TTiffReader::IsIntegerType(e.Type)) {
        for (int64_t x : r.IntegerValues(e, kMaxRawValues)) v.Numbers.push_back(static_cast<double>(x));
        return;
    }
    const int size = TiffTypeSize(e.Type);
    if (e.Type != ttFloat && e.Type != ttDouble) return;
    TIfdEntry limited = e;
    limited.Count = e.Count < kMaxRawValues ? e.Count : kMaxRawValues;
    const std::vector<uint8_t> b = r.ValueBytes(limited);
    for (size_t at = 0; at + static_cast<size_t>(size) <= b.size(); at += static_cast<size_t>(size)) {
        const uint8_t* p = b.data() + at;
        double x = 0;
        if (e.Type == ttFloat) {
            const uint32_t bits = r.U32(p);
            float f;
            std::memcpy(&f, &bits, 4);
            x = f;
        } else {
            const uint64_t bits = r.BigEndian() ? (static_cast<uint64_t>(r.U32(p)) << 32) | r.U32(p + 4)
                                                : (static_cast<uint64_t>(r.U32(p + 4)) << 32) | r.U32(p);
            std::memcpy(&x, &bits, 8);
        }
        v.Numbers.push_back(x);
    }
}

// ---------------------------------------------------------------- PrintIM

bool IsPrintIMHeader(const uint8_t* b) { return std::memcmp(b, "PrintIM\0", 8) == 0; }

void TExifItem::ReadPrintIM(TTiffReader& r, const TIfdEntry& e) {
    HasPrintIM = true;
    PrintIMLines.clear();
    TStream& s = r.Stream();
    int64_t saved = s.Position();
    try {
        int64_t pos = r.Base() + static_cast<int64_t>(e.Value);
        if (pos + 14 > r.StreamSize()) throw ETiffFormatError("PrintIM runs past the end");
        uint8_t h[14];
        s.Seek(pos, soBeginning);
        s.ReadBuffer(h, 14);
        auto printable = [](const uint8_t* p, size_t n) {
            std::string t;
            for (size_t i = 0; i < n && p[i] != 0; ++i)
                if (p[i] >= 32) t.push_back(static_cast<char>(p[i]));
            return t;
        };
        PrintIMHeader = Format("%-8s (%4s)  : $%.8x ～ %d", printable(h, 8).c_str(), printable(h + 8, 4).c_str(), e.Value,
                               static_cast<int>(e.Count));
        if (!IsPrintIMHeader(h)) {
            PrintIMLines.push_back("This is not PIM");
        } else {
            uint16_t n = r.ReadU16();
            if (n > 254) {
                PrintIMLines.push_back(Format("Entry Count is %d ?!", n));
            } else {
                int64_t size = r.StreamSize();
                for (uint16_t i = 0; i < n && s.Position() + 6 <= size; ++i) {
                    uint8_t b[6];
                    s.ReadBuffer(b, 6);
                    PrintIMLines.push_back(Format("    ID = %.4x    : %.2x %.2x %.2x %.2x", r.U16(b), b[2], b[3], b[4], b[5]));
                }
            }
        }
    } catch (const std::exception&) {
        PrintIMLines.clear();
        PrintIMLines.push_back("Error");
    }
    s.Seek(saved, soBeginning);
}

// ---------------------------------------------------------------- helpers

bool IsOldOrinSoftware(const std::string& software) {
    if (software.find("Orin") == std::string::npos) return false;
    size_t i = software.find_first_of("0123456789.");
    if (i == std::string::npos) return false;
    size_t j = software.find_first_not_of("0123456789.", i);
    std::string run = software.substr(i, j == std::string::npos ? std::string::npos : j - i);
    // one decimal number: digits with at most one point, at least one digit
    size_t dots = 0, digits = 0;
    for (char c : run) (c == '.' ? dots : digits)++;
    if (dots > 1 || digits == 0) return false;
    return std::strtod(run.c_str(), nullptr) <= 4.0;
}

bool HasOrinMakerNote(TStream& stream) {
    int64_t pos = stream.Position();
    uint8_t b[8];
    int64_t n = stream.Read(b, 8);
    stream.Seek(pos, soBeginning);
    return n == 8 && std::memcmp(b, "ORIN_MNH", 8) == 0;
}

std::string GpsRefLetter(char ref) {
    switch (ref) {
        case 'N': return "N";
        case 'S': return "S";
        case 'E': return "E";
        case 'W': return "W";
        default: return "?";
    }
}

std::string GpsRefName(char ref) {
    switch (ref) {
        case 'N': return "北緯";
        case 'S': return "南緯";
        case 'E': return "東経";
        case 'W': return "西経";
        default: return "不明";
    }
}

std::string FormatGpsPosition(const TGpsDms& dms) {
    double x = dms.Degrees + dms.Minutes / 60.0 + dms.Seconds / 3600.0;
    double deg = std::trunc(x);
    double min = std::trunc(Frac(x) * 60.0);
    double sec = Frac(Frac(x) * 60.0) * 60.0;
    // "00.00" rounds; a value that rounds up to 60 stays as the pattern prints it
    std::string out = GpsRefLetter(dms.Ref);
    out += Format("%02.0f度%02.0f分%05.2f秒", deg, min, sec);
    return out;
}

// ---------------------------------------------------------------- maker-note dispatch

void DecodeMakerNoteOlympus(TExifItem& item, TTiffReader& r, int64_t pos);
void DecodeMakerNoteCanon(TExifItem& item, TTiffReader& r, int64_t pos);
void DecodeMakerNoteFujifilm(TExifItem& item, TTiffReader& r, int64_t pos);
void DecodeMakerNoteCasio(TExifItem& item, TTiffReader& r, int64_t pos);
void DecodeMakerNoteNikon(TExifItem& item, TTiffReader& r, int64_t pos);
void DecodeMakerNoteMinolta(TExifItem& item, TTiffReader& r, int64_t pos);
void DecodeMakerNotePentax(TExifItem& item, TTiffReader& r, int64_t pos);
void DecodeMakerNotePanasonic(TExifItem& item, TTiffReader& r, int64_t pos);
void DecodeMakerNoteSony(TExifItem& item, TTiffReader& r, int64_t pos);

void DecodeMakerNote(TExifItem& item, TTiffReader& r, int64_t pos, int64_t /*length*/) {
    const std::string& make = item.Make;
    if (EqualsNoCase(make, "OLYMPUS", 7)) DecodeMakerNoteOlympus(item, r, pos);
    else if (EqualsNoCase(make, "CANON", 5)) DecodeMakerNoteCanon(item, r, pos);
    else if (EqualsNoCase(make, "FUJIF", 5)) DecodeMakerNoteFujifilm(item, r, pos);
    else if (EqualsNoCase(make, "CASIO", 5)) DecodeMakerNoteCasio(item, r, pos);
    else if (EqualsNoCase(make, "NIKON", 5)) DecodeMakerNoteNikon(item, r, pos);
    else if (EqualsNoCase(make, "MINOL", 5)) DecodeMakerNoteMinolta(item, r, pos);
    else if (EqualsNoCase(make, "PENTAX", 6)) DecodeMakerNotePentax(item, r, pos);
    else if (EqualsNoCase(make, "Panasonic", 9)) DecodeMakerNotePanasonic(item, r, pos);
    else if (EqualsNoCase(make, "SONY", 4)) DecodeMakerNoteSony(item, r, pos);
}

}  // namespace fv
