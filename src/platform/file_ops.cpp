#include "platform/file_ops.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "platform/fnv_hash.h"
#include "platform/fs.h"
#include "platform/percent_encoding.h"

namespace fv {

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr int kMaxDepth = 1024;  // deeper than any real tree; links are never followed, so no loops

std::string BaseName(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string ParentOf(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string ErrText(int err) { return std::strerror(err); }

// the parent resolved, the last component kept (a link to trash or move is the link itself)
std::string AbsoluteKeepLast(const std::string& path) {
    std::string parent = ParentOf(path);
    char buf[PATH_MAX];
    if (!realpath(parent.c_str(), buf)) return path;
    return Join(buf, BaseName(path));
}

std::string RealOrSelf(const std::string& path) {
    char buf[PATH_MAX];
    if (!realpath(path.c_str(), buf)) return path;
    return buf;
}

bool IsBelowOrSame(const std::string& parent, const std::string& child) {
    if (child == parent) return true;
    std::string p = parent == "/" ? parent : parent + "/";
    return child.compare(0, p.size(), p) == 0;
}

// 64-bit FNV-1a over the bytes of a file, computed while copying and again over the copy
struct THash {
    uint64_t H = kFnv64Start;
    void Add(const uint8_t* p, size_t n) { H = Fnv1a64(p, n, H); }
};

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }
    int Close() {
        int rc = 0;
        if (FFd >= 0) rc = ::close(FFd);
        FFd = -1;
        return rc;
    }

private:
    int FFd;
};

// What an operation did at the destination, so that a failure can take it back in reverse order.
class TJournal {
public:
    enum Kind { CreatedFile, CreatedDir, Renamed, SetAside, RemovedDir };
    struct Entry {
        Kind K;
        std::string A, B;
    };

    void Add(Kind k, std::string a, std::string b = {}) { FEntries.push_back({k, std::move(a), std::move(b)}); }

    // undo everything; errors here cannot be reported any better than the first failure
    void Rollback() {
        for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it) {
            switch (it->K) {
                case CreatedFile: ::unlink(it->A.c_str()); break;
                case CreatedDir: ::rmdir(it->A.c_str()); break;
                case Renamed: ::rename(it->B.c_str(), it->A.c_str()); break;
                case SetAside: ::rename(it->B.c_str(), it->A.c_str()); break;
                case RemovedDir: ::mkdir(it->A.c_str(), 0700); break;
            }
        }
        FEntries.clear();
    }
    // the operation succeeded: files replaced by it go for good
    void Commit() {
        for (auto& e : FEntries)
            if (e.K == SetAside) ::unlink(e.B.c_str());
        FEntries.clear();
    }

private:
    std::vector<Entry> FEntries;
};

// the names in a folder without "." and ".."; false (errno set) when it cannot be read
bool ListNames(const std::string& folder, std::vector<std::string>& names) {
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(folder.c_str()), ::closedir);
    if (!d) return false;
    while (dirent* e = ::readdir(d.get()))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    return true;
}

std::atomic<uint32_t> gTempCounter{0};

std::string TempNameIn(const std::string& folder, const std::string& name) {
    // hidden, and recognisably ours should a crash ever leave one behind
    std::string shortName = name.size() > 120 ? name.substr(0, 120) : name;
    return Join(folder, Format(".%s.fvpart-%d-%u", shortName.c_str(), static_cast<int>(getpid()),
                               gTempCounter.fetch_add(1) + 1));
}

class TOperation {
public:
    TOperation(const TFileOpOptions& o, const char* verb) : FOpt(o), FVerb(verb) {}

    // fails like a system call would when the test seam asks for it
    bool Faulted(TFileOpStep step, const std::string& path) {
        if (!FOpt.Fault) return false;
        int err = FOpt.Fault(step, path);
        if (err == 0) return false;
        errno = err;
        return true;
    }

    [[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
        throw EFileOpError(Format("Could not %s \"%s\": %s (%s)", FVerb, path.c_str(), ErrText(err).c_str(), what.c_str()));
    }

    void Report() {
        if (FOpt.Progress && !FOpt.Progress(FProgress)) throw EFileOpAborted(Format("The %s was cancelled.", FVerb));
    }

    // totals for the progress report; refuses what cannot be copied before anything is written
    void Measure(const std::string& path, int depth) {
        if (depth > kMaxDepth) throw EFileOpError(Format("Folder nesting too deep: \"%s\"", path.c_str()));
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) Fail("stat", path, errno);
        if (S_ISDIR(st.st_mode)) {
            std::vector<std::string> names;
            if (!ListNames(path, names)) Fail("open folder", path, errno);
            for (auto& n : names) Measure(Join(path, n), depth + 1);
        } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            FProgress.FilesTotal++;
            if (S_ISREG(st.st_mode)) FProgress.BytesTotal += static_cast<uint64_t>(st.st_size);
        } else {
            throw EFileOpError(Format("Not a file or folder: \"%s\"", path.c_str()));
        }
    }

    // renames without replacing; false with errno EEXIST when the name is taken
    bool RenameNoReplace(const std::string& from, const std::string& to) {
        if (Faulted(TFileOpStep::Rename, to)) return false;
        return fv::RenameNoReplace(from, to);
    }

    // puts a finished temporary file in place under its final name
    void Place(const std::string& temp, const std::string& final) {
        if (RenameNoReplace(temp, final)) {
            FJournal.Add(TJournal::CreatedFile, final);
            return;
        }
        int err = errno;
        if (err != EEXIST || !FOpt.Replace) {
            ::unlink(temp.c_str());
            Fail("the destination exists", final, err);
        }
        struct stat st;
        if (::lstat(final.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            ::unlink(temp.c_str());
            Fail("a folder of that name exists", final, EISDIR);
        }
        std::string aside = TempNameIn(ParentOf(final), BaseName(final) + ".old");
        if (Faulted(TFileOpStep::Rename, final) || ::rename(final.c_str(), aside.c_str()) != 0) {
            err = errno;
            ::unlink(temp.c_str());
            Fail("set the old file aside", final, err);
        }
        FJournal.Add(TJournal::SetAside, final, aside);
        if (!RenameNoReplace(temp, final)) {
            err = errno;
            ::unlink(temp.c_str());
            Fail("rename", final, err);
        }
        FJournal.Add(TJournal::CreatedFile, final);
    }

    void CopyRegular(const std::string& src, const struct stat& st, const std::string& dst, bool verify) {
        TFd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (in.Get() < 0 || Faulted(TFileOpStep::Read, src)) Fail("open", src, errno);
        std::string temp = TempNameIn(ParentOf(dst), BaseName(dst));
        TFd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (out.Get() < 0) Fail("create", dst, errno);
        // whatever happens before Place, the temporary file goes
        struct TUnlink {
            std::string P;
            bool Armed = true;
            ~TUnlink() {
                if (Armed) ::unlink(P.c_str());
            }
        } guard{temp};

        std::vector<uint8_t> buf(kChunk);
        THash hash;
        uint64_t copied = 0;
        for (;;) {
            if (Faulted(TFileOpStep::Read, src)) Fail("read", src, errno);
            ssize_t n = ::read(in.Get(), buf.data(), buf.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                Fail("read", src, errno);
            }
            if (n == 0) break;
            hash.Add(buf.data(), static_cast<size_t>(n));
            size_t off = 0;
            while (off < static_cast<size_t>(n)) {
                if (Faulted(TFileOpStep::Write, dst)) Fail("write", dst, errno);
                ssize_t w = ::write(out.Get(), buf.data() + off, static_cast<size_t>(n) - off);
                if (w < 0) {
                    if (errno == EINTR) continue;
                    Fail("write", dst, errno);
                }
                off += static_cast<size_t>(w);
            }
            copied += static_cast<uint64_t>(n);
            FProgress.BytesDone += static_cast<uint64_t>(n);
            Report();
        }
        // a source that changed size under us is not a faithful copy
        struct stat after;
        if (::fstat(in.Get(), &after) == 0 && static_cast<uint64_t>(after.st_size) != copied)
            throw EFileOpError(Format("\"%s\" changed while it was copied", src.c_str()));
        ::fchmod(out.Get(), st.st_mode & 07777);
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.Get(), times);
        if (Faulted(TFileOpStep::Sync, dst) || ::fsync(out.Get()) != 0) Fail("flush", dst, errno);
        if (out.Close() != 0) Fail("close", dst, errno);

        if (verify) {
            TFd back(::open(temp.c_str(), O_RDONLY | O_CLOEXEC));
            if (back.Get() < 0) Fail("read back", dst, errno);
            THash again;
            uint64_t total = 0;
            for (;;) {
                ssize_t n = ::read(back.Get(), buf.data(), buf.size());
                if (n < 0) {
                    if (errno == EINTR) continue;
                    Fail("read back", dst, errno);
                }
                if (n == 0) break;
                again.Add(buf.data(), static_cast<size_t>(n));
                total += static_cast<uint64_t>(n);
            }
            if (total != copied || again.H != hash.H)
                throw EFileOpError(Format("The copy of \"%s\" differs from the original", src.c_str()));
        }
        guard.Armed = false;  // Place removes the temporary file itself on failure
        Place(temp, dst);
    }

    void CopyLink(const std::string& src, const std::string& dst) {
        std::vector<char> target(PATH_MAX + 1);
        ssize_t n = ::readlink(src.c_str(), target.data(), PATH_MAX);
        if (n < 0 || Faulted(TFileOpStep::Read, src)) Fail("read link", src, errno);
        std::string temp = TempNameIn(ParentOf(dst), BaseName(dst));
        if (Faulted(TFileOpStep::Write, dst) || ::symlink(std::string(target.data(), static_cast<size_t>(n)).c_str(), temp.c_str()) != 0)
            Fail("create link", dst, errno);
        Place(temp, dst);
    }

    void CopyTree(const std::string& src, const std::string& dst, bool verify, int depth) {
        if (depth > kMaxDepth) throw EFileOpError(Format("Folder nesting too deep: \"%s\"", src.c_str()));
        struct stat st;
        if (::lstat(src.c_str(), &st) != 0) Fail("stat", src, errno);
        FProgress.Current = src;
        if (S_ISREG(st.st_mode)) {
            CopyRegular(src, st, dst, verify);
        } else if (S_ISLNK(st.st_mode)) {
            CopyLink(src, dst);
        } else if (S_ISDIR(st.st_mode)) {
            struct stat dt;
            bool created = false;
            if (::lstat(dst.c_str(), &dt) == 0) {
                if (!S_ISDIR(dt.st_mode)) Fail("a file of that name exists", dst, EEXIST);
            } else {
                if (Faulted(TFileOpStep::MakeDir, dst) || ::mkdir(dst.c_str(), 0700) != 0) Fail("create folder", dst, errno);
                FJournal.Add(TJournal::CreatedDir, dst);
                created = true;
            }
            std::vector<std::string> names;
            if (!ListNames(src, names)) Fail("open folder", src, errno);
            for (auto& n : names) CopyTree(Join(src, n), Join(dst, n), verify, depth + 1);
            if (created) {
                ::chmod(dst.c_str(), st.st_mode & 07777);
                struct timespec times[2] = {st.st_atim, st.st_mtim};
                ::utimensat(AT_FDCWD, dst.c_str(), times, AT_SYMLINK_NOFOLLOW);
            }
            return;
        } else {
            throw EFileOpError(Format("Not a file or folder: \"%s\"", src.c_str()));
        }
        FProgress.FilesDone++;
        Report();
    }

    // a move within one file system: rename, merging into folders that exist already
    void RenameTree(const std::string& src, const std::string& dst, int depth) {
        if (depth > kMaxDepth) throw EFileOpError(Format("Folder nesting too deep: \"%s\"", src.c_str()));
        FProgress.Current = src;
        if (RenameNoReplace(src, dst)) {
            FJournal.Add(TJournal::Renamed, src, dst);
            return;
        }
        int err = errno;
        struct stat ss, ds;
        if ((err != EEXIST && err != ENOTEMPTY) || ::lstat(src.c_str(), &ss) != 0 || ::lstat(dst.c_str(), &ds) != 0)
            Fail("move", src, err);
        if (S_ISDIR(ss.st_mode) && S_ISDIR(ds.st_mode)) {
            std::vector<std::string> names;
            if (!ListNames(src, names)) Fail("open folder", src, errno);
            for (auto& n : names) RenameTree(Join(src, n), Join(dst, n), depth + 1);
            if (Faulted(TFileOpStep::Remove, src) || ::rmdir(src.c_str()) != 0) Fail("remove folder", src, errno);
            FJournal.Add(TJournal::RemovedDir, src);
            return;
        }
        if (S_ISDIR(ss.st_mode) || S_ISDIR(ds.st_mode) || !FOpt.Replace) Fail("the destination exists", dst, EEXIST);
        std::string aside = TempNameIn(ParentOf(dst), BaseName(dst) + ".old");
        if (Faulted(TFileOpStep::Rename, dst) || ::rename(dst.c_str(), aside.c_str()) != 0) Fail("set the old file aside", dst, errno);
        FJournal.Add(TJournal::SetAside, dst, aside);
        if (!RenameNoReplace(src, dst)) Fail("move", src, errno);
        FJournal.Add(TJournal::Renamed, src, dst);
    }

    // after a verified copy: sources go, files first, folders when empty
    void RemoveTree(const std::string& path, std::string& firstLeft, int depth) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) return;
        if (S_ISDIR(st.st_mode) && depth <= kMaxDepth) {
            std::vector<std::string> names;
            ListNames(path, names);
            for (auto& n : names) RemoveTree(Join(path, n), firstLeft, depth + 1);
            if ((Faulted(TFileOpStep::Remove, path) || ::rmdir(path.c_str()) != 0) && firstLeft.empty()) firstLeft = path;
        } else if ((Faulted(TFileOpStep::Remove, path) || ::unlink(path.c_str()) != 0) && firstLeft.empty()) {
            firstLeft = path;
        }
    }

    TJournal FJournal;
    TFileOpProgress FProgress;

private:
    const TFileOpOptions& FOpt;
    const char* FVerb;
};

struct TPrepared {
    std::string Source, Target, Dest;
};

TPrepared Prepare(const std::string& source, const std::string& targetFolder, const char* verb) {
    TPrepared p;
    p.Source = AbsoluteKeepLast(source);
    p.Target = RealOrSelf(targetFolder);
    struct stat st;
    if (::lstat(p.Source.c_str(), &st) != 0)
        throw EFileOpError(Format("Could not %s \"%s\": %s", verb, source.c_str(), ErrText(errno).c_str()));
    struct stat tt;
    if (::stat(p.Target.c_str(), &tt) != 0 || !S_ISDIR(tt.st_mode))
        throw EFileOpError(Format("The destination folder \"%s\" does not exist", targetFolder.c_str()));
    if (S_ISDIR(st.st_mode) && IsBelowOrSame(RealOrSelf(p.Source), p.Target))
        throw EFileOpError(Format("Cannot %s \"%s\" into itself", verb, source.c_str()));
    p.Dest = Join(p.Target, BaseName(p.Source));
    return p;
}

}  // namespace

void CopyIntoFolder(const std::string& source, const std::string& targetFolder, const TFileOpOptions& options) {
    TPrepared p = Prepare(source, targetFolder, "copy");
    if (p.Dest == p.Source) throw EFileOpError(Format("Cannot copy \"%s\" onto itself", source.c_str()));
    TOperation op(options, "copy");
    try {
        op.Measure(p.Source, 0);
        op.Report();
        op.CopyTree(p.Source, p.Dest, false, 0);
    } catch (...) {
        op.FJournal.Rollback();
        throw;
    }
    op.FJournal.Commit();
}

void MoveIntoFolder(const std::string& source, const std::string& targetFolder, const TFileOpOptions& options) {
    TPrepared p = Prepare(source, targetFolder, "move");
    if (p.Dest == p.Source) return;  // already there
    struct stat ss, ts;
    if (::lstat(p.Source.c_str(), &ss) != 0 || ::stat(p.Target.c_str(), &ts) != 0)
        throw EFileOpError(Format("Could not move \"%s\": %s", source.c_str(), ErrText(errno).c_str()));
    // the source's folder must let us take it away before anything is copied
    if (::access(ParentOf(p.Source).c_str(), W_OK) != 0)
        throw EFileOpError(Format("Could not move \"%s\": %s", source.c_str(), ErrText(errno).c_str()));
    TOperation op(options, "move");
    try {
        op.Measure(p.Source, 0);
        op.Report();
        if (ss.st_dev == ts.st_dev) {
            op.RenameTree(p.Source, p.Dest, 0);
            op.FProgress.FilesDone = op.FProgress.FilesTotal;
            op.FProgress.BytesDone = op.FProgress.BytesTotal;
            op.Report();
        } else {
            op.CopyTree(p.Source, p.Dest, true, 0);
        }
    } catch (...) {
        op.FJournal.Rollback();
        throw;
    }
    op.FJournal.Commit();
    if (ss.st_dev != ts.st_dev) {
        std::string left;
        op.RemoveTree(p.Source, left, 0);
        if (!left.empty())
            throw EFileOpError(Format("\"%s\" was copied to \"%s\", but \"%s\" could not be removed: %s", source.c_str(),
                                      p.Dest.c_str(), left.c_str(), ErrText(errno).c_str()));
    }
}

// ---- trash ----

std::string HomeTrashFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) return {};
        base = std::string(home) + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/Trash";
}

std::string TrashEscapePath(const std::string& path) { return PercentEncode(path, "/!*'()"); }

namespace {

bool MakeDirs(const std::string& path, mode_t mode) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::string parent = ParentOf(path);
    if (parent != path && !MakeDirs(parent, 0700)) return false;
    return ::mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

// the device of the nearest existing folder of a path
bool DeviceOf(const std::string& path, dev_t& dev) {
    std::string p = path;
    for (;;) {
        struct stat st;
        if (::stat(p.c_str(), &st) == 0) {
            dev = st.st_dev;
            return true;
        }
        std::string parent = ParentOf(p);
        if (parent == p) return false;
        p = parent;
    }
}

// a usable trash folder (files/ and info/ made when missing); false when it cannot be used
bool ReadyTrash(const std::string& trash) {
    if (!MakeDirs(trash, 0700)) return false;
    struct stat st;
    if (::lstat(trash.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
    return MakeDirs(trash + "/files", 0700) && MakeDirs(trash + "/info", 0700);
}

struct TTrashChoice {
    std::string Folder;
    std::string TopDir;  // empty for the home trash (absolute paths in the info file)
};

bool ChooseTrash(const std::string& path, const struct stat& st, TTrashChoice& out) {
    std::string home = HomeTrashFolder();
    dev_t homeDev;
    if (!home.empty() && DeviceOf(home, homeDev) && homeDev == st.st_dev && ReadyTrash(home)) {
        out.Folder = home;
        return true;
    }
    TMountEntry mount;
    if (!FindMountFor(ReadMountTable(), path, mount)) return false;
    std::string top = mount.MountPoint;
    std::string uid = std::to_string(::getuid());
    // the administrator's shared ".Trash": a real folder with the sticky bit
    struct stat ts;
    std::string shared = Join(top, ".Trash");
    if (::lstat(shared.c_str(), &ts) == 0 && S_ISDIR(ts.st_mode) && (ts.st_mode & S_ISVTX)) {
        std::string mine = shared + "/" + uid;
        if (ReadyTrash(mine)) {
            out.Folder = mine;
            out.TopDir = top;
            return true;
        }
    }
    std::string own = Join(top, ".Trash-" + uid);
    if (ReadyTrash(own)) {
        out.Folder = own;
        out.TopDir = top;
        return true;
    }
    return false;
}

std::string IsoLocalNow() {
    time_t t = ::time(nullptr);
    struct tm tm;
    ::localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

}  // namespace

std::string TrashEntryName(const std::string& name, int n) {
    // the info file adds ".trashinfo", and both names must stay within one file name's length
    constexpr size_t kInfoSuffix = sizeof(".trashinfo") - 1;
    constexpr size_t kLimit = NAME_MAX - kInfoSuffix;
    std::string suffix = n == 1 ? std::string() : Format(".%d", n);
    if (name.size() + suffix.size() <= kLimit) return name + suffix;
    // too long: the stem is cut (never inside a UTF-8 character), a short extension is kept
    std::string stem = name, ext;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= 16) {
        stem = name.substr(0, dot);
        ext = name.substr(dot);
    }
    size_t room = kLimit - suffix.size() - ext.size();
    size_t cut = std::min(room, stem.size());
    while (cut > 0 && cut < stem.size() && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    return stem.substr(0, cut) + suffix + ext;
}

std::string MoveToTrash(const std::string& path) {
    std::string abs = AbsoluteKeepLast(path);
    struct stat st;
    if (::lstat(abs.c_str(), &st) != 0)
        throw EFileOpError(Format("Could not move \"%s\" to the trash: %s", path.c_str(), ErrText(errno).c_str()));
    TTrashChoice trash;
    if (!ChooseTrash(abs, st, trash))
        throw EFileOpError(Format("There is no trash for \"%s\" on its volume", path.c_str()));

    std::string shown = abs;
    if (!trash.TopDir.empty() && IsBelowOrSame(trash.TopDir, abs) && abs != trash.TopDir)
        shown = abs.substr(trash.TopDir == "/" ? 1 : trash.TopDir.size() + 1);
    const std::string body =
        "[Trash Info]\nPath=" + TrashEscapePath(shown) + "\nDeletionDate=" + IsoLocalNow() + "\n";

    // the info file claims the name first (exclusive create), so two programs never collide
    std::string name = BaseName(abs);
    for (int n = 1; n < 100000; ++n) {
        std::string candidate = TrashEntryName(name, n);
        std::string info = trash.Folder + "/info/" + candidate + ".trashinfo";
        std::string inTrash = trash.Folder + "/files/" + candidate;
        int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throw EFileOpError(Format("Could not write the trash entry \"%s\": %s", info.c_str(), ErrText(errno).c_str()));
        }
        bool written = ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size()) && ::fsync(fd) == 0;
        int err = errno;
        ::close(fd);
        if (!written) {
            ::unlink(info.c_str());
            throw EFileOpError(Format("Could not write the trash entry \"%s\": %s", info.c_str(), ErrText(err).c_str()));
        }
        struct stat existing;
        if (::lstat(inTrash.c_str(), &existing) == 0) {  // a stray file without its info: leave it alone
            ::unlink(info.c_str());
            continue;
        }
        if (::rename(abs.c_str(), inTrash.c_str()) != 0) {
            err = errno;
            ::unlink(info.c_str());
            throw EFileOpError(Format("Could not move \"%s\" to the trash: %s", path.c_str(), ErrText(err).c_str()));
        }
        return inTrash;
    }
    throw EFileOpError(Format("Could not find a free name for \"%s\" in the trash", path.c_str()));
}

}  // namespace fv

namespace fv {

bool FlushFileToDisk(int fd) {
    return ::fsync(fd) == 0;
}

void InstallFileWithBackup(const std::string& temp, const std::string& path, const std::string& backup) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        ::unlink(backup.c_str());
        if (::link(path.c_str(), backup.c_str()) != 0) ::rename(path.c_str(), backup.c_str());
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        throw EFileOpError(Format("Could not put \"%s\" in place: %s", path.c_str(), ErrText(err).c_str()));
    }
    // the rename itself reaches the disk with the folder
    int dfd = ::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

}  // namespace fv

namespace fv {

bool GetFileIdentity(const std::string& path, TFileIdentity& out) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    out.Device = static_cast<uint64_t>(st.st_dev);
    out.Inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

}  // namespace fv

namespace fv {

bool RenameNoReplace(const std::string& from, const std::string& to) {
    // file systems without the flag: check, then rename (nobody else writes our new names)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace fv
