#pragma once
// The grid's side of folders that update themselves: the folder the grid shows is handed to the
// library's live folders (which watch it and the registered folders), and when the shown folder -
// or a folder or calendar node inside it - reports that its items changed, the grid lists it
// again, at most every 250 ms and never on top of a listing still running. The disk work all
// happens on the live folders' worker; this object only reacts on the UI thread.
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "library/custom_folder.h"
#include "library/live_folders.h"

namespace fv {

class TFrameCatalogDG;

class TLiveView : public QObject {
    Q_OBJECT
public:
    explicit TLiveView(TFrameCatalogDG* grid, QObject* parent = nullptr);
    ~TLiveView() override;

    // Needs the running engine (its folder tree); watches from now on. Options for tests.
    void Start(const TLiveFolders::TOptions& options = TLiveFolders::TOptions());
    // Before the engine stops.
    void Stop();
    bool Running() const { return FLive != nullptr; }
    TLiveFolders* Live() const { return FLive.get(); }

    // the grid shows another folder, or lists it to another depth (its owner's folder-shown
    // notification calls this)
    void FolderShown(TCustomFolder* folder);
    // lists the grid again this many times (tests and figures)
    int Relists() const { return FRelists; }

private:
    void OnFolderEvent(TCustomFolder* folder, int code, intptr_t data);    // UI thread (relay)
    void OnCalendarEvent(TCustomFolder* folder, int code, intptr_t data);  // calendar watcher thread
    void Changed(TCustomFolder* folder);
    // the calendar nodes that changed since the last call, each once
    void CalendarChanged();
    void Relist();

    QPointer<TFrameCatalogDG> FGrid;
    std::unique_ptr<TLiveFolders> FLive;
    QTimer FTimer;
    qint64 FLastRelist = 0;
    int FRelists = 0;
    bool FSubscribed = false;
    // calendar nodes reported since the last CalendarChanged (one call is on its way while any)
    std::mutex FCalendarLock;
    std::unordered_set<TCustomFolder*> FCalendarNodes;
};

}  // namespace fv
