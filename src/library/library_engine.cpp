#include "library/library_engine.h"

#include <memory>
#include <mutex>

#include "core/config.h"
#include "core/data_file.h"
#include "core/file_functions.h"
#include "core/log.h"
#include "library/ext_items.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"

namespace fv {

namespace {

class TLibraryEngine : public TCorvaEngineBody {
public:
    void Create(TFolvaneConfigItem& config) override {
        // music files of the photo books are listed beside the photos
        SetExtraExtensions(".MP3");
        FDataFile = config.GetFolderDataFile();
        FHistoryFile = config.GetHistoryDataFile();
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaFolders",
                                                 [&] { FFolders = std::make_unique<TFolderTreeList>(); });
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaHistorys", [&] {
            FHistory = std::make_unique<THistoryList>();
            FHistory->SetCapacity(kCorvaHistoryCapacity);
        });
    }

    void Load(TFolvaneConfigItem&) override {
        // nothing is loaded unless the folder data file exists: albums and history refer to its items
        if (!FileExists(FDataFile)) return;
        std::exception_ptr last;
        auto keep = [&](auto&& fn) {
            try {
                fn();
            } catch (const ECorvaEngineError&) {
                last = std::current_exception();  // logged by its wrapper; the other files still load
            }
        };
        keep([&] {
            RunLabelled<ECorvaEngineLoadDataError>(kEngineLoadFailed, "CorvaFolders", [&] {
                LoadDataFileWithBackup(
                    FDataFile,
                    [&](TStream& s) {
                        if (!ReadDataFileHeader(s).MagicOk) throw ECorvaEngineError("データファイルのマーカが異常です。");
                        FFolders->LoadTree(s);
                    },
                    [&] { FFolders = std::make_unique<TFolderTreeList>(); });
            });
        });
        keep([&] {
            if (!FileExists(FHistoryFile)) return;
            RunLabelled<ECorvaEngineLoadDataError>(kEngineLoadFailed, "CorvaHistorys", [&] {
                LoadDataFileWithBackup(
                    FHistoryFile,
                    [&](TStream& s) {
                        if (!ReadDataFileHeader(s).MagicOk)
                            throw ECorvaEngineError("CorvaHistorys:データファイルのマーカが異常です。");
                        FHistory->LoadAndResolve(s, THistoryList::TreeResolver(FFolders.get()));
                    },
                    [&] { FHistory->Clear(); });
            });
        });
        if (last) std::rethrow_exception(last);
    }

    // the folder tree's relay exists with the tree; views subscribe through SetUpdateEvent
    void StartBeforeThreads() override {}
    void StartAfterThreads() override {}
    void StopBeforeThreads() override {
        RunLabelled<ECorvaEngineError>(kEngineReleaseFailed, "CorvaFolderUpdateMaster", [&] {
            if (FFolders) FFolders->SetUpdateEvent(TFolderUpdateEvent{});
        });
    }
    void StopAfterThreads() override {}

    void Save(TFolvaneConfigItem&) override {
        std::exception_ptr last;
        auto keep = [&](auto&& fn) {
            try {
                fn();
            } catch (const ECorvaEngineError&) {
                last = std::current_exception();
            }
        };
        // the folders first: the other files store the item numbers this save assigns
        keep([&] {
            RunLabelled<ECorvaEngineError>(kEngineSaveFailed, "CorvaFolders", [&] {
                if (!FFolders) return;
                FFolders->PurgeAll(true, false);
                SaveDataFile(FDataFile, [&](TStream& s) {
                    int32_t count = 0;
                    FFolders->SaveTree(s, count);
                    return static_cast<uint32_t>(count);
                });
            });
        });
        keep([&] {
            RunLabelled<ECorvaEngineError>(kEngineSaveFailed, "CorvaHistorys", [&] {
                if (!FHistory) return;
                FHistory->RemoveFolder(nullptr);
                SaveDataFile(FHistoryFile, [&](TStream& s) {
                    FHistory->SaveToStream(s);
                    return 0u;
                });
            });
        });
        if (last) std::rethrow_exception(last);
    }

    void Free() override {
        FHistory.reset();
        FFolders.reset();
    }

    std::unique_ptr<TFolderTreeList> FFolders;
    std::unique_ptr<THistoryList> FHistory;

private:
    std::string FDataFile, FHistoryFile;
};

TLibraryEngine* Body() { return dynamic_cast<TLibraryEngine*>(CorvaEngineBody()); }

}  // namespace

void InstallLibraryEngine() {
    if (!Body()) SetCorvaEngineBody(std::make_unique<TLibraryEngine>());
}

TFolderTreeList* CorvaFolders() {
    TLibraryEngine* b = Body();
    return b ? b->FFolders.get() : nullptr;
}

THistoryList* CorvaHistorys() {
    TLibraryEngine* b = Body();
    return b ? b->FHistory.get() : nullptr;
}

TFolder* GetFolderFromPath(const std::string& path) {
    std::string folder = ExcludeTrailingPathDelimiters(path);
    if (!DirectoryExists(folder)) RaiseEngineRefusal(Format("セットされたFolderPath( %s )は存在しません。", folder.c_str()));
    TFolderTreeList* tree = CorvaFolders();
    TFolder* f = tree ? tree->FindOrCreateFolderByPath(folder) : nullptr;
    if (!f) RaiseEngineRefusal(Format("%s のフォルダオブジェクトの取得に失敗しました。", folder.c_str()));
    return f;
}

}  // namespace fv
