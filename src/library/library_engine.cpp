#include "library/library_engine.h"

#include <memory>
#include <mutex>

#include "core/config.h"
#include "core/data_file.h"
#include "core/file_functions.h"
#include "core/log.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/ext_items.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"

namespace fv {

namespace {

// every item by its item number (none where a number has no item)
std::vector<TCatalogItem*> CatalogOf(const TItemIndex* index) {
    std::vector<TCatalogItem*> catalog;
    if (!index) return catalog;
    catalog.reserve(static_cast<size_t>(index->Count()));
    for (int32_t i = 0; i < index->Count(); ++i) catalog.push_back(index->Get(i));
    return catalog;
}

// runs every piece even when one fails; the last failure of the engine's family is raised at the end
class TKeepGoing {
public:
    template <class F>
    void operator()(F&& fn) {
        try {
            fn();
        } catch (const ECorvaEngineError&) {
            FLast = std::current_exception();  // logged by its wrapper
        }
    }
    void Finish() {
        if (FLast) std::rethrow_exception(FLast);
    }

private:
    std::exception_ptr FLast;
};

class TLibraryEngine : public TCorvaEngineBody {
public:
    void Create(TFolvaneConfigItem& config) override {
        // music files of the photo books are listed beside the photos
        SetExtraExtensions(".MP3");
        FDataFile = config.GetFolderDataFile();
        FAlbumFile = config.GetAlbumDataFile();
        FHistoryFile = config.GetHistoryDataFile();
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaFolders",
                                                 [&] { FFolders = std::make_unique<TFolderTreeList>(); });
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaAlbums",
                                                 [&] { FAlbums = std::make_unique<TAlbumList>(); });
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaCalendars",
                                                 [&] { FCalendar = AcquireCalendarRoot(); });
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaHistorys", [&] {
            FHistory = std::make_unique<THistoryList>();
            FHistory->SetCapacity(kCorvaHistoryCapacity);
        });
        if (FPart) FPart->Create(config, config.GetDataFolder());
    }

    void Load(TFolvaneConfigItem&) override {
        // nothing is loaded unless the folder data file exists: the others refer to its items
        if (!FileExists(FDataFile)) return;
        TKeepGoing keep;
        FFolderFileUnread = FAlbumFileUnread = FHistoryFileUnread = false;
        keep([&] {
            FFolderFileUnread = true;
            RunLabelled<ECorvaEngineLoadDataError>(kEngineLoadFailed, "CorvaFolders", [&] {
                LoadDataFileWithBackup(
                    FDataFile,
                    [&](TStream& s) {
                        if (!ReadDataFileHeader(s).MagicOk) throw ECorvaEngineError("データファイルのマーカが異常です。");
                        FFolders->LoadTree(s);
                    },
                    [&] { FFolders = std::make_unique<TFolderTreeList>(); });
            });
            FFolderFileUnread = false;
        });
        keep([&] {
            if (!FileExists(FAlbumFile)) return;
            FAlbumFileUnread = true;
            RunLabelled<ECorvaEngineLoadDataError>(kEngineLoadFailed, "CorvaAlbums", [&] {
                LoadDataFileWithBackup(
                    FAlbumFile,
                    [&](TStream& s) {
                        if (!ReadDataFileHeader(s).MagicOk)
                            throw ECorvaEngineError("CorvaAlbums:データファイルのマーカが異常です。");
                        FAlbums->LoadFromStream(s);
                    },
                    [&] { FAlbums = std::make_unique<TAlbumList>(); });
            });
            FAlbumFileUnread = false;
        });
        keep([&] {
            // the index turns the stored item numbers back into items
            std::unique_ptr<TItemIndex> index = FFolders->BuildItemIndex();
            if (!index || index->Count() == 0) return;
            RunLabelled<ECorvaEngineError>(kEngineSetupFailed, "CorvaAlbums", [&] { FAlbums->SetupFromIDList(*index); });
            RunLabelled<ECorvaEngineError>(kEngineSetupFailed, "CorvaCalendars", [&] { FCalendar->RegisterItems(*index); });
            if (FPart) FPart->Load(CatalogOf(index.get()));
        });
        keep([&] {
            if (!FileExists(FHistoryFile)) return;
            FHistoryFileUnread = true;
            RunLabelled<ECorvaEngineLoadDataError>(kEngineLoadFailed, "CorvaHistorys", [&] {
                LoadDataFileWithBackup(
                    FHistoryFile,
                    [&](TStream& s) {
                        if (!ReadDataFileHeader(s).MagicOk)
                            throw ECorvaEngineError("CorvaHistorys:データファイルのマーカが異常です。");
                        THistoryResolver resolver = THistoryList::LibraryResolver(FFolders.get(), FCalendar, FAlbums.get());
                        FHistory->LoadAndResolve(s, resolver);
                        // the calendar nodes the user kept open follow as a second history
                        if (s.Remaining() <= 0) return;
                        THistoryList kept;
                        kept.LoadAndResolve(s, resolver);
                        for (const THistoryItem& e : kept.Entries())
                            if (e.Folder && e.Folder->GetCategory() == fcCalendar) e.Folder->SetKeep(true);
                    },
                    [&] { FHistory->Clear(); });
            });
            FHistoryFileUnread = false;
        });
        keep.Finish();
    }

    // the tree's and the albums' relays exist with them; views subscribe through SetUpdateEvent
    // and SetAlbumUpdatedProc, the calendar's through its master
    void StartBeforeThreads() override {}
    void StartAfterThreads() override {
        if (FPart) FPart->StartAfterThreads();
    }
    void StopBeforeThreads() override {
        TKeepGoing keep;
        keep([&] {
            RunLabelled<ECorvaEngineError>(kEngineReleaseFailed, "CorvaFolderUpdateMaster", [&] {
                if (FFolders) FFolders->SetUpdateEvent(TFolderUpdateEvent{});
            });
        });
        keep([&] {
            RunLabelled<ECorvaEngineError>(kEngineReleaseFailed, "CorvaAlbumUpdateMaster", [&] {
                if (FAlbums) FAlbums->SetAlbumUpdatedProc(TFolderUpdateEvent{});
            });
        });
        keep([&] {
            RunLabelled<ECorvaEngineError>(kEngineReleaseFailed, "CorvaCalendarUpdateMaster", [&] {
                if (FCalendar) FCalendar->SetUpdateEvent(TFolderUpdateEvent{});
            });
        });
        keep.Finish();
    }
    void StopAfterThreads() override {
        if (FPart) FPart->StopAfterThreads();
    }

    void Save(TFolvaneConfigItem&) override {
        // A file that neither it nor its ".bak" could be read is not saved over: what this run
        // holds of it is partial at best. Without the folder data nothing is saved, as the
        // others store its item numbers.
        if (FFolderFileUnread) {
            WriteLog(Format("%s を読み込めなかったため、ライブラリを保存しません。", FDataFile.c_str()));
            return;
        }
        TKeepGoing keep;
        // the folders first: the albums store the item numbers this save assigns
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
            RunLabelled<ECorvaEngineError>(kEngineSaveFailed, "CorvaAlbums", [&] {
                if (!FAlbums || FAlbumFileUnread) return;
                // search results and work trays are not kept between runs; their roots are
                FAlbums->DeleteAlbumEx(FAlbums->GetRootAlbum(atFileInfoSearch), atUnknown);
                FAlbums->DeleteAlbumEx(FAlbums->GetRootAlbum(atTray), atUnknown);
                SaveDataFile(
                    FAlbumFile,
                    [&](TStream& s) {
                        FAlbums->SaveToStream(s);
                        return 0u;
                    },
                    TAlbumList::kBodySaveTimeAt);
            });
        });
        keep([&] {
            RunLabelled<ECorvaEngineError>(kEngineSaveFailed, "CorvaHistorys", [&] {
                if (!FHistory || FHistoryFileUnread) return;
                FHistory->RemoveFolder(nullptr);
                SaveDataFile(FHistoryFile, [&](TStream& s) {
                    FHistory->SaveToStream(s);
                    std::vector<TCalendar*> kept;
                    if (FCalendar) FCalendar->CollectKept(kept);
                    if (!kept.empty()) {
                        THistoryList second;
                        for (TCalendar* node : kept) second.Add(node);
                        second.SaveToStream(s);
                    }
                    return 0u;
                });
            });
        });
        keep([&] {
            if (!FPart || !FFolders) return;
            std::unique_ptr<TItemIndex> index = FFolders->BuildItemIndex();
            FPart->Save(CatalogOf(index.get()));
        });
        keep.Finish();
    }

    void Free() override {
        std::exception_ptr last;
        if (FPart) {
            try {
                FPart->Free();
            } catch (...) {
                last = std::current_exception();
            }
        }
        FHistory.reset();
        if (FCalendar) ReleaseCalendarRoot(FCalendar);
        FCalendar = nullptr;
        FAlbums.reset();
        FFolders.reset();
        if (last) std::rethrow_exception(last);
    }

    std::unique_ptr<TFolderTreeList> FFolders;
    // the data files whose load failed (main file and ".bak"): this run does not save over them
    bool FFolderFileUnread = false, FAlbumFileUnread = false, FHistoryFileUnread = false;
    std::unique_ptr<TAlbumList> FAlbums;
    TCalendarRoot* FCalendar = nullptr;
    std::unique_ptr<THistoryList> FHistory;
    std::unique_ptr<TEngineLibraryPart> FPart;

private:
    std::string FDataFile, FAlbumFile, FHistoryFile;
};

TLibraryEngine* Body() { return dynamic_cast<TLibraryEngine*>(CorvaEngineBody()); }

}  // namespace

void InstallLibraryEngine() {
    if (!Body()) SetCorvaEngineBody(std::make_unique<TLibraryEngine>());
}

void SetLibraryEnginePart(std::unique_ptr<TEngineLibraryPart> part) {
    InstallLibraryEngine();
    if (CorvaEngineExists()) throw ECorvaEngineError("The engine's parts cannot change while the engine exists");
    Body()->FPart = std::move(part);
}

TEngineLibraryPart* LibraryEnginePart() {
    TLibraryEngine* b = Body();
    return b ? b->FPart.get() : nullptr;
}

TFolderTreeList* CorvaFolders() {
    TLibraryEngine* b = Body();
    return b ? b->FFolders.get() : nullptr;
}

TAlbumList* CorvaAlbums() {
    TLibraryEngine* b = Body();
    return b ? b->FAlbums.get() : nullptr;
}

TCalendarRoot* CorvaCalendars() {
    TLibraryEngine* b = Body();
    return b ? b->FCalendar : nullptr;
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
