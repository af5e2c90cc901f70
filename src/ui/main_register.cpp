// The main window's calendar registration: a folder registered in the calendar (or taken out) in
// the directory tree has its photos filed (or taken out) by a worker, never on the UI thread.
#include <QLabel>
#include <QPushButton>

#include "core/log.h"
#include "core/engine.h"
#include "core/threads.h"
#include "library/calendar_register.h"
#include "library/folder.h"
#include "ui/main_window.h"

namespace fv {

namespace {
constexpr int kRegistrationPollMs = 200;
}

void TFolvaneMain2::RegisterInCalendar(TCustomFolder* folder, bool registered) {
    auto* disk = dynamic_cast<TFolder*>(folder);
    if (!disk || FClosing || FClosed) return;
    FRegistrations.emplace_back(disk, registered);
    if (!FRegistrar) StartNextRegistration();
}

void TFolvaneMain2::StartNextRegistration() {
    if (FRegistrations.empty()) {
        FRegistrationTimer.stop();
        FPanelAbort->hide();
        return;
    }
    auto [folder, registered] = FRegistrations.front();
    FRegistrations.pop_front();
    FRegistrar = std::make_unique<TCalendarRegistrar>(std::vector<TFolder*>{folder}, registered);
    // the master shows its progress in the status bar and ends it with the other workers
    if (TThreadMaster* m = CorvaThreadMaster()) m->RegisterThread(FRegistrar.get());
    WriteLogText("TFolvaneMain2.RegisterInCalendar",
                 std::string(registered ? "Register ( " : "Unregister ( ") + folder->GetFullName() + " )");
    FRegistrar->Start();
    FPanelAbort->show();
    if (!FRegistrationTimer.isActive()) {
        FRegistrationTimer.setInterval(kRegistrationPollMs);
        disconnect(&FRegistrationTimer, nullptr, this, nullptr);
        connect(&FRegistrationTimer, &QTimer::timeout, this, &TFolvaneMain2::CheckRegistration);
        FRegistrationTimer.start();
    }
}

void TFolvaneMain2::CheckRegistration() {
    if (!FRegistrar || !FRegistrar->Finished()) return;
    WriteLogText("TFolvaneMain2.RegisterInCalendar",
                 std::string(FRegistrar->Terminated() ? "Aborted" : "Done") + " ( " +
                     std::to_string(FRegistrar->FoldersSeen()) + " folders, " + std::to_string(FRegistrar->PhotosSeen()) +
                     " photos, " + std::to_string(FRegistrar->PhotosChanged()) + " changed )");
    FRegistrar.reset();
    StartNextRegistration();
}

void TFolvaneMain2::AbortRegistration() {
    FRegistrations.clear();
    if (FRegistrar) FRegistrar->Terminate();
    else FPanelAbort->hide();
}

}  // namespace fv
