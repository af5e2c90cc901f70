#include "ui/grid/live_view.h"

#include <QDateTime>
#include <QMetaObject>

#include "core/log.h"
#include "library/calendar.h"
#include "library/catalog_updater.h"
#include "library/library_engine.h"
#include "ui/grid/catalog_grid.h"
#include "ui/targets/frame_target_events.h"

namespace fv {

namespace {
constexpr int kRelistGapMs = 250;   // at most one listing of the grid this often
constexpr int kRetryMs = 50;        // a listing still running is waited for in these steps
}  // namespace

TLiveView::TLiveView(TFrameCatalogDG* grid, QObject* parent) : QObject(parent), FGrid(grid) {
    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, &TLiveView::Relist);
}

TLiveView::~TLiveView() { Stop(); }

void TLiveView::Start(const TLiveFolders::TOptions& options) {
    if (FLive || !CorvaFolders()) return;
    TLibraryEvents::Install();
    FLive = std::make_unique<TLiveFolders>(CorvaFolders(), options);
    // changed and vanished photos reach every view through the catalog updater
    FLive->SetItemEventProc([](TCatalogItem* item, uint8_t type) {
        if (CatalogUpdaterRunning()) RaiseCatalogUpdateEvent(item, type);
    });
    FLive->Start();
    TLibraryEvents::Folders().Add(this, "TLiveView", MakeFolderUpdateEvent<TLiveView, &TLiveView::OnFolderEvent>(this));
    TLibraryEvents::Calendar().Add(this, "TLiveView", MakeFolderUpdateEvent<TLiveView, &TLiveView::OnCalendarEvent>(this));
    FSubscribed = true;
    if (FGrid) FLive->SetShownFolder(FGrid->Folder(), FGrid->ListingDepth());
}

void TLiveView::Stop() {
    if (FSubscribed) {
        // after Remove returns neither master calls this object again
        TLibraryEvents::Folders().Remove(this, MakeFolderUpdateEvent<TLiveView, &TLiveView::OnFolderEvent>(this));
        TLibraryEvents::Calendar().Remove(this, MakeFolderUpdateEvent<TLiveView, &TLiveView::OnCalendarEvent>(this));
        FSubscribed = false;
    }
    FTimer.stop();
    if (FLive) {
        FLive->Stop();
        FLive.reset();
    }
}

void TLiveView::FolderShown(TCustomFolder* folder) {
    // the subfolders the grid lists with the folder are watched too
    if (FLive) FLive->SetShownFolder(folder, FGrid ? FGrid->ListingDepth() : 0);
}

void TLiveView::OnFolderEvent(TCustomFolder* folder, int code, intptr_t) {
    if (code == feItemsChanged) Changed(folder);
}

void TLiveView::OnCalendarEvent(TCustomFolder* folder, int code, intptr_t data) {
    if (code != feItemsChanged || !folder) return;
    // The calendar's watcher thread: the interface is only touched on its own thread. A burst of
    // events (every photo of the library filed after a load: one event a photo) becomes one call
    // there, with each node once. A photo that moved between days raises the event on the day it
    // went to, with the day it left as data: a grid showing the month it left lists again too.
    TCustomFolder* left = reinterpret_cast<TCalendar*>(data);
    bool first;
    {
        std::lock_guard<std::mutex> g(FCalendarLock);
        first = FCalendarNodes.empty();
        FCalendarNodes.insert(folder);
        if (left) FCalendarNodes.insert(left);
    }
    if (first) QMetaObject::invokeMethod(this, [this] { CalendarChanged(); }, Qt::QueuedConnection);
}

void TLiveView::CalendarChanged() {
    std::unordered_set<TCustomFolder*> nodes;
    {
        std::lock_guard<std::mutex> g(FCalendarLock);
        nodes.swap(FCalendarNodes);
    }
    for (TCustomFolder* node : nodes) {
        if (FTimer.isActive()) break;  // a listing is due anyway
        Changed(node);
    }
}

void TLiveView::Changed(TCustomFolder* folder) {
    if (!FGrid || !FLive || !folder) return;
    TCustomFolder* shown = FGrid->Folder();
    if (!shown || (folder != shown && !folder->IsChildOf(shown))) return;
    if (FTimer.isActive()) return;
    qint64 wait = FLastRelist + kRelistGapMs - QDateTime::currentMSecsSinceEpoch();
    FTimer.start(static_cast<int>(std::max<qint64>(0, wait)));
}

void TLiveView::Relist() {
    if (!FGrid || !FLive) return;
    if (FGrid->IsListing()) {
        // the running listing may have started before the change: list again after it
        FTimer.start(kRetryMs);
        return;
    }
    FLastRelist = QDateTime::currentMSecsSinceEpoch();
    ++FRelists;
    FGrid->Refresh();
}

}  // namespace fv
