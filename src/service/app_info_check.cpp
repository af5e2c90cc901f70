#include "service/app_info_check.h"

#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "core/log.h"
#include "core/startup.h"
#include "platform/ui_dispatch.h"
#include "service/start_params.h"
#include "service/update.h"

namespace fv {
namespace {

std::mutex gLinkLock;
TUploadLogLink gLink;

TUploadLogLink CurrentLink() {
    std::lock_guard<std::mutex> g(gLinkLock);
    return gLink;
}

}  // namespace

void SetUploadLogLink(const TUploadLogLink& link) {
    std::lock_guard<std::mutex> g(gLinkLock);
    gLink = link;
}

void SetBootError(TKSGetAppInfoItem& item, const std::string& type, const std::string& code, const std::string& reason) {
    std::string url = item.GetErrorPageUrl(type, code);
    FVApiParams().SetBootPage(fvmDispPage, url, item.HelpUrl());
    WriteLog("FVApi_CheckAppInfoEx.SetBootError( " + reason + " )");
}

bool FVApi_CheckAppInfoEx() {
    try {
        std::unique_ptr<TKSGetAppInfoItem> item;
        try {
            item = std::make_unique<TKSGetAppInfoItem>();
            TUploadLogLink link = CurrentLink();
            std::string fetchedFrom = FVApiParams().AppInfoUrl();
            if (item->LoadInfoData(false, link.LongSessionId ? link.LongSessionId() : std::string())) {
                if (item->Source() == TAppInfoSource::Internet) RecordServiceOrigin(fetchedFrom);
                item->EvaluateLocalWakeup();
                TAppInfoUpdateMessage um = item->UpdateMessage();
                SetUpdateInfo(item->InstallerUrl(), um.Src, um.Width, um.Height, um.VistaOnly, um.Buttons);
                SetUpdateInstallerDigest(item->InstallerSha256());
                TFVMode mode = FVApiParams().Mode();
                if (mode == fvmNotBoot) mode = ModeFromName(item->WakeupMode());
                auto on = [&](TAppInfoSwitch s) { return item->Switch(s) == uisEnable; };
                FVApiParams().SetParamsFromAppInfo(mode, item->BaseUrl(), item->WakeupBootUrl(), item->AppInfoUrl(),
                                                   item->HelpUrl(), item->RemotePhotoUrl(), 0, 0,
                                                   item->PictoriumCacheMax(), on(swTab), on(swFolvaneTray),
                                                   on(swDebugMenu), on(swDebugInfo));
                if (link.SetTarget) link.SetTarget(item->LogUrl(), item->LongSessionId());
                if (FVApiParams().Mode() == fvmNotBoot) SetBootError(*item, "exception", "", "fvm=fvmNotBoot");
            } else {
                SetBootError(*item, item->LastError(), "", "LoadInfoData Failed");
            }
        } catch (const std::exception& e) {
            WriteLogException("FVApi_CheckAppInfoEx:1", e);
            if (!item) item = std::make_unique<TKSGetAppInfoItem>();
            SetBootError(*item, "exception", "", ExceptionClassName(e));
        }
        return true;
    } catch (const std::exception& e) {
        WriteLogFailed("FVApi_CheckAppInfoEx:2", e);
        return false;
    }
}

void RunOffUiThread(const std::function<void()>& fn) {
    if (!UiDispatcher().IsUiThread()) {
        fn();
        return;
    }
    std::atomic<bool> done{false};
    std::exception_ptr error;
    std::thread worker([&] {
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
        done.store(true);
    });
    // the worker's dialogs and reports run here, between slices
    WaitPumping([&] { return done.load(); }, 20);
    worker.join();
    if (error) std::rethrow_exception(error);
}

void InstallAppInfoHooks(TStartupHooks& hooks, const std::vector<std::string>& params) {
    SetUpdateStartedWithParams(!params.empty());
    hooks.CheckAppInfo = [] {
        bool ok = false;
        RunOffUiThread([&] { ok = FVApi_CheckAppInfoEx(); });
        return ok;
    };
    hooks.CheckNeedUpdate = [] {
        bool start = false;
        RunOffUiThread([&] { start = CheckNeedUpdate(); });
        return start;
    };
}

}  // namespace fv
