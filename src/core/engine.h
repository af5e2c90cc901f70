#pragma once
// The library engine: the process-wide owner of the configuration, the worker-thread master
// and the library objects, with its exception classes and message layouts. Start-up calls
// InitCorvaEngineLog, InitCorvaEngine, FinalCorvaEngine and FinalCorvaEngineLog in that order.
#include <memory>
#include <string>

#include "platform/exception.h"

namespace fv {

FV_DECLARE_EXCEPTION(ECorvaEngineError, Exception);
FV_DECLARE_EXCEPTION(ECorvaEngineInitializeError, ECorvaEngineError);
FV_DECLARE_EXCEPTION(ECorvaEngineLoadDataError, ECorvaEngineInitializeError);
FV_DECLARE_EXCEPTION(ECorvaEngineStartLogError, ECorvaEngineInitializeError);
FV_DECLARE_EXCEPTION(EAlbumUtilsError, Exception);

class TFolvaneConfigItem;
class TThreadMaster;
class TDataFolderLock;

// The library objects the engine owns (folder tree, albums, calendar, history, image cache and the
// update masters) live in the layers above this one. They take part in the engine's six steps
// through a body that the program installs before InitCorvaEngine; every call runs under the
// engine lock, inside the step's error wrapping. Without a body the engine holds the
// configuration, the data folder and the thread master only.
class TCorvaEngineBody {
public:
    virtual ~TCorvaEngineBody() = default;
    // after the configuration is loaded and the data folder is ours
    virtual void Create(TFolvaneConfigItem& config) = 0;
    virtual void Load(TFolvaneConfigItem& config) = 0;
    // around the creation of the thread master: update masters before, catalog updater after
    virtual void StartBeforeThreads() = 0;
    virtual void StartAfterThreads() = 0;
    // around the end of the thread master: update masters before, catalog updater after
    virtual void StopBeforeThreads() = 0;
    virtual void StopAfterThreads() = 0;
    // after the configuration is saved
    virtual void Save(TFolvaneConfigItem& config) = 0;
    // before the configuration is freed; must not raise for objects it never created
    virtual void Free() = 0;
};
// Installs the body (owned by the engine from now on; null removes it). Only while no engine exists.
void SetCorvaEngineBody(std::unique_ptr<TCorvaEngineBody> body);
// Whether the save step writes the library (default true). Commands that only look at the
// library turn it off, so that looking never rotates the ".bak" files.
void SetCorvaEngineSavesLibrary(bool on);
TCorvaEngineBody* CorvaEngineBody();

// message layouts of the engine's wrappers: label, class name and message of the cause
extern const char* const kEngineInitFailed;     // "%s の初期化に失敗しました。\r\n\r\n%s\r\n%s\r\n"
extern const char* const kEngineReleaseFailed;  // "%s の解放に失敗しました。..."
extern const char* const kEngineLoadFailed;     // "%s のデータの読込に失敗しました。..."
extern const char* const kEngineSaveFailed;     // "%s のデータの保存に失敗しました。..."
extern const char* const kEngineSetupFailed;    // "%s のデータのセットアップに失敗しました。..."

// Formats the layout with the label and the cause, writes it to the log and raises E with it.
template <class E>
[[noreturn]] void RaiseEngineWrapped(const char* layout, const std::string& label, const std::exception& cause);
std::string EngineWrappedText(const char* layout, const std::string& label, const std::exception& cause);

// Creates the log folder (with its parents) when missing and opens the log. Every failure
// becomes ECorvaEngineStartLogError "ログファイルの初期化中にエラーが発生しました。\r\n\r\n%s\r\n%s";
// a folder that cannot be created is reported inside it as ECorvaEngineInitializeError
// "ログフォルダの作成に失敗しました。( %s )".
void InitCorvaEngineLog();
// Writes the END banner and closes the log; a failure is the release error of "CorvaLogFiles".
void FinalCorvaEngineLog();

// Create step (failures propagate as ECorvaEngineInitializeError of "CorvaEngine"), then the
// load and start steps, which swallow the engine's own (already logged) errors.
void InitCorvaEngine();
// Stop, save (even when stop raised) and free (even when save raised); the last failure propagates.
void FinalCorvaEngine();
bool CorvaEngineExists();

// engine objects; null outside InitCorvaEngine .. FinalCorvaEngine
TFolvaneConfigItem* CorvaConfig();
TThreadMaster* CorvaThreadMaster();
// Empty when the library loaded fully; otherwise the text that tells the user which data could not
// be read and where the files are (those files are not saved over by this run).
std::string CorvaLibraryLoadProblem();
// the data folder of the running engine (without trailing delimiter), empty without engine
std::string CorvaDataFolder();

// Runs fn under the engine lock and wraps what it raises as the layout's error of the label (the
// message logged first). The steps are made of these; bodies use them for their own pieces.
template <class E, class F>
void RunLabelled(const char* layout, const char* label, F&& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        RaiseEngineWrapped<E>(layout, label, e);
    }
}
// An engine operation's own refusal: logs "ECorvaEngineError\r\n" and the trimmed message, raises.
[[noreturn]] void RaiseEngineRefusal(const std::string& message);

template <class E>
void RaiseEngineWrapped(const char* layout, const std::string& label, const std::exception& cause) {
    std::string text = EngineWrappedText(layout, label, cause);
    throw E(text);
}

}  // namespace fv
