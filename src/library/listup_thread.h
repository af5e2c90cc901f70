#pragma once
// The item listing thread: gathers the catalog items of one target in the background (a disk
// folder, optionally with its subfolders, an album, or a calendar node with the days below it)
// and reports the list to its owner, normally on the user-interface thread. One thread lists
// one target once and ends; its owner ignores reports of threads it has abandoned.
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>

#include "core/threads.h"
#include "library/custom_folder.h"
#include "platform/exception.h"
#include "platform/file_ops.h"

namespace fv {

class TFolder;
class TAlbum;
class TCalendar;

FV_DECLARE_EXCEPTION(EListupItemsError, Exception);

// report stages
enum : uint8_t { lsStarted = 0, lsCompleted = 2, lsTerminated = 3, lsFailed = 4 };

class TListupItemsThreadEx;
// (context, thread, list, stage, new count): the list belongs to the thread and lives only as
// long as it does, so the callback copies what it needs during the call
using TListupReportProc = std::function<void(void* context, TListupItemsThreadEx* thread, TItemList& list,
                                             uint8_t stage, int newCount)>;

class TListupItemsThreadEx : public TCorvaThreadBase {
public:
    // depth code 3: every level below the target
    static constexpr int kUnlimitedLevels = 65535;

    TListupItemsThreadEx();
    ~TListupItemsThreadEx() override;
    std::string ClassName() const override { return "TListupItemsThreadEx"; }
    int GetThreadKind() const override { return tkListupItemsThread; }

    // settings, before Start
    void SetTarget(TCustomFolder* target) { FTarget = target; }
    TCustomFolder* GetTarget() const { return FTarget; }
    void SetDepthCode(uint8_t code) { FDepthCode = code; }
    uint8_t GetDepthCode() const { return FDepthCode; }
    void SetKinds(TKindSet kinds) { FKinds = kinds; }
    void SetOrderFlag(bool on) { FOrder = on; }
    void SetDropGone(bool on) { FDropGone = on; }
    void SetSynchronize(bool on) { FSynchronize = on; }
    void SetReportProc(TListupReportProc proc, void* context) {
        FReport = std::move(proc);
        FContext = context;
    }
    void SetUserValue(int index, uint32_t v) { FUser[index & 3] = v; }
    uint32_t GetUserValue(int index) const { return FUser[index & 3]; }

    // levels below the target for a depth code: 0, 1, 2, or unlimited for 3 (and above)
    static int LevelsOf(uint8_t depthCode) { return depthCode >= 3 ? kUnlimitedLevels : depthCode; }
    // folders the last disk walk skipped because it had been in them already (a link back up)
    int SkippedLoops() const { return FSkippedLoops; }

protected:
    void Execute() override;
    // listing by the target's class; albums and calendar nodes through their own entries
    virtual void ListTarget();
    void ListFolder(TFolder* folder);
    void ListAlbum(TAlbum* album);
    void ListCalendar(TCalendar* node);
    // gone items leave the list (albums and calendar nodes, with the drop-gone flag)
    void DropGone();
    void Report(uint8_t stage);

    TItemList FList;

private:
    TCustomFolder* FTarget = nullptr;
    uint8_t FDepthCode = 0;
    TKindSet FKinds = 0;
    bool FOrder = false;
    bool FDropGone = false;
    bool FSynchronize = false;
    TListupReportProc FReport;
    void* FContext = nullptr;
    uint32_t FUser[4] = {0, 0, 0, 0};
    size_t FLastReported = 0;
    int FSkippedLoops = 0;
};

}  // namespace fv
