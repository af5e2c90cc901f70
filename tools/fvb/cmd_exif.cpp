// fvb exif [--json] FILE...: the EXIF tags of each file, as the information panel lists
// them (label and value, maker note after) or as one JSON array.
#include <cstdio>

#include "commands.h"
#include "metadata/exif_item.h"
#include "metadata/exif_present.h"
#include "metadata/jpeg_info.h"

namespace fv::fvb {

namespace {

struct TExifResult {
    bool Exif = false;
    std::string Error;  // empty when the file was read
};

// Loads the EXIF of a JPEG or TIFF-structured file; a file without EXIF is not an error.
TExifResult Load(const std::string& path, TExifItem& item) {
    TExifResult res;
    std::string error;
    TFileLayout layout = SniffFile(path, error);
    if (layout == flUnreadable) {
        res.Error = error;
        return res;
    }
    if (layout == flOther) {
        res.Error = "not a JPEG or TIFF file";
        return res;
    }
    if (layout == flJpeg) {
        TMemoryStream app1;
        if (!ExtractExifSegmentFromFile(path, app1) || app1.Size() < 6 || !IsExifHeader(app1.Data().data()))
            return res;  // a JPEG without EXIF
    }
    res.Exif = item.LoadFromFile(path, layout == flJpeg, true);
    if (!res.Exif) res.Error = "the EXIF data is damaged";
    return res;
}

std::string RawJson(const TExifRawValue& v) {
    if (v.IsText) return JsonString(v.Text);
    if (v.Numbers.size() == 1) return JsonNumber(v.Numbers[0]);
    std::string out = "[";
    for (size_t i = 0; i < v.Numbers.size(); ++i) {
        if (i) out += ',';
        out += JsonNumber(v.Numbers[i]);
    }
    return out + "]";
}

void PrintJsonFile(const std::string& path, const TExifItem& item, const TExifResult& res, bool first) {
    std::printf("%s{\n  \"file\": %s,\n  \"exif\": %s", first ? "" : ",\n", JsonString(path).c_str(), res.Exif ? "true" : "false");
    if (!res.Error.empty()) std::printf(",\n  \"error\": %s", JsonString(res.Error).c_str());
    std::printf(",\n  \"tags\": {");
    bool any = false;
    if (res.Exif) {
        if (item.HasOrientation) {
            std::printf("\n    \"Orientation\": %d", item.Orientation);
            any = true;
        }
        for (int i = 0; i < kExifTagCount; ++i) {
            if (!item.IsPresent(i)) continue;
            const TExifRawValue& v = item.Raw[i];
            if (!v.IsText && v.Numbers.empty()) continue;
            std::printf("%s\n    %s: %s", any ? "," : "", JsonString(ExifTagName(i)).c_str(), RawJson(v).c_str());
            any = true;
        }
    }
    std::printf("%s}\n}", any ? "\n  " : "");
}

void PrintText(const std::string& path, const TExifItem& item, const TExifResult& res) {
    std::printf("== %s\n", path.c_str());
    if (!res.Exif) {
        std::printf("EXIF情報はありません。\n");
        return;
    }
    const TExifTagIndex* order = ExifDisplayOrder();
    for (int k = 0; k < kExifTagCount; ++k)
        if (item.IsPresent(order[k])) std::printf("%s\n", GetDisplayLine(item, order[k], true, "%-16s : %s", "").c_str());
    if (item.HasPrintIM) {
        std::printf("-- PrintIM\n%s\n", item.PrintIMHeader.c_str());
        for (const auto& l : item.PrintIMLines) std::printf("%s\n", l.c_str());
    }
    // decoded lines where the maker is known, else the raw entries
    const auto& notes = item.Lines.empty() ? item.MakerNoteLines : item.Lines;
    if (!notes.empty()) {
        std::printf("-- メーカーノート\n");
        for (const auto& l : notes) std::printf("%s\n", l.c_str());
    }
}

}  // namespace

int CmdExif(const TArgs& args) {
    bool json = false;
    std::vector<std::string> files;
    for (const auto& a : args) {
        if (a == "--json") json = true;
        else if (a.size() > 1 && a[0] == '-' && a != "-") {
            std::fprintf(stderr, "fvb exif: unknown option \"%s\"\n", a.c_str());
            return 2;
        } else files.push_back(a);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: fvb exif [--json] FILE...\n");
        return 2;
    }
    int status = 0;
    if (json) std::printf("[");
    bool first = true;
    for (const auto& path : files) {
        TExifItem item;
        TExifResult res = Load(path, item);
        if (!res.Error.empty()) {
            std::fprintf(stderr, "fvb exif: %s: %s\n", path.c_str(), res.Error.c_str());
            status = 1;
        }
        if (json) {
            PrintJsonFile(path, item, res, first);
            first = false;
        } else if (res.Error.empty()) {
            PrintText(path, item, res);
        }
    }
    if (json) std::printf("]\n");
    return status;
}

}  // namespace fv::fvb
