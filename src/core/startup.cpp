#include "core/startup.h"

#include <cstdio>

#include "core/config.h"
#include "core/engine.h"
#include "core/log.h"
#include "platform/instance.h"

namespace fv {

bool IsBootError(const std::exception& e) {
    return dynamic_cast<const ECorvaEngineInitializeError*>(&e) != nullptr ||
           dynamic_cast<const EFolvaneApiParamsInitialzeError*>(&e) != nullptr;
}

bool ForwardToRunningInstance(const std::vector<std::string>& params) {
    std::string socket = InstanceSocketPath(kInstanceMutexName);
    std::string text = BuildForwardText(params);
    uint32_t answer = 0;
    try {
        // the receiver restores and raises its window on every message; the buffer goes only with text
        std::vector<char> buffer;
        if (!text.empty()) buffer = MakeCopyDataBuffer(text);
        return SendToRunningInstance(socket, !text.empty(), buffer, answer) == TSendResult::Sent;
    } catch (const std::exception& e) {
        std::string msg = Format("%s でエラーが発生しました。\r\n\r\n%s\r\n%s\r\n", "CopyDataToHWnd",
                                 ExceptionClassName(e).c_str(), e.what());
        WriteLog(msg);
        throw ECopyDataError(msg);
    }
}

TStartupHooks DefaultStartupHooks(const std::vector<std::string>& params) {
    TStartupHooks h;
    h.InitLog = [] { InitCorvaEngineLog(); };
    h.FinalLog = [] { FinalCorvaEngineLog(); };
    // until the parameter store exists, the lines carry the parameters as they came
    std::string raw = BuildForwardText(params);
    h.LogStartParams = [raw](const std::string& label) { WriteLogText(label, raw); };
    h.InitEngine = [] { InitCorvaEngine(); };
    h.FinalEngine = [] { FinalCorvaEngine(); };
    return h;
}

std::vector<TStartupStage> BuildStartupStages(const TStartupHooks& h, const std::vector<std::string>& params) {
    std::vector<TStartupStage> s;
    auto call = [](const std::function<void()>& f) {
        if (f) f();
    };

    s.push_back({"CorvaEngineLog",
                 [h] {
                     if (h.InitLog) h.InitLog();
                     return TStageResult::Continue;
                 },
                 h.FinalLog});

    s.push_back({"StartParams",
                 [h, params] {
                     if (h.LogStartParams) h.LogStartParams("Initial");
                     if (h.InitStartParams) h.InitStartParams(params);
                     if (h.LogStartParams) h.LogStartParams("CmdLine");
                     return TStageResult::Continue;
                 },
                 nullptr});

    s.push_back({"CheckAppInfo",
                 [h] {
                     if (h.CheckAppInfo && !h.CheckAppInfo()) {
                         if (h.ShowBootError) h.ShowBootError(nullptr);
                         WriteLog("Exit. (CheckAppInfoEx Failed.)");
                         return TStageResult::StopNotCompleted;  // no session: no log-out owed
                     }
                     return TStageResult::Continue;
                 },
                 h.LogOut});

    s.push_back({"CheckNeedUpdate",
                 [h] {
                     if (h.LogStartParams) h.LogStartParams("AppInfo");
                     if (h.CheckNeedUpdate && h.CheckNeedUpdate()) {
                         WriteLog("Exit. (Start Update.)");
                         return TStageResult::StopAfter;
                     }
                     return TStageResult::Continue;
                 },
                 nullptr});

    s.push_back({"Application",
                 [h, call] {
                     call(h.InitApplication);
                     return TStageResult::Continue;
                 },
                 nullptr});

    s.push_back({"Splash",
                 [h, call] {
                     call(h.ShowSplash);
                     return TStageResult::Continue;
                 },
                 nullptr});

    s.push_back({"CorvaEngine",
                 [h, call] {
                     call(h.InitEngine);
                     return TStageResult::Continue;
                 },
                 h.FinalEngine});

    s.push_back({"LogSaver",
                 [h, call] {
                     call(h.SetWirelessRoot);
                     if (h.StartLogSaver) {
                         std::string folder;
                         if (TFolvaneConfigItem* c = CorvaConfig())
                             folder = c->GetLogFolder();
                         else
                             folder = TFolvaneConfigItem().GetLogFolder();
                         h.StartLogSaver(folder);
                     }
                     return TStageResult::Continue;
                 },
                 h.FinishLogSaver});

    s.push_back({"BackUploader",
                 [h, call] {
                     call(h.StartBackUploader);
                     return TStageResult::Continue;
                 },
                 h.AbortBackUploader});

    s.push_back({"MainWindow",
                 [h, call] {
                     call(h.RunMainWindow);
                     return TStageResult::Continue;
                 },
                 nullptr});
    return s;
}

int RunStartupStages(const std::vector<TStartupStage>& stages, const TStartupHooks& hooks) {
    std::vector<const TStartupStage*> owed;
    std::exception_ptr failure;
    try {
        for (const auto& stage : stages) {
            TStageResult r = stage.Run ? stage.Run() : TStageResult::Continue;
            if (r != TStageResult::StopNotCompleted && stage.Teardown) owed.push_back(&stage);
            if (r != TStageResult::Continue) break;
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // innermost first; a teardown that raises does not keep the outer ones from running
    for (auto it = owed.rbegin(); it != owed.rend(); ++it) {
        try {
            (*it)->Teardown();
        } catch (const std::exception& e) {
            WriteLogFailed((*it)->Name + ".Teardown", e);
            if (!failure) failure = std::current_exception();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (!failure) return 0;
    try {
        std::rethrow_exception(failure);
    } catch (const Exception& e) {
        if (!IsBootError(e)) throw;
        // also on the terminal, for a start from a shell or a script
        std::fprintf(stderr, "%s\n%s\n", e.ClassName(), e.Message().c_str());
        if (hooks.ShowBootError) hooks.ShowBootError(&e);
        return 1;
    }
}

int RunFolvaneBrowser(const std::vector<std::string>& params, const std::function<TStartupHooks()>& firstInstance) {
    TSingleInstanceLock mutex(kInstanceMutexName);
    switch (mutex.Acquire()) {
        case TSingleInstanceLock::irFailed:
            // nothing is started over a lock or a folder that is not ours; the user learns why
            std::fprintf(stderr, "FolvaneBrowser cannot start: %s\n", mutex.Error().c_str());
            return 1;
        case TSingleInstanceLock::irAlreadyExists: ForwardToRunningInstance(params); return 0;
        case TSingleInstanceLock::irCreated: break;
    }
    TStartupHooks hooks = firstInstance ? firstInstance() : DefaultStartupHooks(params);
    int rc = RunStartupStages(BuildStartupStages(hooks, params), hooks);
    mutex.Release();
    return rc;
}

}  // namespace fv
