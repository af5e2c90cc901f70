// The main window's work on workers: a folder registered in the calendar (or taken out) in the
// directory tree has its photos filed (or taken out), and the shooting dates a date-ordered folder
// lacks are read, never on the UI thread.
#include <QLabel>
#include <QPushButton>

#include "core/log.h"
#include "core/engine.h"
#include "core/threads.h"
#include "library/calendar_register.h"
#include "library/catalog_list.h"
#include "library/catalog_list_dates.h"
#include "library/folder.h"
#include "ui/grid/catalog_view.h"
#include "ui/grid/live_view.h"
#include "ui/main/main_window.h"

namespace fv {

namespace {
constexpr int kRegistrationPollMs = 200;
constexpr int kDatePollMs = 100;

// the UI thread asks a worker now and then whether it has finished; a running poll is left as it is
void StartPoll(QTimer& timer, const char* name, int ms, TFolvaneMain2* owner, void (TFolvaneMain2::*check)()) {
    if (timer.isActive()) return;
    timer.setObjectName(name);
    timer.setInterval(ms);
    QObject::disconnect(&timer, nullptr, owner, nullptr);
    QObject::connect(&timer, &QTimer::timeout, owner, check);
    timer.start();
}
}  // namespace

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
    StartPoll(FRegistrationTimer, "CalendarRegistrationTimer", kRegistrationPollMs, this,
              &TFolvaneMain2::CheckRegistration);
}

void TFolvaneMain2::CheckRegistration() {
    if (!FRegistrar || !FRegistrar->Finished()) return;
    WriteLogText("TFolvaneMain2.RegisterInCalendar",
                 std::string(FRegistrar->Terminated() ? "Aborted" : "Done") + " ( " +
                     std::to_string(FRegistrar->FoldersSeen()) + " folders, " + std::to_string(FRegistrar->PhotosSeen()) +
                     " photos, " + std::to_string(FRegistrar->PhotosChanged()) + " changed )");
    FRegistrar.reset();
    // the folders' check states changed: the live folders watch the registered ones from now on
    if (FLive && FLive->Live()) FLive->Live()->Resync();
    StartNextRegistration();
}

void TFolvaneMain2::AbortRegistration() {
    FRegistrations.clear();
    if (FRegistrar) FRegistrar->Terminate();
    else FPanelAbort->hide();
}

void TFolvaneMain2::ReadShootingDatesIfNeeded() {
    TCustomFolder* folder = FCatalog->Folder();
    const bool byDate = FCatalog->SortType() == stShootingDate || FCatalog->IsGrouping();
    if (FDateReader && (FDateFolder != folder || !byDate)) FDateReader->Terminate();  // the poll lets it go
    if (FDateReader || !folder || !byDate || FCatalog->IsListing() || FClosing) return;
    if (!FCatalog->LoadedNeedsShootingDates()) return;
    FDateReader = std::make_unique<TShootingDateReader>(FCatalog->Loaded());
    FDateFolder = folder;
    if (TThreadMaster* m = CorvaThreadMaster()) m->RegisterThread(FDateReader.get());
    FDateReader->Start();
    StartPoll(FDateTimer, "ShootingDateTimer", kDatePollMs, this, &TFolvaneMain2::CheckShootingDates);
}

void TFolvaneMain2::CheckShootingDates() {
    if (!FDateReader) {
        FDateTimer.stop();
        return;
    }
    if (!FDateReader->Finished()) return;
    const bool done = !FDateReader->Terminated() && FDateFolder == FCatalog->Folder();
    const bool changed = FDateReader->DatesChanged() > 0;
    FDateReader.reset();
    FDateTimer.stop();
    if (done && changed) {
        // listed again, the catalog orders the photos by the dates now known, once
        FDatesRelisted = true;
        FCatalog->Refresh();
    } else if (!done) {
        ReadShootingDatesIfNeeded();  // another folder or order came meanwhile
    }
}

}  // namespace fv
