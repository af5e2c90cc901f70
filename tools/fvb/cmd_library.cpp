// fvb scan / ls / find: the library of the browser's data folder from the command line.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

#include "../common/progress_line.h"
#include "commands.h"
#include "core/file_functions.h"
#include "core/log.h"
#include "core/threads.h"
#include "library/catalog_list.h"
#include "library/disk_rescan.h"
#include "library/ext_items.h"
#include "library/folder.h"
#include "library/item_ops.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"
#include "library/listup_thread.h"
#include "library_session.h"
#include "platform/datetime.h"
#include "platform/codepage.h"
#include "platform/file_ops.h"
#include "platform/file_sys.h"
#include "platform/os_thread.h"
#include "platform/terminal.h"

namespace fv::fvb {

namespace {

using Clock = std::chrono::steady_clock;

struct TScanSummary {
    int Folders = 0;
    std::map<std::string, int> ByKind;
    int Photos = 0, New = 0, Changed = 0, Missing = 0;
    std::vector<std::string> UnreadableFolders, UnreadablePhotos, BadNames, Loops, NotFolders;
    double Seconds = 0;
};

// One folder: its files read again; new and changed photos get their picture facts (and with them
// their shooting day); what was there before and is not now counts as missing.
void ScanOneFolder(TFolder* f, TScanSummary& sum) {
    TFolderRescan scan;
    RescanFolderItems(f, kDefaultKindSet, true, scan);
    if (scan.Offline) sum.UnreadableFolders.push_back(f->GetFullName());
    sum.New += static_cast<int>(scan.Fresh.size());
    sum.Changed += static_cast<int>(scan.Changed.size());
    sum.Missing += static_cast<int>(scan.Gone.size());
    for (TCatalogItem* it : scan.Found) {
        ++sum.Photos;
        ++sum.ByKind[KindName(it->GetKind())];
        if (!IsValidUtf8(it->GetFileName())) sum.BadNames.push_back(it->GetFullPath());
        // a picture the pipeline cannot read (empty, cut short, not what its name says) has no size
        if (it->GetKind() != ikNotImage && it->GetKind() != ikDevice && (it->GetWidth() <= 0 || it->GetHeight() <= 0))
            sum.UnreadablePhotos.push_back(it->GetFullPath());
    }
}

int ScanUsage() {
    std::fprintf(stderr, "usage: fvb scan [--json] [--threads N] DIR...\n");
    return 2;
}

void MergeInto(TScanSummary& to, TScanSummary& part) {
    to.Folders += part.Folders;
    for (auto& [kind, n] : part.ByKind) to.ByKind[kind] += n;
    to.Photos += part.Photos;
    to.New += part.New;
    to.Changed += part.Changed;
    to.Missing += part.Missing;
    auto append = [](std::vector<std::string>& a, std::vector<std::string>& b) {
        a.insert(a.end(), std::make_move_iterator(b.begin()), std::make_move_iterator(b.end()));
    };
    append(to.UnreadableFolders, part.UnreadableFolders);
    append(to.UnreadablePhotos, part.UnreadablePhotos);
    append(to.BadNames, part.BadNames);
    append(to.Loops, part.Loops);
}

// One scanned tree, walked by several workers at once: each takes a folder, reads it, and queues
// its subfolders; a round ends when nothing is queued and no worker is reading. Listing a folder
// waits on the file system most of the time, so a second worker nearly halves a rescan on two
// processors. The folders' identities are recorded, so a link back up the tree (or to a folder
// read already) ends there. Folders reached through a link wait for the next round and are
// taken in name order, so which of two ways into one folder is read never depends on the
// workers' timing.
class TTreeWalk {
public:
    TTreeWalk(TScanSummary& sum, TProgressLine& progress, int threads)
        : FSum(sum), FProgress(progress), FThreads(threads) {}

    void Run(TFolder* top);

private:
    struct TTask {
        TFolder* Folder;
        bool Entered;  // identity recorded already (the folders that start a round)
    };
    class TWorker : public TThreadObject {
    public:
        explicit TWorker(TTreeWalk& walk) : FWalk(walk) {}
        ~TWorker() override { TerminateAndWait(); }

    protected:
        void Execute() override {
            SetCurrentThreadName("fvb scan");
            FWalk.Work();
        }

    private:
        TTreeWalk& FWalk;
    };

    void Work();
    bool Enter(TFolder* f, TScanSummary& part);
    void ScanFolder(const TTask& task, TScanSummary& part, std::vector<TFolder*>& subs, std::vector<TFolder*>& linked);

    std::mutex FLock;
    std::condition_variable FWake;
    std::vector<TTask> FQueue;
    std::vector<TFolder*> FLinked;  // for the next round
    int FBusy = 0;
    std::set<TFileIdentity> FVisited;
    TScanSummary& FSum;
    TProgressLine& FProgress;
    const int FThreads;
};

void TTreeWalk::Run(TFolder* top) {
    std::vector<TFolder*> round{top};
    while (!round.empty()) {
        std::vector<std::pair<std::string, TFolder*>> named;
        for (TFolder* f : round) named.emplace_back(f->GetFullName(), f);
        std::sort(named.begin(), named.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [name, f] : named) {
            TScanSummary part;
            if (Enter(f, part)) FQueue.push_back({f, true});
            MergeInto(FSum, part);
        }
        std::reverse(FQueue.begin(), FQueue.end());  // taken from the back: in name order
        // read before the first worker starts: from then on the queue is only touched under the lock
        const bool anyQueued = !FQueue.empty();
        std::vector<std::unique_ptr<TWorker>> workers;
        for (int i = 1; i < FThreads && anyQueued; ++i) {
            workers.push_back(std::make_unique<TWorker>(*this));
            workers.back()->Start();
        }
        Work();
        for (auto& w : workers) w->WaitFor();
        round = std::move(FLinked);
        FLinked.clear();
    }
}

void TTreeWalk::Work() {
    for (;;) {
        TTask task;
        {
            std::unique_lock<std::mutex> g(FLock);
            FWake.wait(g, [this] { return !FQueue.empty() || FBusy == 0; });
            if (FQueue.empty()) return;
            task = FQueue.back();
            FQueue.pop_back();
            ++FBusy;
        }
        TScanSummary part;
        std::vector<TFolder*> subs, linked;
        ScanFolder(task, part, subs, linked);
        {
            std::lock_guard<std::mutex> g(FLock);
            MergeInto(FSum, part);
            for (auto it = subs.rbegin(); it != subs.rend(); ++it) FQueue.push_back({*it, false});
            FLinked.insert(FLinked.end(), linked.begin(), linked.end());
            --FBusy;
            FProgress.Show(Format("scanning: %d folders, %d files, %d new - %s", FSum.Folders, FSum.Photos, FSum.New,
                                  ShownName(task.Folder->GetFullName()).c_str()));
        }
        FWake.notify_all();
    }
}

// records the folder's identity; false (and the folder listed as a link skipped) when it was read already
bool TTreeWalk::Enter(TFolder* f, TScanSummary& part) {
    std::string path = f->GetFullName();
    TFileIdentity id;
    if (!GetFileIdentity(path, id)) return true;  // it cannot be reached: the scan reports it unreadable
    std::lock_guard<std::mutex> g(FLock);
    if (FVisited.insert(id).second) return true;
    part.Loops.push_back(path);
    return false;
}

void TTreeWalk::ScanFolder(const TTask& task, TScanSummary& part, std::vector<TFolder*>& subs,
                           std::vector<TFolder*>& linked) {
    TFolder* f = task.Folder;
    std::string path = f->GetFullName();
    try {
        if (!task.Entered && !Enter(f, part)) return;
        ++part.Folders;
        f->SetCheckState(csRegistered);  // the user asked for this folder: its photos belong to the calendar
        if (!IsValidUtf8(f->GetName())) part.BadNames.push_back(path);
        ScanOneFolder(f, part);
        TFolderList found;
        f->ScanSubFolders(&found);
        for (TCustomFolder* c : found)
            if (auto* sub = dynamic_cast<TFolder*>(c)) (IsSymbolicLinkPath(sub->GetFullName()) ? linked : subs).push_back(sub);
    } catch (const std::exception& e) {
        // one folder that fails is reported; the rest of the tree is still read
        WriteLogFailed("fvb scan " + path, e);
        part.UnreadableFolders.push_back(path);
        subs.clear();
        linked.clear();
    }
}

int DefaultScanThreads() {
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n < 4 ? n : 4);
}

void PrintList(const char* title, const std::vector<std::string>& list) {
    if (list.empty()) return;
    std::printf("%s (%zu):\n", title, list.size());
    size_t n = 0;
    for (const auto& s : list) {
        if (++n > 20) {
            std::printf("  ... and %zu more\n", list.size() - 20);
            break;
        }
        std::printf("  %s\n", ShownName(s).c_str());
    }
}

std::string JsonList(const std::vector<std::string>& list) {
    std::string out = "[";
    for (size_t i = 0; i < list.size(); ++i) {
        if (i) out += ',';
        out += JsonString(list[i]);
    }
    return out + "]";
}

}  // namespace

int CmdScan(const TArgs& args) {
    bool json = false;
    int threads = DefaultScanThreads();
    std::vector<std::string> dirs;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") json = true;
        else if (a == "--threads" && i + 1 < args.size()) {
            if (!ParseInt(args[++i], 1, 64, threads)) return ScanUsage();
        } else if (!a.empty() && a[0] == '-') return ScanUsage();
        else dirs.push_back(a);
    }
    if (dirs.empty()) return ScanUsage();

    TLibrarySession session;
    if (!session.Open()) return session.FailStatus;
    TFolderTreeList* tree = CorvaFolders();
    TScanSummary sum;
    // the progress line goes to a terminal only, and never beside JSON
    TProgressLine progress(!json && IsTerminalErrorOutput());
    auto start = Clock::now();
    for (const std::string& d : dirs) {
        std::string path = ExcludeTrailingPathDelimiters(ExpandRelativePath(std::filesystem::current_path().string(), d));
        if (!DirectoryExists(path)) {
            sum.NotFolders.push_back(d);
            continue;
        }
        TFolder* top = tree->FindOrCreateFolderByPath(path);
        if (!top) {
            sum.NotFolders.push_back(d);
            continue;
        }
        TTreeWalk(sum, progress, threads).Run(top);
    }
    // the workers finish folders in any order: the lists are shown sorted
    for (auto* list : {&sum.UnreadableFolders, &sum.UnreadablePhotos, &sum.BadNames, &sum.Loops})
        std::sort(list->begin(), list->end());
    progress.Done();
    sum.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    bool saved = session.Close(true);

    if (json) {
        std::string kinds = "{";
        for (auto& [k, n] : sum.ByKind) {
            if (kinds.size() > 1) kinds += ',';
            kinds += JsonString(k) + ":" + std::to_string(n);
        }
        kinds += "}";
        std::printf(
            "{\"folders\":%d,\"files\":%d,\"kinds\":%s,\"new\":%d,\"changed\":%d,\"missing\":%d,"
            "\"unreadable_folders\":%s,\"unreadable_photos\":%s,\"names_not_utf8\":%s,\"links_skipped\":%s,"
            "\"not_folders\":%s,\"seconds\":%s,\"saved\":%s}\n",
            sum.Folders, sum.Photos, kinds.c_str(), sum.New, sum.Changed, sum.Missing, JsonList(sum.UnreadableFolders).c_str(),
            JsonList(sum.UnreadablePhotos).c_str(), JsonList(sum.BadNames).c_str(), JsonList(sum.Loops).c_str(),
            JsonList(sum.NotFolders).c_str(), JsonNumber(sum.Seconds).c_str(), saved ? "true" : "false");
    } else {
        std::string kinds;
        for (auto& [k, n] : sum.ByKind) {
            if (!kinds.empty()) kinds += ", ";
            kinds += std::to_string(n) + " " + k;
        }
        std::printf("folders: %d\nfiles: %d%s\nnew: %d\nchanged: %d\nmissing: %d\ntime: %.2f s\n", sum.Folders, sum.Photos,
                    kinds.empty() ? "" : (" (" + kinds + ")").c_str(), sum.New, sum.Changed, sum.Missing, sum.Seconds);
        PrintList("not a folder", sum.NotFolders);
        PrintList("folders that could not be read", sum.UnreadableFolders);
        PrintList("photos whose picture facts could not be read", sum.UnreadablePhotos);
        PrintList("names that are not UTF-8", sum.BadNames);
        PrintList("links to folders already scanned, skipped", sum.Loops);
    }
    if (!saved) return 1;
    return sum.NotFolders.empty() && sum.UnreadableFolders.empty() && sum.UnreadablePhotos.empty() ? 0 : 1;
}

// ---- ls

namespace {

int LsUsage() {
    std::fprintf(stderr, "usage: fvb ls [--json] [--sort name|mtime|date|manual] [--desc] PATH\n");
    return 2;
}

void PrintItems(const std::vector<TCatalogItem*>& items, bool json) {
    if (json) {
        std::printf("[");
        bool first = true;
        for (TCatalogItem* it : items) {
            std::printf("%s{\"name\":%s,\"path\":%s,\"kind\":%s,\"size\":%u,\"modified\":%s,\"shot\":%s,\"width\":%d,"
                        "\"height\":%d,\"state\":%d}",
                        first ? "" : ",", JsonString(it->GetFileName()).c_str(), JsonString(it->GetFullPath()).c_str(),
                        JsonString(KindName(it->GetKind())).c_str(), static_cast<uint32_t>(it->GetFileSize()),
                        JsonString(DateText(it->GetFileTime())).c_str(), JsonString(DateText(it->GetShootingDate())).c_str(),
                        it->GetWidth(), it->GetHeight(), it->GetState());
            first = false;
        }
        std::printf("]\n");
        return;
    }
    for (TCatalogItem* it : items)
        std::printf("%-19s  %-19s  %10u  %5dx%-5d  %-5s  %s\n", DateText(it->GetShootingDate()).c_str(),
                    DateText(it->GetFileTime()).c_str(), static_cast<uint32_t>(it->GetFileSize()), it->GetWidth(),
                    it->GetHeight(), KindName(it->GetKind()), ShownName(it->GetFileName()).c_str());
}

bool ParseSort(const std::string& s, int& out) {
    if (s == "name") out = stFileName;
    else if (s == "mtime") out = stFileTime;
    else if (s == "date") out = stShootingDate;
    else if (s == "manual") out = stManual;
    else return false;
    return true;
}

// the items as a view shows them: present ones, in the chosen order
std::vector<TCatalogItem*> SortedPresent(const TItemList& items, int sort, bool ascending) {
    TCorvaSortList list;
    for (TCatalogItem* it : items)
        if (!IsItemGone(it)) list.Add(it);
    list.SetOrder(sort, ascending, false, false);
    list.Sort();
    return list.Items();
}

}  // namespace

int CmdLs(const TArgs& args) {
    bool json = false, ascending = true;
    int sort = stFileName;
    std::string path;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") json = true;
        else if (a == "--desc") ascending = false;
        else if (a == "--sort" && i + 1 < args.size()) {
            if (!ParseSort(args[++i], sort)) return LsUsage();
        } else if (!a.empty() && a[0] == '-') return LsUsage();
        else if (path.empty()) path = a;
        else return LsUsage();
    }
    if (path.empty()) return LsUsage();
    TLibrarySession session;
    if (!session.Open()) return session.FailStatus;
    std::string full = ExcludeTrailingPathDelimiters(ExpandRelativePath(std::filesystem::current_path().string(), path));
    TFolder* f = CorvaFolders()->FindFolderByPath(full);
    if (!f) {
        std::fprintf(stderr, "fvb: %s is not in the library (scan it first: fvb scan %s)\n", full.c_str(), path.c_str());
        session.Close(false);
        return 1;
    }
    TItemList items;
    f->GetItems(items);
    PrintItems(SortedPresent(items, sort, ascending), json);
    session.Close(false);
    return 0;
}

// ---- find

namespace {

int FindUsage() {
    std::fprintf(stderr,
                 "usage: fvb find [--json] [--sort name|mtime|date|manual] [--desc] [criteria]\n"
                 "  --name T, --folder T, --comment T, --title T, --text T   keywords separated by \";\"\n"
                 "  --shot FROM..TO, --modified FROM..TO                    dates yyyy-mm-dd (TO included)\n"
                 "  --marked, --rated, --corrected\n");
    return 2;
}

bool ParseDay(const std::string& s, TDateTime& out) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(s.c_str(), "%d-%d-%d%c", &y, &m, &d, &tail) != 3) return false;
    return TryEncodeDate(y, m, d, out);
}

bool ParseRange(const std::string& s, TFilterRange& r) {
    size_t dots = s.find("..");
    if (dots == std::string::npos) return false;
    TDateTime from = 0, to = 0;
    if (!ParseDay(s.substr(0, dots), from) || !ParseDay(s.substr(dots + 2), to)) return false;
    r.Enabled = true;
    r.From = from;
    r.To = to + 1;  // the whole last day
    return true;
}

}  // namespace

int CmdFind(const TArgs& args) {
    TCatalogFilter filter;
    bool json = false, ascending = true;
    int sort = stFileName;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        auto text = [&](TFilterText& t) {
            t.Enabled = true;
            t.Text = args[++i];
        };
        if (a == "--json") json = true;
        else if (a == "--desc") ascending = false;
        else if (a == "--marked") filter.MarkedOnly = true;
        else if (a == "--rated") filter.RatedOnly = true;
        else if (a == "--corrected") filter.CorrectedOnly = true;
        else if (a == "--sort" && hasValue) {
            if (!ParseSort(args[++i], sort)) return FindUsage();
        } else if (a == "--name" && hasValue) text(filter.Name);
        else if (a == "--folder" && hasValue) text(filter.Folder);
        else if (a == "--comment" && hasValue) text(filter.Comment);
        else if (a == "--title" && hasValue) text(filter.Title);
        else if (a == "--text" && hasValue) text(filter.FurtherText);
        else if (a == "--shot" && hasValue) {
            if (!ParseRange(args[++i], filter.ShootingDate)) return FindUsage();
        } else if (a == "--modified" && hasValue) {
            if (!ParseRange(args[++i], filter.FileTime)) return FindUsage();
        } else return FindUsage();
    }
    TLibrarySession session;
    if (!session.Open()) return session.FailStatus;
    TItemList all;
    std::vector<TFolder*> stack;
    for (TFolderRoot* r : CorvaFolders()->GetRoots()) stack.push_back(r);
    while (!stack.empty()) {
        TFolder* f = stack.back();
        stack.pop_back();
        f->GetItems(all);
        TFolderList subs;
        f->GetSubFolders(subs);
        for (auto it = subs.rbegin(); it != subs.rend(); ++it)
            if (auto* sub = dynamic_cast<TFolder*>(*it)) stack.push_back(sub);
    }
    TItemList hits;
    for (TCatalogItem* it : all)
        if (ItemPassesFilter(filter, it)) hits.push_back(it);
    PrintItems(SortedPresent(hits, sort, ascending), json);
    session.Close(false);
    return 0;
}

}  // namespace fv::fvb
