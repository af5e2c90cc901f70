#pragma once
// The shooting dates a listed folder does not know yet, read on a worker: a view that sorts or
// groups by shooting date reads them before it orders the photos, so that they are put in order
// once, and never while the user looks at them, one screenful of thumbnails at a time.
#include <atomic>
#include <string>
#include <vector>

#include "core/threads.h"

namespace fv {

class TCatalogItem;

// whether any photo of the list has a camera state not read yet
bool NeedsShootingDates(const std::vector<TCatalogItem*>& items);

class TShootingDateReader : public TCorvaThreadBase {
public:
    // the items must outlive the worker (the library keeps removed items until it ends)
    explicit TShootingDateReader(std::vector<TCatalogItem*> items);
    ~TShootingDateReader() override;
    std::string ClassName() const override { return "TShootingDateReader"; }
    int GetThreadKind() const override { return tkListupItemsThread; }
    // files read so far, and how many of them changed their photo's date
    int FilesRead() const { return FRead.load(); }
    int DatesChanged() const { return FChanged.load(); }

protected:
    void Execute() override;

private:
    std::vector<TCatalogItem*> FItems;
    std::atomic<int> FRead{0}, FChanged{0};
};

}  // namespace fv
