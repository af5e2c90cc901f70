#pragma once
// Named manual-reset events from one process-wide table: the same name gives the same event
// object for as long as someone holds it (as kernel objects lived while handles were open).
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace fv {

class TEventObject {
public:
    TEventObject(bool manualReset, bool initialState) : FManualReset(manualReset), FSignalled(initialState) {}
    void SetEvent();
    void ResetEvent();
    bool IsSignalled();
    // true when signalled within the time (ms, negative = forever); an auto-reset event is consumed
    bool WaitFor(int timeoutMs);

private:
    std::mutex FLock;
    std::condition_variable FCond;
    bool FManualReset;
    bool FSignalled;
};

using TEventHandle = std::shared_ptr<TEventObject>;

// Creates or opens the event of that name (manual reset; the initial state applies only when
// the event is new). An empty name gives a fresh unnamed event.
TEventHandle CreateNamedEvent(const std::string& name, bool initialState = false);
// Opens an existing named event; null when nobody holds one of that name.
TEventHandle OpenNamedEvent(const std::string& name);
TEventHandle CreateUnnamedEvent(bool manualReset, bool initialState);

}  // namespace fv
