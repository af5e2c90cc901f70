#include "library/catalog_updater.h"

#include <memory>
#include <mutex>
#include <vector>

#include "core/log.h"
#include "core/threads.h"
#include "platform/sync.h"
#include "platform/os_thread.h"
#include "platform/ui_dispatch.h"

namespace fv {

namespace {

struct TCatalogUpdateEvent {
    TCatalogItem* Item;
    uint8_t Type;
};

// One registration. Calls and retirement meet under CallLock, so that once unregistering has
// returned the handler is never entered again (a call already running is waited for).
struct TCatalogUpdateEventItem {
    const void* Owner = nullptr;
    std::string OwnerClassName;
    int HandlerId = 0;
    TCatalogUpdateHandler Handler;
    bool Synchronize = false;
    std::recursive_mutex CallLock;
    bool Alive = true;
};
using TRegistration = std::shared_ptr<TCatalogUpdateEventItem>;

class TCatalogUpdateMaster {
public:
    void Add(const TCatalogUpdateEvent& e) {
        std::lock_guard g(FLock);
        FEvents.push_back(e);
    }
    void TakeAll(std::vector<TCatalogUpdateEvent>& out) {
        std::lock_guard g(FLock);
        out.insert(out.end(), FEvents.begin(), FEvents.end());
        FEvents.clear();
    }

private:
    std::mutex FLock;
    std::vector<TCatalogUpdateEvent> FEvents;
};

class TCatalogUpdateWatcher : public TThreadObject {
public:
    explicit TCatalogUpdateWatcher(TCatalogUpdateMaster& queue) : FQueue(queue), FWake(CreateUnnamedEvent(true, false)) {}
    ~TCatalogUpdateWatcher() override {
        Terminate();
        FWake->SetEvent();
        WaitFor();
    }
    std::string ClassName() const override { return "TCatalogUpdateWatcher"; }

    void Register(TRegistration reg) {
        std::lock_guard g(FLock);
        FHandlers.push_back(std::move(reg));
    }
    // moves the registrations to the retired list; the caller retires them (outside the global lock)
    std::vector<TRegistration> Unregister(const void* owner, int handlerId) {
        std::vector<TRegistration> retired;
        {
            std::lock_guard g(FLock);
            for (auto it = FHandlers.begin(); it != FHandlers.end();) {
                if ((*it)->Owner == owner && (*it)->HandlerId == handlerId) {
                    retired.push_back(*it);
                    FRetired.push_back(*it);
                    it = FHandlers.erase(it);
                } else {
                    ++it;
                }
            }
        }
        return retired;
    }
    void Wake() { FWake->SetEvent(); }

protected:
    void Execute() override {
        SetCurrentThreadName(ClassName());
        std::vector<TCatalogUpdateEvent> incoming;
        while (!Terminated()) {
            FWake->WaitFor(100);
            FWake->ResetEvent();
            if (Terminated()) break;
            FQueue.TakeAll(incoming);
            if (incoming.empty()) continue;
            std::vector<TRegistration> handlers;
            {
                std::lock_guard g(FLock);
                handlers = FHandlers;
            }
            std::vector<bool> failed(handlers.size(), false);
            for (const auto& ev : incoming) {
                for (size_t k = handlers.size(); k-- > 0;) {
                    if (Terminated()) break;
                    if (failed[k]) continue;
                    if (!Deliver(handlers[k], ev)) failed[k] = true;
                }
                if (Terminated()) break;
            }
            incoming.clear();
        }
    }

private:
    bool Deliver(const TRegistration& reg, const TCatalogUpdateEvent& ev) {
        auto call = [reg, ev] {
            std::lock_guard c(reg->CallLock);
            if (reg->Alive) reg->Handler(ev.Item, ev.Type);
        };
        try {
            if (reg->Synchronize)
                UiDispatcher().RunOnUiThread(call, true);
            else
                call();
            return true;
        } catch (const std::exception& e) {
            const std::string text = Format("%s.DoEvent でエラーが発生しました。\r\n\r\n\tEventOwner\t:%s\r\n\tEventType\t:%d",
                                            ClassName().c_str(), reg->OwnerClassName.c_str(), ev.Type);
            const ECatalogUpdaterError err(
                Format("%s\r\n\r\n%s\r\n%s\r\n", text.c_str(), ExceptionClassName(e).c_str(), e.what()));
            WriteLogText(ClassName(), err.Message());
            return false;
        } catch (...) {
            return false;
        }
    }

    TCatalogUpdateMaster& FQueue;
    TEventHandle FWake;
    std::mutex FLock;
    std::vector<TRegistration> FHandlers;
    std::vector<TRegistration> FRetired;  // kept until the watcher goes
};

// the updater's global lock; recursive because a synchronised handler running on the UI
// thread while FinalizeCatalogUpdater pumps may raise events of its own
std::recursive_mutex& UpdaterLock() {
    static std::recursive_mutex lock;
    return lock;
}
std::unique_ptr<TCatalogUpdateMaster> gQueue;
std::unique_ptr<TCatalogUpdateWatcher> gWatcher;

[[noreturn]] void Wrap(const char* function, const std::exception& e) {
    throw ECatalogUpdaterError(Format("%s\r\n\r\n%s\r\n%s\r\n", function, ExceptionClassName(e).c_str(), e.what()));
}

}  // namespace

void InitializeCatalogUpdater() {
    try {
        std::lock_guard g(UpdaterLock());
        if (gWatcher) return;
        gQueue = std::make_unique<TCatalogUpdateMaster>();
        gWatcher = std::make_unique<TCatalogUpdateWatcher>(*gQueue);
        gWatcher->Start();
    } catch (const std::exception& e) {
        Wrap("InitializeCatalogUpdater", e);
    }
}

void FinalizeCatalogUpdater() {
    try {
        std::unique_ptr<TCatalogUpdateWatcher> watcher;
        std::unique_ptr<TCatalogUpdateMaster> queue;
        {
            std::lock_guard g(UpdaterLock());
            watcher = std::move(gWatcher);
            queue = std::move(gQueue);
        }
        if (watcher) {
            watcher->Terminate();
            watcher->Wake();
            watcher->WaitFor();  // pumps pending UI calls when on the UI thread
        }
    } catch (const std::exception& e) {
        Wrap("FinalizeCatalogUpdater", e);
    }
}

bool CatalogUpdaterRunning() {
    std::lock_guard g(UpdaterLock());
    return gWatcher != nullptr;
}

void RegisterCatalogUpdateEvent(const void* owner, const std::string& ownerClassName, bool synchronize,
                                TCatalogUpdateHandler handler, int handlerId) {
    try {
        if (!owner) throw ECatalogUpdaterError("AOwner = nil");
        if (!handler) throw ECatalogUpdaterError("AEvent = nil");
        std::lock_guard g(UpdaterLock());
        if (!gWatcher) throw ECatalogUpdaterError("CatalogUpdateWatcher が初期化されていません。");
        auto reg = std::make_shared<TCatalogUpdateEventItem>();
        reg->Owner = owner;
        reg->OwnerClassName = ownerClassName;
        reg->HandlerId = handlerId;
        reg->Handler = std::move(handler);
        reg->Synchronize = synchronize;
        gWatcher->Register(std::move(reg));
    } catch (const std::exception& e) {
        Wrap("RegisterCatalogUpdateEvent", e);
    }
}

void UnRegisterCatalogUpdateEvent(const void* owner, int handlerId) {
    try {
        if (!owner) throw ECatalogUpdaterError("AOwner = nil");
        std::vector<TRegistration> retired;
        {
            std::lock_guard g(UpdaterLock());
            if (!gWatcher) throw ECatalogUpdaterError("CatalogUpdateWatcher が初期化されていません。");
            retired = gWatcher->Unregister(owner, handlerId);
        }
        // a call running now is waited for; later ones see the registration retired
        for (auto& r : retired) {
            std::lock_guard c(r->CallLock);
            r->Alive = false;
        }
    } catch (const std::exception& e) {
        Wrap("UnRegisterCatalogUpdateEvent", e);
    }
}

void RaiseCatalogUpdateEvent(TCatalogItem* item, uint8_t eventType) {
    try {
        if (!item) return;
        std::lock_guard g(UpdaterLock());
        if (!gQueue) return;
        gQueue->Add(TCatalogUpdateEvent{item, eventType});
    } catch (const std::exception& e) {
        Wrap("RaiseCatalogUpdateEvent", e);
    }
}

}  // namespace fv
