// libFuzzer target: GetImageInfo over every kind of file the image layer reads. The first
// byte selects the kind and extension (raw formats differ by extension), the rest is the
// file, written to a scratch file because GetImageInfo reads by name.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image_decode.h"

namespace {

struct TKindExt {
    int Kind;
    const char* Ext;
};

const TKindExt kKinds[] = {
    {fv::ikBmp, ".bmp"},     {fv::ikJpeg, ".jpg"},      {fv::ikMetafile, ".wmf"}, {fv::ikMetafile, ".emf"},
    {fv::ikDcfThumb, ".thm"},  {fv::ikRaw, ".cr2"},       {fv::ikRaw, ".crw"},      {fv::ikRaw, ".dng"},
    {fv::ikRaw, ".erf"},        {fv::ikRaw, ".mrw"},       {fv::ikRaw, ".nef"},      {fv::ikRaw, ".nsk"},
    {fv::ikRaw, ".orf"},        {fv::ikRaw, ".pef"},       {fv::ikRaw, ".raf"},      {fv::ikRaw, ".srf"},
    {fv::ikNotImage, ".avi"},
};
constexpr size_t kKindCount = sizeof kKinds / sizeof kKinds[0];

std::string ScratchName(const char* ext) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/fv_fuzz_image_info_" + std::to_string(getpid()) + ext;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    if (size < 1) return 0;
    const TKindExt& k = kKinds[data[0] % kKindCount];
    const std::string name = ScratchName(k.Ext);
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
        if (size > 1) std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    } else {
        return 0;
    }
    TImageInfoRec info;
    try {
        GetImageInfo(name, k.Kind, info);
        // -1 x -1 is the JPEG readers' "no frame header could be read"; nothing below that
        if (info.Width < -1 || info.Height < -1) __builtin_trap();
    } catch (const Exception&) {
        // bad files raise our own errors; anything else (or a crash) is a finding
    }
    std::remove(name.c_str());
    return 0;
}
