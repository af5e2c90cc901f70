#pragma once
// Filing the photos of disk folders in the calendar, or taking them out again, on a worker
// thread: registering a folder reads its files and those of every folder below it, reads the
// shooting dates that are not known yet and files each dated photo on its day; unregistering
// takes the folders' photos out of the calendar. The check states of the folders are set by the
// caller (at once, on the UI thread); this is the slow part that follows them.
#include <atomic>
#include <string>
#include <vector>

#include "core/threads.h"
#include "library/ext_items.h"

namespace fv {

class TFolder;

class TCalendarRegistrar : public TCorvaThreadBase {
public:
    // roots: the folders the user registered (true) or unregistered (false); they must outlive the worker
    TCalendarRegistrar(std::vector<TFolder*> roots, bool registered, TKindSet kinds = kDefaultKindSet);
    ~TCalendarRegistrar() override;
    std::string ClassName() const override { return "TCalendarRegistrar"; }
    // the job the file updater does for registered folders
    int GetThreadKind() const override { return tkFileUpdater; }

    bool Registering() const { return FRegistered; }
    const std::vector<TFolder*>& Roots() const { return FRoots; }
    // what the worker did so far: folders done, photos looked at, photos filed or taken out
    int FoldersSeen() const { return FFolders.load(); }
    int PhotosSeen() const { return FPhotos.load(); }
    int PhotosChanged() const { return FChanged.load(); }

protected:
    void Execute() override;

private:
    void CollectFolders(std::vector<TFolder*>& folders);
    int CountInCalendar(TFolder* folder) const;

    std::vector<TFolder*> FRoots;
    bool FRegistered;
    TKindSet FKinds;
    std::atomic<int> FFolders{0}, FPhotos{0}, FChanged{0};
};

}  // namespace fv
