// libFuzzer target: every reader of the service's XML answers, on the same bytes. Unusable
// answers raise EFolvaneApiError (the calls turn that into EE0100); anything else is a finding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/api.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    auto guarded = [](auto&& read) {
        try {
            read();
        } catch (const EFolvaneApiError&) {
        }
    };
    TFVApiResult r;
    guarded([&] { ReadResultAnswer(bytes, "logout_response", r); });
    std::vector<TFolvaneAlbum> albums;
    guarded([&] { ReadAlbumsAnswer(bytes, albums, r); });
    TFolvaneUploadInfoItem info;
    guarded([&] { ReadUploadInfoAnswer(bytes, info, r); });
    for (int slot = 0; slot <= kThumbSlotCount + 1; ++slot) info.Thumb(slot);
    std::string next, res;
    guarded([&] { ReadNextPageAnswer(bytes, "finishedUpload_response", next, r); });
    guarded([&] { ReadNextPageAnswer(bytes, "uploadBgm_response", next, r); });
    guarded([&] { ReadResourceIdAnswer(bytes, "upload_response", res, r); });
    guarded([&] { ReadResourceIdAnswer(bytes, "uploadBgm_response", res, r); });
    std::vector<TFolvaneRestItem> rest;
    guarded([&] { ReadRestItemsAnswer(bytes, rest, r); });
    guarded([&] { ReadDirectoryAnswerRoot(bytes, r); });
    // what the readers keep must be safe to use as names
    for (const auto& a : albums)
        if (!IsSafePathComponent(a.FolvaneId)) __builtin_trap();
    for (const auto& i : rest)
        if (!IsSafePathComponent(i.HostName) || !IsSafePathComponent(i.ResUuid)) __builtin_trap();
    if (!res.empty() && !IsSafePathComponent(res)) __builtin_trap();
    return 0;
}
