#pragma once
// The configuration item: the user's settings and the program's folder locations, kept in
// memory behind their own locks and saved to / loaded from the per-user registry in one pass.
#include <array>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace fv {

class TRegistry;

FV_DECLARE_EXCEPTION(ECorvaConfigError, Exception);
// a setter refused a value outside its range
FV_DECLARE_EXCEPTION(ERangeError, ECorvaConfigError);

// The window-placement record: eleven 32-bit integers, 44 bytes in the registry.
struct TWindowPlacement {
    int32_t Length = 0, Flags = 0, ShowCmd = 0;
    int32_t MinX = 0, MinY = 0, MaxX = 0, MaxY = 0;
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool operator==(const TWindowPlacement&) const = default;
};
constexpr int kWindowPlacementSize = 44;
void EncodeWindowPlacement(const TWindowPlacement& p, unsigned char out[kWindowPlacementSize]);
// missing bytes (a shorter stored value) read as zero
TWindowPlacement DecodeWindowPlacement(const unsigned char* bytes, int count);

constexpr uint32_t kCacheMaxSizeLimitMB = 16000;

class TCorvaConfigItem {
public:
    TCorvaConfigItem();
    virtual ~TCorvaConfigItem() = default;
    TCorvaConfigItem(const TCorvaConfigItem&) = delete;
    TCorvaConfigItem& operator=(const TCorvaConfigItem&) = delete;

    virtual void SetDefaults();
    virtual std::string GetCompanyKey() const { return "Kestrona"; }
    virtual std::string GetProductKey() const { return "Corva"; }

    // Writes all settings (creating the key). Registry errors propagate.
    void SaveToRegistry();
    // Reads every setting present; a missing key keeps the defaults. A value of another type,
    // a binary value larger than expected or a damaged store raises ERegistryException; the store
    // file is then kept aside as ".bad" so that the next start is not refused again.
    void LoadFromRegistry();

    // locations, fixed at construction
    const std::string& GetRegistryKey() const { return FRegistryKey; }
    const std::string& GetDataFolder() const { return FDataFolder; }
    const std::string& GetLogFolder() const { return FLogFolder; }
    std::string GetFolderDataFile() const { return FDataFolder + "/CorvaData.tdb"; }
    std::string GetAlbumDataFile() const { return FDataFolder + "/CorvaGroup.tdb"; }
    std::string GetHistoryDataFile() const { return FDataFolder + "/CorvaHistory.tdb"; }
    // the store file the registry key lives in
    const std::string& GetRegistryFileName() const { return FRegistryFile; }

    uint8_t GetImageTypes();
    void SetImageTypes(uint8_t v);
    uint8_t GetSortType();
    void SetSortType(uint8_t v);
    bool GetSortUp();
    void SetSortUp(bool v);
    int32_t GetCatalogSize();
    void SetCatalogSize(int32_t v);
    uint8_t GetThumbnailSize();
    void SetThumbnailSize(uint8_t v);
    uint16_t GetInfoTypes();
    void SetInfoTypes(uint16_t v);
    uint8_t GetMakeCatalogOptions();
    void SetMakeCatalogOptions(uint8_t v);
    uint8_t GetCacheKind();
    void SetCacheKind(uint8_t v);
    uint32_t GetCacheMaxSizeMB();
    // above 16000: ERangeError "キャッシュサイズが範囲を超えています。( %d )", nothing changes
    void SetCacheMaxSizeMB(uint32_t v);
    bool GetDontCheckNetwork();
    void SetDontCheckNetwork(bool v);

protected:
    struct TDeferSetup {};
    explicit TCorvaConfigItem(TDeferSetup) {}
    // computes the locations from the (virtual) keys and assigns the defaults
    void Setup();
    virtual void SaveValues(TRegistry& reg);
    virtual void LoadValues(TRegistry& reg);

private:
    std::string FRegistryKey, FDataFolder, FLogFolder, FRegistryFile;
    std::mutex FSaveLoadLock;

    std::shared_mutex FImageTypesLock, FSortLock, FCatalogSizeLock, FThumbnailSizeLock, FInfoTypesLock,
        FCatalogOptionsLock, FCacheLock;
    std::mutex FNetworkLock;
    uint8_t FImageTypes = 0, FSortType = 0;
    bool FSortUp = false;
    int32_t FCatalogSize = 0;
    uint8_t FThumbnailSize = 0;
    uint16_t FInfoTypes = 0;
    uint8_t FMakeCatalogOptions = 0, FCacheKind = 0;
    uint32_t FCacheMaxSizeMB = 0;
    bool FDontCheckNetwork = false;
};

class TFolvaneConfigItem : public TCorvaConfigItem {
public:
    TFolvaneConfigItem();

    void SetDefaults() override;
    std::string GetCompanyKey() const override { return "Kestrona"; }
    std::string GetProductKey() const override { return "FolvaneBrowser"; }

    std::string GetMusicLibraryFile() const { return GetDataFolder() + "/BgmLib.tdb"; }

    bool GetShortCutCreated();
    void SetShortCutCreated(bool v);
    bool GetSampleTagAdded();
    void SetSampleTagAdded(bool v);
    TWindowPlacement GetWindowPlacement();
    void SetWindowPlacement(const TWindowPlacement& v);
    int32_t GetTargetPanelW();
    void SetTargetPanelW(int32_t v);
    int32_t GetToolPanelW();
    void SetToolPanelW(int32_t v);
    int32_t GetTrayHeight();
    void SetTrayHeight(int32_t v);
    uint8_t GetCatalogSize2();
    void SetCatalogSize2(uint8_t v);
    double GetLastViewDate();
    void SetLastViewDate(double v);
    uint8_t GetCursorMode();
    void SetCursorMode(uint8_t v);
    uint8_t GetViewImageSize();
    void SetViewImageSize(uint8_t v);
    bool GetAlwaysShowTitleRow2();
    void SetAlwaysShowTitleRow2(bool v);
    // replaces the list's contents with a copy of the stored list
    void GetInportViewerPaths(std::vector<std::string>& out);
    void SetInportViewerPaths(const std::vector<std::string>& v);
    void GetInportBackupPaths(std::vector<std::string>& out);
    void SetInportBackupPaths(const std::vector<std::string>& v);
    bool GetNeedBgmLibrarySetup();
    void SetNeedBgmLibrarySetup(bool v);
    bool GetCloseAfterUpload();
    void SetCloseAfterUpload(bool v);
    bool GetOpenUrlInHome();
    void SetOpenUrlInHome(bool v);
    bool GetClearIdAfterUpload();
    void SetClearIdAfterUpload(bool v);
    bool GetShowAddrBar();
    void SetShowAddrBar(bool v);
    bool GetShowMainMenu();
    void SetShowMainMenu(bool v);

    // "SuccessedVersion" of "SOFTWARE\Kestrona\FolvaneBrowser" against the running program's
    // FileVersion (case-insensitive); false when missing, empty, equal or unreadable. Never raises.
    bool IsVersionChanged();
    // writes the running FileVersion there, creating the key; errors are ignored
    void StoreSuccessedVersion();
    std::string GetProductRegistryKey() const;

protected:
    void SaveValues(TRegistry& reg) override;
    void LoadValues(TRegistry& reg) override;

private:
    std::mutex FLock;  // every setting of this class
    bool FShortCutCreated = false, FSampleTagAdded = false;
    TWindowPlacement FWindowPlacement;
    int32_t FTargetPanelW = 0, FToolPanelW = 0, FTrayHeight = 0;
    uint8_t FCatalogSize2 = 0;
    double FLastViewDate = 0;
    uint8_t FCursorMode = 0, FViewImageSize = 0;
    bool FAlwaysShowTitleRow2 = false;
    std::vector<std::string> FInportViewerPath, FInportBackupPath;
    bool FNeedBgmLibrarySetup = true, FCloseAfterUpload = false, FOpenUrlInHome = true, FClearIdAfterUpload = false,
         FShowAddrBar = false, FShowMainMenu = false;
};

// the running program's FileVersion
std::string RunningFileVersion();

}  // namespace fv
