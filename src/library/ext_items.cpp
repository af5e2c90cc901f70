#include "library/ext_items.h"

#include <algorithm>

#include "platform/collate.h"
#include "platform/file_name.h"

namespace fv {

namespace {

std::mutex gExtraLock;
std::string gExtraExtensions;
std::mutex gIconLock;
TExtIconLookup gIconLookup;

struct TBuiltIn {
    const char* Ext;
    uint8_t Kind;
};

// order of the kind table
const TBuiltIn kBuiltIns[] = {
    {".BMP", ikBmp},      {".JPG", ikJpeg},     {".JPE", ikJpeg},     {".JPEG", ikJpeg},
    {".THM", ikDcfThumb}, {".WMF", ikMetafile}, {".EMF", ikMetafile}, {".CR2", ikRaw},
    {".CRW", ikRaw},      {".DNG", ikRaw},      {".MRW", ikRaw},      {".NEF", ikRaw},
    {".NSK", ikRaw},      {".ORF", ikRaw},      {".PEF", ikRaw},      {".RAF", ikRaw},
};

const char kNotViewable[] = "*.AIF *.AU *.AVI *.CDA *.MID *.MPG *.MPEG *.MP3 *.RM *.MOV *.WAV *.ASF *.WMA *.WMV";

std::string Trim(std::string s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

std::string NormaliseExt(std::string_view raw) {
    std::string s = UpperCaseAscii(raw);
    s.erase(std::remove(s.begin(), s.end(), '*'), s.end());
    s = Trim(std::move(s));
    if (s.empty()) return s;
    if (s[0] != '.') s.insert(s.begin(), '.');
    return s;
}

}  // namespace

std::string ItemKindLabel(unsigned kind) {
    static const char* const kLabels[] = {"BMP", "JPEG (EXIF)", "Susie Plug-in", "WMF + EMF",
                                          "DCF ｻﾑﾈｲﾙ", "RAW", "画像以外", "Device"};
    return kind <= 7 ? kLabels[kind] : std::string();
}

void SetExtraExtensions(const std::string& text) {
    std::lock_guard<std::mutex> g(gExtraLock);
    gExtraExtensions = text;
}

std::string GetExtraExtensions() {
    std::lock_guard<std::mutex> g(gExtraLock);
    return gExtraExtensions;
}

void SetExtIconLookup(TExtIconLookup lookup) {
    std::lock_guard<std::mutex> g(gIconLock);
    gIconLookup = std::move(lookup);
}

int32_t ExtensionKey(std::string_view ext) {
    // 32-bit wrap-around arithmetic, done unsigned so that long names cannot overflow
    uint32_t key = 0;
    for (size_t i = 1; i < ext.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(ext[i]);
        if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
        key = key * 27u + static_cast<uint32_t>(static_cast<int32_t>(c) - 64);
    }
    for (size_t len = ext.size(); len < 5; ++len) key *= 27u;
    return static_cast<int32_t>(key);
}

bool IsViewableExtension(std::string_view upperExt, unsigned kind) {
    if (kind == ikNotImage) return false;
    if (upperExt.empty()) return true;
    return std::string_view(kNotViewable).find(upperExt) == std::string_view::npos;
}

void TExtItems::Build(TKindSet kinds) {
    Clear();
    std::vector<TExtItem> items;
    std::vector<std::string> seen;
    auto consider = [&](const std::string& name, uint8_t kind) {
        if (name.empty()) return;
        bool already = std::find(seen.begin(), seen.end(), name) != seen.end();
        if (!already && KindInSet(kind, kinds) && items.size() < kMaxKeys) {
            TExtItem it;
            it.Name = name;
            it.Kind = kind;
            it.Key = ExtensionKey(name);
            it.Viewable = IsViewableExtension(name, kind);
            it.IconIndex = -1;
            TExtIconLookup lookup;
            {
                std::lock_guard<std::mutex> g(gIconLock);
                lookup = gIconLookup;
            }
            if (lookup) {
                try {
                    int icon = lookup("Damy" + name);
                    it.IconIndex = icon < 0 ? -1 : icon;
                } catch (...) {
                    it.IconIndex = -1;
                }
            }
            items.push_back(std::move(it));
        }
        if (!already) seen.push_back(name);
    };
    try {
        for (const TBuiltIn& b : kBuiltIns) consider(b.Ext, b.Kind);
        // names are UTF-8 here: ';' never occurs inside a multi-byte character
        std::string extra = GetExtraExtensions();
        size_t start = 0;
        while (start <= extra.size()) {
            size_t end = extra.find(';', start);
            if (end == std::string::npos) end = extra.size();
            consider(NormaliseExt(std::string_view(extra).substr(start, end - start)), ikNotImage);
            start = end + 1;
        }
    } catch (...) {
        // building never raises: keep what was built so far
    }
    // two names may share a key only beyond four letters; the first registered wins
    std::stable_sort(items.begin(), items.end(), [](const TExtItem& a, const TExtItem& b) { return a.Key < b.Key; });
    std::lock_guard<std::mutex> g(FLock);
    FItems = std::move(items);
    for (size_t i = 0; i < FItems.size(); ++i) FKeys[i] = FItems[i].Key;
    FBuilt = true;
}

void TExtItems::Clear() {
    std::lock_guard<std::mutex> g(FLock);
    FItems.clear();
    std::fill(std::begin(FKeys), std::end(FKeys), 0);
    FBuilt = false;
}

int TExtItems::IndexOf(int32_t key) const {
    int lo = 0, hi = static_cast<int>(FItems.size()) - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        if (FKeys[mid] == key) {
            while (mid > 0 && FKeys[mid - 1] == key) --mid;  // first registered of equal keys
            return mid;
        }
        if (FKeys[mid] < key) lo = mid + 1;
        else hi = mid - 1;
    }
    return -1;
}

// Keys are not unique once digits take part (".CR2" and ".CQM" share one), so the
// name is confirmed among the items of an equal key.
int TExtItems::Locate(std::string_view ext) const {
    if (ext.empty()) return -1;
    int32_t key = ExtensionKey(ext);
    int i = IndexOf(key);
    if (i < 0) return -1;
    std::string upper = UpperCaseAscii(ext);
    for (size_t j = static_cast<size_t>(i); j < FItems.size() && FKeys[j] == key; ++j)
        if (FItems[j].Name == upper) return static_cast<int>(j);
    return -1;
}

bool TExtItems::FindItem(std::string_view ext, TExtItem& out) const {
    std::lock_guard<std::mutex> g(FLock);
    int i = Locate(ext);
    if (i < 0) return false;
    out = FItems[static_cast<size_t>(i)];
    return true;
}

bool TExtItems::Contains(std::string_view ext) const {
    std::lock_guard<std::mutex> g(FLock);
    return Locate(ext) >= 0;
}

int32_t TExtItems::GetIconIndex(std::string_view ext) const {
    TExtItem it;
    return FindItem(ext, it) ? it.IconIndex : 0;
}

TKindSet TExtItems::GetKindSet() const {
    std::lock_guard<std::mutex> g(FLock);
    TKindSet set = 0;
    for (const TExtItem& it : FItems)
        if (it.Kind <= 7) set = static_cast<TKindSet>(set | (1u << it.Kind));
    return set;
}

bool TExtItems::IsBuilt() const {
    std::lock_guard<std::mutex> g(FLock);
    return FBuilt;
}

size_t TExtItems::Count() const {
    std::lock_guard<std::mutex> g(FLock);
    return FItems.size();
}

std::vector<std::string> TExtItems::Names() const {
    std::lock_guard<std::mutex> g(FLock);
    std::vector<std::string> names;
    for (const TExtItem& it : FItems) names.push_back(it.Name);
    return names;
}

std::string_view ExtractFileExtView(std::string_view name) { return FileExtView(name); }

}  // namespace fv
