// fvb calendar / albums: the library's shooting-date calendar and album tree with their counts.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/item_ops.h"
#include "library/library_engine.h"
#include "library/listup_thread.h"
#include "library_session.h"
#include "platform/datetime.h"

namespace fv::fvb {

namespace {

std::vector<TCalendar*> ChildrenOf(const TCalendar* node) {
    TFolderList list;
    node->GetSubFolders(list);
    std::vector<TCalendar*> out;
    for (TCustomFolder* f : list)
        if (auto* c = dynamic_cast<TCalendar*>(f)) out.push_back(c);
    return out;
}

// photos of a node that a view would show (gone ones are left out)
int PresentCount(const TCalendar* node) {
    int n = 0;
    std::vector<const TCalendar*> stack{node};
    while (!stack.empty()) {
        const TCalendar* c = stack.back();
        stack.pop_back();
        for (const TCalendarItem& e : c->GetCalendarItems())
            if (!IsItemGone(e.Item)) ++n;
        for (TCalendar* k : ChildrenOf(c)) stack.push_back(k);
    }
    return n;
}

int CalendarUsage() {
    std::fprintf(stderr, "usage: fvb calendar [--json] [YEAR[/MONTH]]\n");
    return 2;
}

}  // namespace

int CmdCalendar(const TArgs& args) {
    bool json = false;
    int year = 0, month = 0;
    for (const auto& a : args) {
        if (a == "--json") {
            json = true;
        } else {
            char tail = 0;
            int n = std::sscanf(a.c_str(), "%d/%d%c", &year, &month, &tail);
            if (n < 1 || n > 2 || year < 1899 || year > 2098 || (n == 2 && (month < 1 || month > 12))) return CalendarUsage();
            if (n == 1) month = 0;
        }
    }
    TLibrarySession session;
    if (!session.Open()) return session.FailStatus;
    TCalendarRoot* root = CorvaCalendars();
    std::string out = json ? "[" : "";
    bool firstYear = true;
    for (TCalendar* y : ChildrenOf(root)) {
        TDateTimeParts yp = DecodeDateTime(y->GetDate());
        int ycount = PresentCount(y);
        if (ycount == 0 || (year && yp.Year != year)) continue;
        if (json) out += std::string(firstYear ? "" : ",") + "{\"year\":" + std::to_string(yp.Year) + ",\"count\":" + std::to_string(ycount) + ",\"months\":[";
        else out += Format("%d  %d\n", yp.Year, ycount);
        firstYear = false;
        bool firstMonth = true;
        for (TCalendar* m : ChildrenOf(y)) {
            TDateTimeParts mp = DecodeDateTime(m->GetDate());
            int mcount = PresentCount(m);
            if (mcount == 0 || (month && mp.Month != month)) continue;
            if (json) out += std::string(firstMonth ? "" : ",") + "{\"month\":" + std::to_string(mp.Month) + ",\"count\":" + std::to_string(mcount) + ",\"days\":[";
            else out += Format("  %04d/%02d  %d\n", mp.Year, mp.Month, mcount);
            firstMonth = false;
            bool firstDay = true;
            for (TCalendar* d : ChildrenOf(m)) {
                TDateTimeParts dp = DecodeDateTime(d->GetDate());
                int dcount = PresentCount(d);
                if (dcount == 0) continue;
                if (json) {
                    out += std::string(firstDay ? "" : ",") + "{\"day\":" + std::to_string(dp.Day) + ",\"count\":" + std::to_string(dcount) + ",\"photos\":[";
                    bool firstPhoto = true;
                    for (const TCalendarItem& e : d->GetCalendarItems()) {
                        if (IsItemGone(e.Item)) continue;
                        out += std::string(firstPhoto ? "" : ",") + JsonString(e.Item->GetFullPath());
                        firstPhoto = false;
                    }
                    out += "]}";
                } else {
                    out += Format("    %04d/%02d/%02d  %d\n", dp.Year, dp.Month, dp.Day, dcount);
                    // a chosen month lists its photos day by day
                    if (month)
                        for (const TCalendarItem& e : d->GetCalendarItems())
                            if (!IsItemGone(e.Item)) out += "      " + ShownName(e.Item->GetFullPath()) + "\n";
                }
                firstDay = false;
            }
            if (json) out += "]}";
        }
        if (json) out += "]}";
    }
    if (json) out += "]\n";
    std::fputs(out.c_str(), stdout);
    session.Close(false);
    return 0;
}

int CmdAlbums(const TArgs& args) {
    bool json = false;
    for (const auto& a : args) {
        if (a == "--json") json = true;
        else {
            std::fprintf(stderr, "usage: fvb albums [--json]\n");
            return 2;
        }
    }
    TLibrarySession session;
    if (!session.Open()) return session.FailStatus;
    std::vector<TAlbum*> roots;
    CorvaAlbums()->ListupRootAlbums(roots);
    std::string out = json ? "[" : "";
    bool first = true;
    // depth first with our own stack; each entry remembers its depth for the indentation
    std::vector<std::pair<TAlbum*, int>> stack;
    for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.emplace_back(*it, 0);
    while (!stack.empty()) {
        auto [a, depth] = stack.back();
        stack.pop_back();
        int entries = a->GetItemCount();
        std::vector<TAlbum*> subs = a->GetSubAlbums();
        if (json) {
            out += std::string(first ? "" : ",") + "{\"path\":" + JsonString(a->GetFullName()) + ",\"name\":" + JsonString(a->GetName()) +
                   ",\"type\":" + JsonString(a->GetAlbumTypeName()) + ",\"depth\":" + std::to_string(depth) +
                   ",\"entries\":" + std::to_string(entries) + ",\"subalbums\":" + std::to_string(subs.size()) + "}";
        } else {
            out += std::string(static_cast<size_t>(depth) * 2, ' ') + ShownName(a->GetName()) + "  " + std::to_string(entries) +
                   (depth == 0 ? "  [" + a->GetAlbumTypeName() + "]" : "") + "\n";
        }
        first = false;
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) stack.emplace_back(*it, depth + 1);
    }
    if (json) out += "]\n";
    std::fputs(out.c_str(), stdout);
    session.Close(false);
    return 0;
}

}  // namespace fv::fvb
