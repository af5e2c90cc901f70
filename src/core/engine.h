#pragma once
// The library engine: the process-wide owner of the configuration, the worker-thread master
// and the library objects, with its exception classes and message layouts. Start-up calls
// InitCorvaEngineLog, InitCorvaEngine, FinalCorvaEngine and FinalCorvaEngineLog in that order.
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

template <class E>
void RaiseEngineWrapped(const char* layout, const std::string& label, const std::exception& cause) {
    std::string text = EngineWrappedText(layout, label, cause);
    throw E(text);
}

}  // namespace fv
