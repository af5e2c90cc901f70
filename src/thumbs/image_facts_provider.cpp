#include "thumbs/image_facts_provider.h"

#include "metadata/exif_present.h"
#include "image/image_decode.h"
#include "metadata/raw_preview.h"
#include "platform/stream.h"

namespace fv {

namespace {

class TPipelineImageFacts : public TImageFactsProvider {
public:
    bool ReadImageFacts(const std::string& path, uint8_t kind, TImageFacts& out) override {
        try {
            // A picture file that cannot be opened (gone, its drive unplugged) states nothing: the
            // header readers below take it for a file without camera data, and its photo would lose
            // the shooting date it is filed under in the calendar. Other kinds are not read at all.
            if (kind < ikNotImage) {
                TFileStream probe(path, TFileStream::fmOpenRead);
            }
            TImageInfoRec info;
            GetImageInfo(path, kind, info);
            out.PixelFormat = info.PixelFormat;
            out.Width = info.Width;
            out.Height = info.Height;
            out.HasCameraData = info.IsExif;
            // the catalog keeps 0 for "the file states none"
            out.Orientation = info.IsExif ? info.Orientation : 0;
            out.ShootingDate = info.ShootingDate;
            out.CameraData.reset();
            return true;
        } catch (...) {
            return false;
        }
    }

    // formatArgs: the line format (two %s: label, value) and the text for missing values
    bool GetExifTextLines(const std::string& path, uint8_t kind, const std::vector<std::string>& formatArgs,
                          std::vector<std::string>& lines) override {
        try {
            const std::string format = formatArgs.size() > 0 ? formatArgs[0] : "%s : %s";
            const std::string defaultText = formatArgs.size() > 1 ? formatArgs[1] : "";
            const bool jpeg = kind == ikJpeg || kind == ikDcfThumb || (kind == ikRaw && RawKind(path) == rkRAF);
            return ListExif(path, jpeg, format, defaultText, lines);
        } catch (...) {
            return false;
        }
    }
};

}  // namespace

std::shared_ptr<TImageFactsProvider> MakeImageFactsProvider() { return std::make_shared<TPipelineImageFacts>(); }

}  // namespace fv
