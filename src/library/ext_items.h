#pragma once
// File-type registry: which extensions the library lists, as which item kind.
// Lookups go through a sorted table of numeric extension keys (binary search), so
// folder enumeration never compares strings per file.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "metadata/item_kind.h"

namespace fv {

// a kind set is a byte whose bit k selects kind k
using TKindSet = uint8_t;

// BMP, JPEG, RAW and non-image files: the stored default of "ImageTypes" and the
// set that SearchFiles uses.
constexpr TKindSet kDefaultKindSet = 99;

inline bool KindInSet(unsigned kind, TKindSet set) { return kind <= 7 && (set & (1u << kind)) != 0; }

// The label of an item kind ("BMP", "JPEG (EXIF)", ...); empty above 7.
std::string ItemKindLabel(unsigned kind);

// Process-wide extra extensions (";"-separated), listed as kind 6. The engine sets ".MP3".
void SetExtraExtensions(const std::string& text);
std::string GetExtraExtensions();

// The icon lookup for an extension (a file named "Damy" + extension, attributes only).
// The core has no icons; the user interface installs a lookup. Without one, or when the
// lookup answers a negative value, the icon index is -1.
using TExtIconLookup = std::function<int(const std::string& fileName)>;
void SetExtIconLookup(TExtIconLookup lookup);

// Numeric key of an extension with its leading dot (upper-cased here).
int32_t ExtensionKey(std::string_view ext);
// Viewable: not kind 6 and not one of the known sound and movie extensions.
bool IsViewableExtension(std::string_view upperExt, unsigned kind);

struct TExtItem {
    int32_t Key = 0;
    uint8_t Kind = 0;
    int32_t IconIndex = -1;
    bool Viewable = false;
    std::string Name;  // upper-case, with the dot
};

class TExtItems {
public:
    static constexpr size_t kMaxKeys = 256;

    TExtItems() = default;
    explicit TExtItems(TKindSet kinds) { Build(kinds); }
    TExtItems(const TExtItems&) = delete;
    TExtItems& operator=(const TExtItems&) = delete;

    void Build(TKindSet kinds);
    void Clear();
    // a copy of the registered item, or false
    bool FindItem(std::string_view ext, TExtItem& out) const;
    bool Contains(std::string_view ext) const;
    int32_t GetIconIndex(std::string_view ext) const;
    TKindSet GetKindSet() const;
    bool IsBuilt() const;
    size_t Count() const;
    // the registered names in key order
    std::vector<std::string> Names() const;

private:
    int IndexOf(int32_t key) const;       // under the lock
    int Locate(std::string_view ext) const;  // under the lock

    mutable std::mutex FLock;
    bool FBuilt = false;
    std::vector<TExtItem> FItems;  // sorted by key
    int32_t FKeys[kMaxKeys] = {};
};

// Extension of a file name including the dot ("" when there is none), as the name holds it.
std::string_view ExtractFileExtView(std::string_view name);

}  // namespace fv
