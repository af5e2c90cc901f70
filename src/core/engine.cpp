#include "core/engine.h"

#include <memory>
#include <mutex>

#include "core/config.h"
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
std::unique_ptr<TFolvaneConfigItem> gConfig;
std::unique_ptr<TThreadMaster> gThreadMaster;
bool gExists = false;

// runs one labelled piece of an engine step, wrapping whatever it raises in the step's layout
template <class E, class F>
void RunLabelled(const char* layout, const char* label, F&& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        RaiseEngineWrapped<E>(layout, label, e);
    }
}

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
            if (!ForceDirectories(folder)) {
                std::string text =
                    Format("データフォルダの作成に失敗しました。\r\n( %s )", IncludeTrailingPathDelimiter(folder).c_str());
                WriteLog("ECorvaEngineError\r\n" + text);
                throw ECorvaEngineError(text);
            }
        });
    });
}

void StartStep() {
    Step<ECorvaEngineInitializeError>(kEngineInitFailed, [] {
        RunLabelled<ECorvaEngineInitializeError>(kEngineInitFailed, "CorvaThreadMaster",
                                          [] { gThreadMaster = std::make_unique<TThreadMaster>(); });
    });
}

void StopStep() {
    Step<ECorvaEngineError>(kEngineReleaseFailed, [] {
        RunLabelled<ECorvaEngineError>(kEngineReleaseFailed, "CorvaThreadMaster", [] {
            if (gThreadMaster) {
                gThreadMaster->Finish();
                gThreadMaster.reset();
            }
        });
    });
}

void SaveStep() {
    Step<ECorvaEngineError>(kEngineSaveFailed, [] {
        RunLabelled<ECorvaEngineError>(kEngineSaveFailed, "CorvaConfigItem", [] {
            if (gConfig) gConfig->SaveToRegistry();
        });
    });
}

void FreeStep() {
    std::lock_guard g(gEngineLock);
    gConfig.reset();
    gExists = false;
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
        gThreadMaster.reset();
        gConfig.reset();
        gExists = false;
        throw;
    }
    // nothing to load yet beyond the settings; the start step follows
    try {
        StartStep();
    } catch (const ECorvaEngineError&) {
        // logged already; the program runs with what could be started
    }
}

void FinalCorvaEngine() {
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
    if (last) std::rethrow_exception(last);
}

bool CorvaEngineExists() {
    std::lock_guard g(gEngineLock);
    return gExists;
}

TFolvaneConfigItem* CorvaConfig() { return gConfig.get(); }
TThreadMaster* CorvaThreadMaster() { return gThreadMaster.get(); }

}  // namespace fv
