// fvb scan / ls / find: the library of the browser's data folder from the command line.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <unordered_map>

#include "commands.h"
#include "core/file_functions.h"
#include "library/catalog_list.h"
#include "library/disk_rescan.h"
#include "library/ext_items.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"
#include "library/listup_thread.h"
#include "library_session.h"
#include "platform/datetime.h"
#include "platform/codepage.h"
#include "platform/file_ops.h"

namespace fv::fvb {

namespace {

using Clock = std::chrono::steady_clock;

// a line that rewrites itself on a terminal, at most ten times a second; nothing otherwise
class TProgressLine {
public:
    TProgressLine() : FTty(::isatty(2) != 0) {}
    void Show(const std::string& text) {
        if (!FTty) return;
        auto now = Clock::now();
        if (now - FLast < std::chrono::milliseconds(100)) return;
        FLast = now;
        std::string line = text.size() > 100 ? text.substr(0, 97) + "..." : text;
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        FShown = true;
    }
    void Done() {
        if (FShown) std::fprintf(stderr, "\r\033[K");
        FShown = false;
    }

private:
    bool FTty;
    bool FShown = false;
    Clock::time_point FLast{};
};

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
    std::fprintf(stderr, "usage: fvb scan [--json] DIR...\n");
    return 2;
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
    for (size_t i = 0; i < list.size(); ++i) out += (i ? "," : "") + JsonString(list[i]);
    return out + "]";
}

}  // namespace

int CmdScan(const TArgs& args) {
    bool json = false;
    std::vector<std::string> dirs;
    for (const auto& a : args) {
        if (a == "--json") json = true;
        else if (!a.empty() && a[0] == '-') return ScanUsage();
        else dirs.push_back(a);
    }
    if (dirs.empty()) return ScanUsage();

    TLibrarySession session;
    if (!session.Open()) return session.FailStatus;
    TFolderTreeList* tree = CorvaFolders();
    TScanSummary sum;
    TProgressLine progress;
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
        // our own stack and a record of the folders seen: links back up the tree end here
        std::vector<TFolder*> stack{top};
        std::set<TFileIdentity> visited;
        while (!stack.empty()) {
            TFolder* f = stack.back();
            stack.pop_back();
            TFileIdentity id;
            if (GetFileIdentity(f->GetFullName(), id) && !visited.insert(id).second) {
                sum.Loops.push_back(f->GetFullName());
                continue;
            }
            ++sum.Folders;
            f->SetCheckState(csRegistered);  // the user asked for this folder: its photos belong to the calendar
            if (!IsValidUtf8(f->GetName())) sum.BadNames.push_back(f->GetFullName());
            progress.Show(Format("scanning: %d folders, %d files, %d new - %s", sum.Folders, sum.Photos, sum.New,
                                 ShownName(f->GetFullName()).c_str()));
            ScanOneFolder(f, sum);
            TFolderList subs;
            f->ScanSubFolders(&subs);
            for (auto it = subs.rbegin(); it != subs.rend(); ++it)
                if (auto* sub = dynamic_cast<TFolder*>(*it)) stack.push_back(sub);
        }
    }
    progress.Done();
    sum.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    bool saved = session.Close(true);

    if (json) {
        std::string kinds = "{";
        for (auto& [k, n] : sum.ByKind) kinds += (kinds.size() > 1 ? "," : "") + JsonString(k) + ":" + std::to_string(n);
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
        for (auto& [k, n] : sum.ByKind) kinds += (kinds.empty() ? "" : ", ") + std::to_string(n) + " " + k;
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
