#include "core/config.h"


#include "core/file_functions.h"
#include "platform/collate.h"
#include "platform/registry.h"

namespace fv {

void EncodeWindowPlacement(const TWindowPlacement& p, unsigned char out[kWindowPlacementSize]) {
    const int32_t f[11] = {p.Length, p.Flags, p.ShowCmd, p.MinX, p.MinY, p.MaxX, p.MaxY, p.Left, p.Top, p.Right, p.Bottom};
    for (int i = 0; i < 11; ++i) {
        uint32_t u = static_cast<uint32_t>(f[i]);
        for (int b = 0; b < 4; ++b) out[i * 4 + b] = static_cast<unsigned char>(u >> (8 * b));
    }
}

TWindowPlacement DecodeWindowPlacement(const unsigned char* bytes, int count) {
    unsigned char buf[kWindowPlacementSize] = {};
    for (int i = 0; i < count && i < kWindowPlacementSize; ++i) buf[i] = bytes[i];
    int32_t f[11];
    for (int i = 0; i < 11; ++i) {
        uint32_t u = 0;
        for (int b = 3; b >= 0; --b) u = (u << 8) | buf[i * 4 + b];
        f[i] = static_cast<int32_t>(u);
    }
    TWindowPlacement p;
    p.Length = f[0], p.Flags = f[1], p.ShowCmd = f[2], p.MinX = f[3], p.MinY = f[4], p.MaxX = f[5], p.MaxY = f[6];
    p.Left = f[7], p.Top = f[8], p.Right = f[9], p.Bottom = f[10];
    return p;
}

std::string RunningFileVersion() { return GetFileVersionString(GetModuleFileName(), fvFileVersion); }

// ---------------------------------------------------------------- TCorvaConfigItem

TCorvaConfigItem::TCorvaConfigItem() { Setup(); }

void TCorvaConfigItem::Setup() {
    std::string company = GetCompanyKey(), product = GetProductKey();
    FRegistryKey = "SOFTWARE\\" + company + "\\" + product + "\\Config";
    std::string base = IncludeTrailingPathDelimiter(GetAppDataFolder()) + company + "/" + product + "/";
    FDataFolder = base + "Data";
    FLogFolder = base + "Log";
    FRegistryFile = DefaultRegistryFileName();
    SetDefaults();
}

void TCorvaConfigItem::SetDefaults() {
    SetImageTypes(99);
    {
        std::unique_lock g(FSortLock);
        FSortType = 2;
        FSortUp = true;
    }
    SetCatalogSize(0);
    SetThumbnailSize(80);
    SetInfoTypes(3);
    SetMakeCatalogOptions(5);
    {
        std::unique_lock g(FCacheLock);
        FCacheKind = 1;
        FCacheMaxSizeMB = 1000;
    }
    SetDontCheckNetwork(false);
}

uint8_t TCorvaConfigItem::GetImageTypes() { std::shared_lock g(FImageTypesLock); return FImageTypes; }
void TCorvaConfigItem::SetImageTypes(uint8_t v) { std::unique_lock g(FImageTypesLock); FImageTypes = v; }
uint8_t TCorvaConfigItem::GetSortType() { std::shared_lock g(FSortLock); return FSortType; }
void TCorvaConfigItem::SetSortType(uint8_t v) { std::unique_lock g(FSortLock); FSortType = v; }
bool TCorvaConfigItem::GetSortUp() { std::shared_lock g(FSortLock); return FSortUp; }
void TCorvaConfigItem::SetSortUp(bool v) { std::unique_lock g(FSortLock); FSortUp = v; }
int32_t TCorvaConfigItem::GetCatalogSize() { std::shared_lock g(FCatalogSizeLock); return FCatalogSize; }
void TCorvaConfigItem::SetCatalogSize(int32_t v) { std::unique_lock g(FCatalogSizeLock); FCatalogSize = v; }
uint8_t TCorvaConfigItem::GetThumbnailSize() { std::shared_lock g(FThumbnailSizeLock); return FThumbnailSize; }
void TCorvaConfigItem::SetThumbnailSize(uint8_t v) { std::unique_lock g(FThumbnailSizeLock); FThumbnailSize = v; }
uint16_t TCorvaConfigItem::GetInfoTypes() { std::shared_lock g(FInfoTypesLock); return FInfoTypes; }
void TCorvaConfigItem::SetInfoTypes(uint16_t v) { std::unique_lock g(FInfoTypesLock); FInfoTypes = v; }
uint8_t TCorvaConfigItem::GetMakeCatalogOptions() { std::shared_lock g(FCatalogOptionsLock); return FMakeCatalogOptions; }
void TCorvaConfigItem::SetMakeCatalogOptions(uint8_t v) { std::unique_lock g(FCatalogOptionsLock); FMakeCatalogOptions = v; }
uint8_t TCorvaConfigItem::GetCacheKind() { std::shared_lock g(FCacheLock); return FCacheKind; }
void TCorvaConfigItem::SetCacheKind(uint8_t v) { std::unique_lock g(FCacheLock); FCacheKind = v; }
uint32_t TCorvaConfigItem::GetCacheMaxSizeMB() { std::shared_lock g(FCacheLock); return FCacheMaxSizeMB; }

void TCorvaConfigItem::SetCacheMaxSizeMB(uint32_t v) {
    if (v > kCacheMaxSizeLimitMB)
        throw ERangeError(Format("キャッシュサイズが範囲を超えています。( %u )", v));
    std::unique_lock g(FCacheLock);
    FCacheMaxSizeMB = v;
}

bool TCorvaConfigItem::GetDontCheckNetwork() { std::lock_guard g(FNetworkLock); return FDontCheckNetwork; }
void TCorvaConfigItem::SetDontCheckNetwork(bool v) { std::lock_guard g(FNetworkLock); FDontCheckNetwork = v; }

void TCorvaConfigItem::SaveToRegistry() {
    std::lock_guard g(FSaveLoadLock);
    TRegistry reg(FRegistryFile);
    if (!reg.OpenKey(FRegistryKey, true))
        throw ERegistryException(Format("Failed to create key %s", FRegistryKey.c_str()));
    SaveValues(reg);
    reg.CloseKey();
}

void TCorvaConfigItem::LoadFromRegistry() {
    std::lock_guard g(FSaveLoadLock);
    try {
        TRegistry reg(FRegistryFile);
        if (!reg.OpenKeyReadOnly(FRegistryKey)) return;  // first run: defaults stay
        LoadValues(reg);
    } catch (const ERegistryException& e) {
        // a damaged store or a value of another type: the user sees this error now, and the
        // next start begins afresh while the old file is kept for inspection
        std::string aside = KeepRegistryFileAside(FRegistryFile);
        std::string msg = aside.empty() ? e.Message() : Format("%s; it has been kept as %s", e.Message().c_str(), aside.c_str());
        if (dynamic_cast<const ERegistryDamagedError*>(&e)) throw ERegistryDamagedError(msg);
        throw ERegistryException(msg);
    }
}

void TCorvaConfigItem::SaveValues(TRegistry& reg) {
    auto byte = [&](const char* name, uint8_t v) { reg.WriteBinaryData(name, &v, 1); };
    byte("ImageTypes", GetImageTypes());
    byte("SortType", GetSortType());
    reg.WriteBool("SortUp", GetSortUp());
    reg.WriteInteger("CatalogSize", GetCatalogSize());
    byte("ThumbnailSize", GetThumbnailSize());
    uint16_t info = GetInfoTypes();
    unsigned char infoBytes[2] = {static_cast<unsigned char>(info & 0xFF), static_cast<unsigned char>(info >> 8)};
    reg.WriteBinaryData("InfoTypes", infoBytes, 2);
    byte("MakeCatalogOptions", GetMakeCatalogOptions());
    byte("CacheKind", GetCacheKind());
    reg.WriteInteger("CacheMaxSizeMB", static_cast<int32_t>(GetCacheMaxSizeMB()));
    reg.WriteBool("DontCheckNetwork", GetDontCheckNetwork());
}

void TCorvaConfigItem::LoadValues(TRegistry& reg) {
    // binary values count only when exactly the expected number of bytes was read
    auto byte = [&](const char* name, auto setter) {
        if (!reg.ValueExists(name)) return;
        unsigned char b = 0;
        if (reg.ReadBinaryData(name, &b, 1) == 1) (this->*setter)(b);
    };
    byte("ImageTypes", &TCorvaConfigItem::SetImageTypes);
    byte("SortType", &TCorvaConfigItem::SetSortType);
    if (reg.ValueExists("SortUp")) SetSortUp(reg.ReadBool("SortUp"));
    if (reg.ValueExists("CatalogSize")) {
        int32_t v = reg.ReadInteger("CatalogSize");
        if (v >= 0) SetCatalogSize(v);
    }
    if (reg.ValueExists("ThumbnailSize")) {
        unsigned char b = 0;
        if (reg.ReadBinaryData("ThumbnailSize", &b, 1) == 1) SetThumbnailSize(b);
    } else {
        try {
            // older stores kept only an index into the size table (or a pixel value)
            static const int kSizes[5] = {80, 120, 160, 200, 240};
            int32_t cs = GetCatalogSize();
            int32_t px = cs >= 0 && cs <= 4 ? kSizes[cs] : cs;
            if (px >= 80 && px <= 240) SetThumbnailSize(static_cast<uint8_t>(px));
        } catch (...) {
        }
    }
    if (reg.ValueExists("InfoTypes")) {
        unsigned char b[2] = {};
        if (reg.ReadBinaryData("InfoTypes", b, 2) == 2) SetInfoTypes(static_cast<uint16_t>(b[0] | (b[1] << 8)));
    }
    byte("MakeCatalogOptions", &TCorvaConfigItem::SetMakeCatalogOptions);
    byte("CacheKind", &TCorvaConfigItem::SetCacheKind);
    if (reg.ValueExists("CacheMaxSizeMB")) {
        int32_t v = reg.ReadInteger("CacheMaxSizeMB");
        if (v >= 0 && v <= static_cast<int32_t>(kCacheMaxSizeLimitMB)) SetCacheMaxSizeMB(static_cast<uint32_t>(v));
    }
    if (reg.ValueExists("DontCheckNetwork")) SetDontCheckNetwork(reg.ReadBool("DontCheckNetwork"));
}

// ---------------------------------------------------------------- TFolvaneConfigItem

TFolvaneConfigItem::TFolvaneConfigItem() : TCorvaConfigItem(TDeferSetup{}) { Setup(); }

void TFolvaneConfigItem::SetDefaults() {
    TCorvaConfigItem::SetDefaults();
    std::lock_guard g(FLock);
    FShortCutCreated = false;
    FSampleTagAdded = false;
    FWindowPlacement = TWindowPlacement{};
    FTargetPanelW = 320;
    FToolPanelW = 320;
    FTrayHeight = 0;
    FCatalogSize2 = 1;
    FLastViewDate = 0;
    FCursorMode = 0;
    FViewImageSize = 0;
    FAlwaysShowTitleRow2 = false;
    FInportViewerPath.clear();
    FInportBackupPath.clear();
    FNeedBgmLibrarySetup = true;
    FCloseAfterUpload = false;
    FOpenUrlInHome = true;
    FClearIdAfterUpload = false;
    FShowAddrBar = false;
    FShowMainMenu = false;
}

#define FV_LOCKED_PROPERTY(Type, Name)                                   \
    Type TFolvaneConfigItem::Get##Name() {                               \
        std::lock_guard g(FLock);                                        \
        return F##Name;                                                  \
    }                                                                    \
    void TFolvaneConfigItem::Set##Name(Type v) {                         \
        std::lock_guard g(FLock);                                        \
        F##Name = v;                                                     \
    }

FV_LOCKED_PROPERTY(bool, ShortCutCreated)
FV_LOCKED_PROPERTY(bool, SampleTagAdded)
FV_LOCKED_PROPERTY(int32_t, TargetPanelW)
FV_LOCKED_PROPERTY(int32_t, ToolPanelW)
FV_LOCKED_PROPERTY(int32_t, TrayHeight)
FV_LOCKED_PROPERTY(uint8_t, CatalogSize2)
FV_LOCKED_PROPERTY(double, LastViewDate)
FV_LOCKED_PROPERTY(uint8_t, CursorMode)
FV_LOCKED_PROPERTY(uint8_t, ViewImageSize)
FV_LOCKED_PROPERTY(bool, AlwaysShowTitleRow2)
FV_LOCKED_PROPERTY(bool, NeedBgmLibrarySetup)
FV_LOCKED_PROPERTY(bool, CloseAfterUpload)
FV_LOCKED_PROPERTY(bool, OpenUrlInHome)
FV_LOCKED_PROPERTY(bool, ClearIdAfterUpload)
FV_LOCKED_PROPERTY(bool, ShowAddrBar)
FV_LOCKED_PROPERTY(bool, ShowMainMenu)
#undef FV_LOCKED_PROPERTY

TWindowPlacement TFolvaneConfigItem::GetWindowPlacement() {
    std::lock_guard g(FLock);
    return FWindowPlacement;
}
void TFolvaneConfigItem::SetWindowPlacement(const TWindowPlacement& v) {
    std::lock_guard g(FLock);
    FWindowPlacement = v;
}
void TFolvaneConfigItem::GetInportViewerPaths(std::vector<std::string>& out) {
    std::lock_guard g(FLock);
    out = FInportViewerPath;
}
void TFolvaneConfigItem::SetInportViewerPaths(const std::vector<std::string>& v) {
    std::lock_guard g(FLock);
    FInportViewerPath = v;
}
void TFolvaneConfigItem::GetInportBackupPaths(std::vector<std::string>& out) {
    std::lock_guard g(FLock);
    out = FInportBackupPath;
}
void TFolvaneConfigItem::SetInportBackupPaths(const std::vector<std::string>& v) {
    std::lock_guard g(FLock);
    FInportBackupPath = v;
}

namespace {
void SavePathList(TRegistry& reg, const std::string& key, const std::vector<std::string>& list) {
    if (!reg.OpenKey(key, true)) throw ERegistryException(Format("Failed to create key %s", key.c_str()));
    for (const auto& n : reg.GetValueNames()) reg.DeleteValue(n);
    for (size_t i = 0; i < list.size(); ++i) reg.WriteString(Format("Data_%.2d", static_cast<int>(i)), list[i]);
}

void LoadPathList(TRegistry& reg, const std::string& key, std::vector<std::string>& list) {
    list.clear();
    if (!reg.OpenKeyReadOnly(key)) return;
    for (const auto& n : reg.GetValueNames()) list.push_back(reg.ReadString(n));
}
}  // namespace

void TFolvaneConfigItem::SaveValues(TRegistry& reg) {
    TCorvaConfigItem::SaveValues(reg);
    std::vector<std::string> viewers, backups;
    {
        std::lock_guard g(FLock);
        reg.WriteBool("ShortCutCreated", FShortCutCreated);
        reg.WriteBool("SampleTagAdded", FSampleTagAdded);
        unsigned char wp[kWindowPlacementSize];
        EncodeWindowPlacement(FWindowPlacement, wp);
        reg.WriteBinaryData("WindowPlacement", wp, kWindowPlacementSize);
        reg.WriteInteger("TargetPanelW", FTargetPanelW);
        reg.WriteInteger("ToolPanelW", FToolPanelW);
        reg.WriteInteger("TrayHeight", FTrayHeight);
        reg.WriteBinaryData("CatalogSize2", &FCatalogSize2, 1);
        reg.WriteFloat("LastViewDate", FLastViewDate);
        reg.WriteBinaryData("CursorMode", &FCursorMode, 1);
        reg.WriteBinaryData("ViewImageSize", &FViewImageSize, 1);
        reg.WriteBool("AlwaysShowTitleRow2", FAlwaysShowTitleRow2);
        reg.WriteBool("NeedBgmLibrarySetup", FNeedBgmLibrarySetup);
        reg.WriteBool("CloseAfterUpload", FCloseAfterUpload);
        reg.WriteBool("OpenUrlInHome", FOpenUrlInHome);
        reg.WriteBool("ClearIdAfterUpload", FClearIdAfterUpload);
        reg.WriteBool("ShowAddrBar", FShowAddrBar);
        reg.WriteBool("ShowMainMenu", FShowMainMenu);
        viewers = FInportViewerPath;
        backups = FInportBackupPath;
    }
    SavePathList(reg, GetRegistryKey() + "\\InportViewerPath", viewers);
    SavePathList(reg, GetRegistryKey() + "\\InportBackupPath", backups);
}

void TFolvaneConfigItem::LoadValues(TRegistry& reg) {
    TCorvaConfigItem::LoadValues(reg);
    std::vector<std::string> viewers, backups;
    {
        std::lock_guard g(FLock);
        auto boolean = [&](const char* name, bool& field) {
            if (reg.ValueExists(name)) field = reg.ReadBool(name);
        };
        auto integer = [&](const char* name, int32_t& field) {
            if (reg.ValueExists(name)) field = reg.ReadInteger(name);
        };
        auto byte = [&](const char* name, uint8_t& field) {
            if (!reg.ValueExists(name)) return;
            unsigned char b = 0;
            if (reg.ReadBinaryData(name, &b, 1) == 1) field = b;
        };
        boolean("ShortCutCreated", FShortCutCreated);
        boolean("SampleTagAdded", FSampleTagAdded);
        if (reg.ValueExists("WindowPlacement")) {
            unsigned char wp[kWindowPlacementSize] = {};
            int n = reg.ReadBinaryData("WindowPlacement", wp, kWindowPlacementSize);
            FWindowPlacement = DecodeWindowPlacement(wp, n);
        }
        integer("TargetPanelW", FTargetPanelW);
        integer("ToolPanelW", FToolPanelW);
        integer("TrayHeight", FTrayHeight);
        byte("CatalogSize2", FCatalogSize2);
        if (reg.ValueExists("LastViewDate")) FLastViewDate = reg.ReadFloat("LastViewDate");
        byte("CursorMode", FCursorMode);
        byte("ViewImageSize", FViewImageSize);
        boolean("AlwaysShowTitleRow2", FAlwaysShowTitleRow2);
        boolean("NeedBgmLibrarySetup", FNeedBgmLibrarySetup);
        boolean("CloseAfterUpload", FCloseAfterUpload);
        boolean("OpenUrlInHome", FOpenUrlInHome);
        boolean("ClearIdAfterUpload", FClearIdAfterUpload);
        boolean("ShowAddrBar", FShowAddrBar);
        boolean("ShowMainMenu", FShowMainMenu);
    }
    LoadPathList(reg, GetRegistryKey() + "\\InportViewerPath", viewers);
    LoadPathList(reg, GetRegistryKey() + "\\InportBackupPath", backups);
    std::lock_guard g(FLock);
    FInportViewerPath = std::move(viewers);
    FInportBackupPath = std::move(backups);
}

std::string TFolvaneConfigItem::GetProductRegistryKey() const {
    return "SOFTWARE\\" + GetCompanyKey() + "\\" + GetProductKey();
}

bool TFolvaneConfigItem::IsVersionChanged() {
    try {
        TRegistry reg(GetRegistryFileName());
        if (!reg.OpenKeyReadOnly(GetProductRegistryKey())) return false;
        if (!reg.ValueExists("SuccessedVersion")) return false;
        std::string stored = reg.ReadString("SuccessedVersion");
        if (stored.empty()) return false;
        std::string running = RunningFileVersion();
        return UpperCaseAscii(stored) != UpperCaseAscii(running);  // "1.0.0.0", compared without regard to case
    } catch (...) {
        return false;
    }
}

void TFolvaneConfigItem::StoreSuccessedVersion() {
    try {
        TRegistry reg(GetRegistryFileName());
        if (!reg.OpenKey(GetProductRegistryKey(), true)) return;
        reg.WriteString("SuccessedVersion", RunningFileVersion());
        reg.CloseKey();
    } catch (...) {
    }
}

}  // namespace fv
