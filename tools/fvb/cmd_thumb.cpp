// fvb thumb: what the thumbnail pipeline makes of one file, written as a picture.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "image/image_decode.h"
#include "image/image_io.h"
#include "image/resample.h"
#include "image/transform.h"

namespace fv::fvb {

namespace {

// the kind the library's file-type registry gives; files it does not list have no picture
int KindOfFile(const std::string& path) {
    uint8_t kind = ikNotImage;
    if (!RegisteredKind(path, kind)) kind = ikNotImage;
    return kind;
}

int ThumbUsage() {
    std::fprintf(stderr,
                 "usage: fvb thumb FILE --size N --out OUT.jpg|OUT.png [--reduce R] [--method M]\n"
                 "  without --reduce/--method: LoadThumbnail into an N x N box (smooth), then the orientation\n"
                 "  --reduce R   decode with LoadImage at reduce level R (0..3) and fit with the method\n"
                 "  --method M   resize method 0..7 (nearest, auto, box, triangle, sinc, lanczos3, polynomial, b-spline)\n");
    return 2;
}

}  // namespace

bool ParseInt(const std::string& s, int lo, int hi, int& out) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != 0 || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

int CmdThumb(const TArgs& args) {
    std::string file, out;
    int size = 0, reduce = -1, method = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--size" && hasValue) {
            if (!ParseInt(args[++i], 1, 30000, size)) return ThumbUsage();
        } else if (a == "--out" && hasValue) {
            out = args[++i];
        } else if (a == "--reduce" && hasValue) {
            if (!ParseInt(args[++i], 0, 3, reduce)) return ThumbUsage();
        } else if (a == "--method" && hasValue) {
            if (!ParseInt(args[++i], 0, 7, method)) return ThumbUsage();
        } else if (!a.empty() && a[0] != '-' && file.empty()) {
            file = a;
        } else {
            return ThumbUsage();
        }
    }
    if (file.empty() || out.empty() || size <= 0) return ThumbUsage();
    try {
        const int kind = KindOfFile(file);
        TBitmap bmp;
        TImageInfoRec info;
        if (reduce < 0 && method < 0) {
            LoadThumbnail(bmp, file, kind, info, true, size, size);
        } else {
            GetImageInfo(file, kind, info);
            LoadImage(bmp, kind, file, {}, reduce < 0 ? 0 : reduce);
            if (!bmp.Empty() && (bmp.Width() > size || bmp.Height() > size)) {
                const TSize fit = FitSize(size, size, bmp.Width(), bmp.Height());
                TBitmap dst(fit.Width, fit.Height);
                Resample(bmp, dst, method < 0 ? rmTriangle : method);
                bmp.Swap(dst);
                info.Resized = true;
            }
        }
        if (bmp.Empty()) {
            std::fprintf(stderr, "fvb thumb: %s: no picture\n", file.c_str());
            return 1;
        }
        ApplyOrientation(bmp, info.Orientation);
        SavePictureToFile(bmp, out, 90);
        std::printf("%s: %d x %d, orientation %d, %s -> %s %d x %d\n", file.c_str(), info.Width, info.Height,
                    info.Orientation, info.Resized ? "resized" : "not resized", out.c_str(), bmp.Width(), bmp.Height());
        return 0;
    } catch (const Exception& e) {
        std::fprintf(stderr, "fvb thumb: %s: %s: %s\n", file.c_str(), e.ClassName(), e.Message().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fvb thumb: %s: %s\n", file.c_str(), e.what());
    }
    return 1;
}

}  // namespace fv::fvb
