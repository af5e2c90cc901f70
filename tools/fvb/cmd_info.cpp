// fvb info FILE...: one tab-separated line per file:
// path, item kind, width, height, pixel format, orientation, shooting date, EXIF, thumbnail.
#include <cstdio>

#include "commands.h"
#include "image/bitmap.h"
#include "image/image_io.h"
#include "metadata/jpeg_info.h"
#include "metadata/tiff_info.h"
#include "library/ext_items.h"
#include "platform/stream.h"

namespace fv::fvb {

namespace {

struct TInfoLine {
    std::string Kind = "-";
    int Width = 0, Height = 0;
    int PixelFormat = -1;
    int Orientation = 1;
    TDateTime Date = 0;
    bool Exif = false;
    int ThumbWidth = 0, ThumbHeight = 0;
};

// "-" where no format was read
std::string FormatText(int pf) { return pf > pfDevice && pf <= pfCustom ? PixelFormatName(static_cast<unsigned>(pf)) : "-"; }

std::string KindOf(const std::string& path) {
    uint8_t kind = 0;
    return RegisteredKind(path, kind) ? ItemKindLabel(kind) : "-";
}

bool ReadJpeg(const std::string& path, TInfoLine& line, std::string& error) {
    uint8_t options = jiExif | jiThumbnail;
    TJpegInfoExRec rec;
    if (!ReadJpegInfoExFromFile(path, options, rec)) {
        error = "cannot open the file";
        return false;
    }
    FreeJpegInfoEx(rec);
    if (rec.Width <= 0 || rec.Height <= 0) {
        error = "no JPEG frame header";
        return false;
    }
    line.Width = rec.Width;
    line.Height = rec.Height;
    line.PixelFormat = rec.PixelFormat;
    line.Orientation = rec.Orientation;
    line.Date = rec.ShootingDate;
    line.Exif = rec.IsExif;
    if (options & jiThumbnail) {
        line.ThumbWidth = rec.ThumbWidth;
        line.ThumbHeight = rec.ThumbHeight;
    }
    return true;
}

bool ReadTiff(const std::string& path, TInfoLine& line, std::string& error) {
    try {
        TFileStream f(path, TFileStream::fmOpenRead);
        TTiffInfoRec rec;
        ReadTiffInfo(f, true, rec);
        if (rec.Width <= 0 || rec.Height <= 0) {
            error = "no image size in the TIFF directory";
            return false;
        }
        line.Width = rec.Width;
        line.Height = rec.Height;
        line.PixelFormat = rec.PixelFormat;
        line.Orientation = rec.Orientation;
        line.Date = rec.ShootingDate;
        line.Exif = rec.ExifIfdFound != 0;
        if (rec.ThumbStream) {
            TJpegSizeRec size;
            ReadJpegSize(*rec.ThumbStream, false, size);
            line.ThumbWidth = size.Width;
            line.ThumbHeight = size.Height;
        } else if (rec.ThumbWidth > 0 && rec.ThumbHeight > 0) {
            line.ThumbWidth = rec.ThumbWidth;
            line.ThumbHeight = rec.ThumbHeight;
        }
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

bool ReadOther(const std::string& path, TInfoLine& line, std::string& error) {
    try {
        TFileStream f(path, TFileStream::fmOpenRead);
        uint8_t head[128];
        int64_t n = f.Read(head, sizeof head);
        int w = 0, h = 0;
        TPixelFormat pf = pf24bit;
        if (n > 2 && head[0] == 'B' && head[1] == 'M' && ReadBmpSize(head, static_cast<size_t>(n), w, h, pf)) {
            line.Width = w;
            line.Height = h;
            line.PixelFormat = pf;
        }
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

}  // namespace

int CmdInfo(const TArgs& args) {
    if (args.empty()) {
        std::fprintf(stderr, "usage: fvb info FILE...\n");
        return 2;
    }
    int status = 0;
    for (const std::string& path : args) {
        TInfoLine line;
        line.Kind = KindOf(path);
        std::string error;
        bool ok = false;
        switch (SniffFile(path, error)) {
            case flJpeg: ok = ReadJpeg(path, line, error); break;
            case flTiff: ok = ReadTiff(path, line, error); break;
            case flOther: ok = ReadOther(path, line, error); break;
            case flUnreadable: ok = false; break;
        }
        if (!ok) {
            std::fprintf(stderr, "fvb info: %s: %s\n", path.c_str(), error.c_str());
            status = 1;
            continue;
        }
        std::string size = line.Width > 0 ? std::to_string(line.Width) + "\t" + std::to_string(line.Height) : "-\t-";
        std::string date = line.Date != 0 ? FormatDateTimeText(line.Date) : "-";
        std::string thumb = line.ThumbWidth > 0 && line.ThumbHeight > 0
                                ? std::to_string(line.ThumbWidth) + "x" + std::to_string(line.ThumbHeight)
                                : "-";
        std::printf("%s\t%s\t%s\t%s\t%d\t%s\t%s\t%s\n", path.c_str(), line.Kind.c_str(), size.c_str(),
                    FormatText(line.PixelFormat).c_str(), line.Orientation, date.c_str(), line.Exif ? "yes" : "no",
                    thumb.c_str());
    }
    return status;
}

}  // namespace fv::fvb
