#include "platform/sync.h"

#include <chrono>
#include <map>

namespace fv {

void TEventObject::SetEvent() {
    {
        std::lock_guard<std::mutex> g(FLock);
        FSignalled = true;
    }
    if (FManualReset)
        FCond.notify_all();
    else
        FCond.notify_one();
}

void TEventObject::ResetEvent() {
    std::lock_guard<std::mutex> g(FLock);
    FSignalled = false;
}

bool TEventObject::IsSignalled() {
    std::lock_guard<std::mutex> g(FLock);
    return FSignalled;
}

bool TEventObject::WaitFor(int timeoutMs) {
    std::unique_lock<std::mutex> g(FLock);
    bool ok;
    if (timeoutMs < 0) {
        FCond.wait(g, [this] { return FSignalled; });
        ok = true;
    } else {
        ok = FCond.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return FSignalled; });
    }
    if (ok && !FManualReset) FSignalled = false;
    return ok;
}

namespace {
std::mutex gTableLock;
std::map<std::string, std::weak_ptr<TEventObject>>& Table() {
    static std::map<std::string, std::weak_ptr<TEventObject>> table;
    return table;
}
}  // namespace

TEventHandle CreateNamedEvent(const std::string& name, bool initialState) {
    if (name.empty()) return std::make_shared<TEventObject>(true, initialState);
    std::lock_guard<std::mutex> g(gTableLock);
    auto& slot = Table()[name];
    if (auto existing = slot.lock()) return existing;
    auto ev = std::make_shared<TEventObject>(true, initialState);
    slot = ev;
    // drop names whose events are gone so the table does not grow without bound
    for (auto it = Table().begin(); it != Table().end();) {
        if (it->second.expired())
            it = Table().erase(it);
        else
            ++it;
    }
    return ev;
}

TEventHandle OpenNamedEvent(const std::string& name) {
    if (name.empty()) return nullptr;
    std::lock_guard<std::mutex> g(gTableLock);
    auto it = Table().find(name);
    return it == Table().end() ? nullptr : it->second.lock();
}

TEventHandle CreateUnnamedEvent(bool manualReset, bool initialState) {
    return std::make_shared<TEventObject>(manualReset, initialState);
}

}  // namespace fv
