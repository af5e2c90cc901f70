// The catalog cache at start-up: "Cache.tdb" with its eight segment files, then every picture
// read back for drawing (also reduced to the cell as a grid on a screen of pixel ratio 1 or 2
// reads it), two more written (rotating the ring), and the index saved again.
// Input: a 16-bit little-endian length L, L bytes of "Cache.tdb", then for each of the eight
// segment files a 32-bit little-endian length and its bytes.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "thumbs/catalog_image_cache.h"
#include "library/catalog_item.h"
#include "platform/stream.h"

namespace {

const std::string& Folder() {
    static const std::string folder = [] {
        char tmpl[] = "/tmp/fuzz-cache-index-XXXXXX";
        const char* made = mkdtemp(tmpl);
        return std::string(made ? made : "/tmp/fuzz-cache-index");
    }();
    return folder;
}

void WriteFile(const std::string& name, const uint8_t* data, size_t size) {
    fv::TFileStream f(name, fv::TFileStream::fmCreate);
    if (size) f.WriteBuffer(data, static_cast<int64_t>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t indexLen = static_cast<size_t>(data[0] | (data[1] << 8));
    data += 2;
    size -= 2;
    indexLen = std::min(indexLen, size);
    const std::string& folder = Folder();
    WriteFile(folder + "/Cache.tdb", data, indexLen);
    // each segment: a 32-bit little-endian length and its bytes, as far as the input goes
    const uint8_t* p = data + indexLen;
    size_t left = size - indexLen;
    for (int i = 0; i < fv::kCacheSegmentCount; ++i) {
        size_t len = 0;
        if (left >= 4) {
            len = static_cast<size_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<size_t>(p[3]) << 24);
            p += 4;
            left -= 4;
        }
        len = std::min(len, left);
        WriteFile(fv::CacheSegmentFileName(folder, i), p, len);
        p += len;
        left -= len;
    }

    static std::vector<std::unique_ptr<fv::TCatalogItem>> owned;
    static std::vector<fv::TCatalogItem*> catalog;
    if (catalog.empty())
        for (int i = 0; i < 16; ++i) {
            owned.push_back(std::make_unique<fv::TCatalogItem>());
            catalog.push_back(owned.back().get());
        }
    for (auto* item : catalog) {
        item->SetCachedSize(0);
        item->SetOrientation(1 + static_cast<int>(item->RuntimeId() % 8));
    }

    fv::TCatalogImageCacheMaster cache;
    cache.Initialize(fv::cmFiles, folder, true, 8 * 65536);
    cache.LoadCacheData(catalog);
    fv::TBitmap canvas(64, 64);
    for (auto* item : catalog) {
        fv::TBitmap pic;
        int32_t got = 0;
        try {
            cache.GetCatalogImage(item, &pic, got);
            cache.DrawCatalogImage(item, 48, fv::TRect{4, 4, 60, 60}, &canvas);
            // what a grid asks for on screens of pixel ratio 1 and 2: a recorded size of
            // any value, a picture reduced when it was made larger than the cell
            cache.GetCatalogImageFitted(item, &pic, got, 24);
            cache.GetCatalogImageFitted(item, &pic, got, 48);
        } catch (const fv::Exception&) {
            // errors of other kinds than the store's are reported, never a crash
        }
    }
    fv::TBitmap small(12, 9);
    small.Fill(10, 20, 30);
    try {
        cache.AddCatalogImage(catalog[0], &small, 12);
        // a picture made for a screen of twice the ratio goes under its device size
        fv::TBitmap large(24, 18);
        large.Fill(40, 50, 60);
        cache.AddCatalogImage(catalog[1], &large, 24);
        cache.SaveCacheData(catalog);
    } catch (const fv::Exception&) {
    }
    return 0;
}
