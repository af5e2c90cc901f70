#include "core/engine.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "core/config.h"
#include "core/data_file.h"
#include "core/file_functions.h"
#include "core/log.h"
#include "core/threads.h"

namespace fv {

const char* const kEngineInitFailed = "%s の初期化に失敗しました。\r\n\r\n%s\r\n%s\r\n";
const char* const kEngineReleaseFailed = "%s の解放に失敗しました。\r\n\r\n%s\r\n%s\r\n";
const char* const kEngineLoadFailed = "%s のデータの読込に失敗しました。\r\n\r\n%s\r\n%s\r\n";
const char* const kEngineSaveFailed = "%s のデータの保存に失敗しました。\r\n\r\n%s\r\n%s\r\n";
const char* const kEngineSetupFailed = "%s のデータのセットアップに失敗しました。\r\n\r\n%s\r\n%s\r\n";

std::string EngineWrappedText(const char* layout, const std::string& label, const std::exception& cause) {
    std::string text = Format(layout, label.c_str(), ExceptionClassName(cause).c_str(), cause.what());
    WriteLog(text);  // every wrapped message reaches the log before it is raised
    return text;
}

void InitCorvaEngineLog() {
    try {
        std::string folder;
        {
            TFolvaneConfigItem config;  // only for its folder locations
            folder = ExcludeTrailingPathDelimiters(config.GetLogFolder());
        }
        if (!DirectoryExists(folder) && !ForceDirectories(folder))
            throw ECorvaEngineInitializeError(Format("ログフォルダの作成に失敗しました。( %s )", folder.c_str()));
        OpenCorvaLog(folder);
    } catch (const Exception& e) {
        throw ECorvaEngineStartLogError(Format("ログファイルの初期化中にエラーが発生しました。\r\n\r\n%s\r\n%s",
                                               e.ClassName(), e.Message().c_str()));
    }
}

void FinalCorvaEngineLog() {
    try {
        CloseCorvaLog();
    } catch (const Exception& e) {
        RaiseEngineWrapped<ECorvaEngineError>(kEngineReleaseFailed, "CorvaLogFiles", e);
    }
}

namespace {

std::recursive_mutex gEngineLock;  // held for the whole of each engine step
// An engine object owned by the steps (under gEngineLock) and read by any thread through
// CorvaConfig() and CorvaThreadMaster(): the published pointer is atomic, and it is withdrawn
// before the object is freed.
template <class T>
class TPublished {
public:
    TPublished& operator=(std::unique_ptr<T> p) {
        FOwned = std::move(p);
        FView.store(FOwned.get());
        return *this;
    }
    void reset() {
        FView.store(nullptr);
        FOwned.reset();
    }
    T* get() const { return FView.load(); }
    T* operator->() const { return FOwned.get(); }
    T& operator*() const { return *FOwned; }
    explicit operator bool() const { return FOwned != nullptr; }

private:
    std::unique_ptr<T> FOwned;
    std::atomic<T*> FView{nullptr};
};

TPublished<TFolvaneConfigItem> gConfig;
TPublished<TThreadMaster> gThreadMaster;
std::unique_ptr<TDataFolderLock> gDataLock;
std::unique_ptr<TCorvaEngineBody> gBody;
std::string gDataFolder;
bool gExists = false;
bool gSavesLibrary = true;
std::string gLoadProblem;

template <class E, class F>
void Step(const char* layout, F&& fn) {
    std::lock_guard g(gEngineLock);
    try {
        fn();
    } catch (const std::exception& e) {
        RaiseEngineWrapped<E>(layout, "CorvaEngine", e);
    }
}

void CreateStep() {
    Step<ECorvaEngineInitializeError>(kEngineInitFailed, [] {
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaConfigItem", [] {
            auto config = std::make_unique<TFolvaneConfigItem>();
            config->LoadFromRegistry();
            gConfig = std::move(config);
        });
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaDataFolder", [] {
            std::string folder = gConfig->GetDataFolder();
            if (!ForceDirectories(folder))
                RaiseEngineRefusal(
                    Format("データフォルダの作成に失敗しました。\r\n( %s )", IncludeTrailingPathDelimiter(folder).c_str()));
            // one process at a time works on the library: a second browser or fvb stops here,
            // before it has read anything it could later save over the first one's work
            auto lock = std::make_unique<TDataFolderLock>(folder);
            if (!lock->TryAcquire()) RaiseEngineRefusal(DataFolderInUseText(ExcludeTrailingPathDelimiters(folder)));
            gDataLock = std::move(lock);
            gDataFolder = ExcludeTrailingPathDelimiters(folder);
            // saves of processes that were killed left their temporary files behind
            RemoveSaveLeftovers(gDataFolder);
        });
        if (gBody) gBody->Create(*gConfig);
    });
}

void LoadStep() {
    if (!gBody) return;
    Step<ECorvaEngineLoadDataError>(kEngineLoadFailed, [] { gBody->Load(*gConfig); });
}

void StartStep() {
    Step<ECorvaEngineInitializeError>(kEngineInitFailed, [] {
        if (gBody) gBody->StartBeforeThreads();
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaThreadMaster",
                                                 [] { gThreadMaster = std::make_unique<TThreadMaster>(); });
        if (gBody) gBody->StartAfterThreads();
    });
}

void StopStep() {
    Step<ECorvaEngineError>(kEngineReleaseFailed, [] {
        // each part runs even when an earlier one failed; the last failure is the step's
        std::exception_ptr last;
        auto run = [&](auto&& fn) {
            try {
                fn();
            } catch (...) {
                last = std::current_exception();
            }
        };
        if (gBody) run([] { gBody->StopBeforeThreads(); });
        run([] {
            RunLabelled<ECorvaEngineError>(kEngineReleaseFailed, "CorvaThreadMaster", [] {
                if (gThreadMaster) {
                    gThreadMaster->Finish();
                    gThreadMaster.reset();
                }
            });
        });
        if (gBody) run([] { gBody->StopAfterThreads(); });
        if (last) std::rethrow_exception(last);
    });
}

void SaveStep() {
    Step<ECorvaEngineError>(kEngineSaveFailed, [] {
        RunLabelled<ECorvaEngineError>(kEngineSaveFailed, "CorvaConfigItem", [] {
            if (gConfig) gConfig->SaveToRegistry();
        });
        // the library is saved only by the process that holds its data folder
        if (gBody && gConfig && gDataLock && gSavesLibrary) gBody->Save(*gConfig);
    });
}

void FreeStep() {
    std::lock_guard g(gEngineLock);
    std::exception_ptr last;
    if (gBody) {
        try {
            gBody->Free();
        } catch (...) {
            last = std::current_exception();
        }
    }
    gConfig.reset();
    gDataLock.reset();
    gDataFolder.clear();
    gLoadProblem.clear();
    gExists = false;
    if (last) std::rethrow_exception(last);
}

}  // namespace

void InitCorvaEngine() {
    {
        std::lock_guard g(gEngineLock);
        gExists = true;
    }
    try {
        CreateStep();
    } catch (...) {
        // a half-created engine is freed again: nothing of it is saved
        std::lock_guard g(gEngineLock);
        if (gBody) {
            try {
                gBody->Free();
            } catch (const std::exception& e) {
                WriteLogFailed("CorvaEngine.Free", e);
            }
        }
        gThreadMaster.reset();
        gConfig.reset();
        gDataLock.reset();
        gDataFolder.clear();
        gExists = false;
        throw;
    }
    try {
        LoadStep();
    } catch (const ECorvaEngineError& e) {
        // logged already; the library starts with what could be read, and the files that could
        // not be read are left as they are (the body does not save over them)
        std::lock_guard g(gEngineLock);
        gLoadProblem = Format(
            "ライブラリのデータを読み込めませんでした。読み込めたものだけで起動します。\r\n"
            "読み込めなかったファイルは上書きせずにそのまま残します。\r\n\r\nデータフォルダ: %s\r\n\r\n%s",
            gDataFolder.c_str(), e.Message().c_str());
    }
    try {
        StartStep();
    } catch (const ECorvaEngineError&) {
        // logged already; the program runs with what could be started
    }
    WriteLog(Format("CorvaEngine Started ( %s )", CorvaDataFolder().c_str()));
}

void FinalCorvaEngine() {
    WriteLog(Format("CorvaEngine Finishing ( %s )", CorvaDataFolder().c_str()));
    std::exception_ptr last;
    try {
        StopStep();
    } catch (...) {
        last = std::current_exception();
    }
    try {
        SaveStep();
    } catch (...) {
        last = std::current_exception();
    }
    try {
        FreeStep();
    } catch (...) {
        last = std::current_exception();
    }
    WriteLog(last ? "CorvaEngine Finished with errors" : "CorvaEngine Finished");
    if (last) std::rethrow_exception(last);
}

bool CorvaEngineExists() {
    std::lock_guard g(gEngineLock);
    return gExists;
}

TFolvaneConfigItem* CorvaConfig() { return gConfig.get(); }
std::string CorvaLibraryLoadProblem() {
    std::lock_guard g(gEngineLock);
    return gLoadProblem;
}
std::string CorvaDataFolder() {
    std::lock_guard g(gEngineLock);
    return gDataFolder;
}

void SetCorvaEngineBody(std::unique_ptr<TCorvaEngineBody> body) {
    std::lock_guard g(gEngineLock);
    if (gExists) throw ECorvaEngineError("The engine body cannot change while the engine exists");
    gBody = std::move(body);
}
TCorvaEngineBody* CorvaEngineBody() { return gBody.get(); }
void SetCorvaEngineSavesLibrary(bool on) {
    std::lock_guard g(gEngineLock);
    gSavesLibrary = on;
}

void RaiseEngineRefusal(const std::string& message) {
    std::string trimmed = message;
    while (!trimmed.empty() && (trimmed.back() == '\r' || trimmed.back() == '\n' || trimmed.back() == ' ')) trimmed.pop_back();
    WriteLog("ECorvaEngineError\r\n" + trimmed);
    throw ECorvaEngineError(message);
}
TThreadMaster* CorvaThreadMaster() { return gThreadMaster.get(); }

}  // namespace fv
