#pragma once
// The user-interface dispatcher over the Qt event loop: calls from workers are queued to the
// application object's thread; ProcessPending runs the event loop once.
#include "platform/ui_dispatch.h"

namespace fv {

class TQtUiDispatcher : public TUiDispatcher {
public:
    bool IsUiThread() const override;
    void RunOnUiThread(std::function<void()> fn, bool wait) override;
    void ProcessPending() override;
};

// Installs one dispatcher for the process (needs the QApplication to exist).
void InstallQtUiDispatcher();

}  // namespace fv
