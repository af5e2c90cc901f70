#include "core/data_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/file_functions.h"
#include "core/log.h"
#include "platform/file_ops.h"
#include "platform/file_sys.h"
#include "platform/fs.h"
#include "platform/resource_lock.h"

namespace fv {

void WriteDataFileHeader(TStream& s, uint32_t count, TDateTime saveTime) {
    s.WriteBuffer(kDataFileMagic, sizeof kDataFileMagic);
    s.WriteU32(kDataFileVersion);
    s.WriteU32(count);
    s.WriteDouble(saveTime);
}

TDataFileHeader ReadDataFileHeader(TStream& s) {
    TDataFileHeader h;
    char magic[8];
    s.ReadBuffer(magic, sizeof magic);
    h.MagicOk = std::equal(magic, magic + 8, kDataFileMagic);
    h.Version = s.ReadU32();
    h.Count = s.ReadU32();
    h.SaveTime = s.ReadDouble();
    return h;
}

std::string DataFileBackupName(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ".bak";
    return path.substr(0, dot) + ".bak";
}

namespace {

// The whole file, read without clearing the buffer first (the read fills every byte).
struct TFileBytes {
    std::unique_ptr<uint8_t[]> Data;
    size_t Size = 0;
};

TFileBytes ReadWholeFile(const std::string& path) {
    TFileStream f(path, TFileStream::fmOpenRead);
    int64_t n = f.Size();
    if (n < 0) throw EReadError("Stream read error");
    TFileBytes b;
    b.Data = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(n) + 1);
    f.ReadBuffer(b.Data.get(), n);
    b.Size = static_cast<size_t>(n);
    return b;
}

// The new file, compared on the way with the current one: while what is written past the
// header equals the current file's bytes, nothing is written anywhere (those bytes are already
// on disk). At the first difference the temporary file is made from the header, the current
// file's equal part and the rest as it comes. An unchanged library so costs one read of its
// file and no write. Writes past the header run in order; anything else (a seek back into the
// body, a resize) counts as a change.
class TSaveStream : public TStream {
public:
    TSaveStream(std::string temp, const std::string& current, int64_t bodyTimeAt) : FTemp(std::move(temp)) {
        if (bodyTimeAt >= 0) FIgnoreAt = kDataFileHeaderSize + bodyTimeAt;
        if (current.empty()) return;
        try {
            FOld = std::make_unique<TFileStream>(current, TFileStream::fmOpenRead);
            FOldSize = FOld->Size();
            FOld->Seek(kDataFileHeaderSize, soBeginning);
            FDeferred = FOldSize >= kDataFileHeaderSize;
        } catch (const Exception&) {
            FOld.reset();
        }
    }
    ~TSaveStream() override {
        FOut.reset();
        if (!FInstalled && !FTemp.empty() && FMade) RemoveFile(FTemp);
    }

    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Write(const void* buffer, int64_t count) override {
        if (count <= 0) return 0;
        const uint8_t* p = static_cast<const uint8_t*>(buffer);
        int64_t held = 0;
        if (FDeferred) {
            // the header waits in memory, body bytes equal to the current file's are not written
            int64_t head = std::min<int64_t>(count, std::max<int64_t>(0, kDataFileHeaderSize - FPos));
            if (head > 0) std::memcpy(FHeader + FPos, p, static_cast<size_t>(head));
            FPos += head;
            held = head + CompareBody(p + head, count - head);
            FPos += held - head;
            FEnd = std::max(FEnd, FPos);
            if (held == count) return count;
            Materialise();
            p += held;
            count -= held;
        }
        EnsureOut();
        int64_t n = FOut->Write(p, count);
        FPos += n > 0 ? n : 0;
        FEnd = std::max(FEnd, FPos);
        return held + (n > 0 ? n : 0);
    }
    int64_t Seek(int64_t offset, int origin) override {
        if (!FDeferred) {
            EnsureOut();
            return FPos = FOut->Seek(offset, origin);
        }
        int64_t target = origin == soCurrent ? FPos + offset : origin == soEnd ? FEnd + offset : offset;
        if (target < 0) target = 0;
        // only the header may be written again while nothing has been written out
        if (target > kDataFileHeaderSize && target != FEnd) {
            Materialise();
            return FPos = FOut->Seek(target, soBeginning);
        }
        return FPos = target;
    }
    void SetSize(int64_t size) override {
        if (FDeferred && size == 0 && FEnd == 0) return;
        Materialise();
        EnsureOut();
        FOut->SetSize(size);
    }
    int64_t Size() override { return FDeferred || !FOut ? FEnd : FOut->Size(); }

    // Finishes the file: false when the current one holds the same header (apart from the
    // save time) and body, and nothing was written; true when the temporary file is complete
    // and flushed to the disk, ready to go in place.
    bool Finish() {
        if (FDeferred && FEnd == FOldSize && FCompared == FOldSize && SameHeader()) return false;
        Materialise();
        EnsureOut();
        if (!FlushFileToDisk(FOut->Handle())) RaiseLastOSError("fsync " + FTemp);
        FOut.reset();
        return true;
    }
    // the temporary file has gone in place (no longer ours to remove)
    void Installed() { FInstalled = true; }

private:
    void EnsureOut() {
        if (FOut) return;
        FOut = std::make_unique<TFileStream>(FTemp, TFileStream::fmCreate);
        FMade = true;
        FOut->SetSize(0);
    }

    // writes out what has been held back: the header and the current file's equal part
    void Materialise() {
        if (!FDeferred) return;
        FDeferred = false;
        EnsureOut();
        FOut->WriteBuffer(FHeader, std::min<int64_t>(FEnd, kDataFileHeaderSize));
        if (FCompared > kDataFileHeaderSize) {
            FOld->Seek(kDataFileHeaderSize, soBeginning);
            uint8_t chunk[65536];
            for (int64_t at = kDataFileHeaderSize; at < FCompared;) {
                int64_t len = std::min<int64_t>(FCompared - at, sizeof chunk);
                FOld->ReadBuffer(chunk, len);
                // the body's own save time is the new one
                int64_t a = std::max(at, FIgnoreAt), b = std::min(at + len, FIgnoreAt + 8);
                if (a < b) std::memcpy(chunk + (a - at), FBodyTime + (a - FIgnoreAt), static_cast<size_t>(b - a));
                FOut->WriteBuffer(chunk, len);
                at += len;
            }
        }
        FOut->Seek(FPos, soBeginning);
    }

    // how many of the n body bytes at FPos equal the current file's
    int64_t CompareBody(const uint8_t* p, int64_t n) {
        if (n <= 0) return 0;
        if (FPos < kDataFileHeaderSize || FPos != FCompared || FPos + n > FOldSize) return 0;
        uint8_t chunk[65536];
        int64_t done = 0;
        while (done < n) {
            int64_t at = FPos + done;
            int64_t len = std::min<int64_t>(n - done, sizeof chunk);
            if (FOld->Read(chunk, len) != len) break;
            // the body's own save time counts as the same (and is kept for a later write-out)
            int64_t a = std::max(at, FIgnoreAt), b = std::min(at + len, FIgnoreAt + 8);
            if (a < b) {
                std::memcpy(FBodyTime + (a - FIgnoreAt), p + done + (a - at), static_cast<size_t>(b - a));
                std::memcpy(chunk + (a - at), p + done + (a - at), static_cast<size_t>(b - a));
            }
            if (std::memcmp(chunk, p + done, static_cast<size_t>(len)) != 0) break;
            done += len;
            FCompared = FPos + done;
        }
        // a chunk that differed left the current file's position inside it; realign
        if (FOld) FOld->Seek(FCompared, soBeginning);
        return done;
    }

    bool SameHeader() {
        if (FEnd < kDataFileHeaderSize) return false;
        uint8_t old[16];
        try {
            FOld->Seek(0, soBeginning);
            FOld->ReadBuffer(old, sizeof old);
        } catch (const Exception&) {
            return false;
        }
        return std::memcmp(old, FHeader, sizeof old) == 0;
    }

    std::string FTemp;
    std::unique_ptr<TFileStream> FOut;
    std::unique_ptr<TFileStream> FOld;
    int64_t FOldSize = -1;
    int64_t FPos = 0, FEnd = 0;
    int64_t FCompared = kDataFileHeaderSize;
    int64_t FIgnoreAt = -16;  // a further save time inside the body (8 bytes), none by default
    uint8_t FHeader[kDataFileHeaderSize] = {};
    uint8_t FBodyTime[8] = {};
    bool FDeferred = false;
    bool FMade = false;
    bool FInstalled = false;
};

}  // namespace

void SaveDataFile(const std::string& path, const std::function<uint32_t(TStream& body)>& writeBody,
                  int64_t bodyTimeAt) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = folder + "/." + name + Format(".saving-%d", ThisProcessId());
    const std::string backup = DataFileBackupName(path);
    // compared only while a backup exists: a library without one is saved, which makes it
    TSaveStream s(temp, FileExists(backup) ? path : std::string(), bodyTimeAt);
    WriteDataFileHeader(s, 0, Now());
    uint32_t count = writeBody(s);
    if (count != 0) {
        int64_t end = s.Position();
        s.Seek(8 + 4, soBeginning);
        s.WriteU32(count);
        s.Seek(end, soBeginning);
    }
    // nothing changed: the file and its backup (the version before) stay as they are
    if (!s.Finish()) return;
    s.Installed();  // from here the file is InstallFileWithBackup's (it removes it on failure)
    InstallFileWithBackup(temp, path, backup);
}

namespace {

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}
std::string NameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// the names in a folder that start with `prefix`, sorted
std::vector<std::string> NamesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    ListDirectory(
        folder, [&](std::string_view name, bool) { return name.size() > prefix.size() && name.starts_with(prefix); },
        [&](std::string_view name, const TFileFacts&) { names.emplace_back(name); });
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::string SetDamagedDataFileAside(const std::string& path) {
    TDateTimeParts t = DecodeDateTime(Now());
    std::string stamp = Format("%04d%02d%02d-%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
    // within one second the names go on after the highest taken, so that they still sort by age
    const std::string base = path + ".damaged-" + stamp;
    std::string aside = base;
    for (int n = 2; n < 100 && (FileExists(aside) || FileExists(base + Format("-%02d", n))); ++n)
        aside = base + Format("-%02d", n);
    if (!RenameNoReplace(path, aside)) {
        WriteLog(Format("%s を %s に移せませんでした。( %s )", path.c_str(), aside.c_str(), std::strerror(errno)));
        return std::string();
    }
    WriteLog(Format("読み込めなかった %s を %s として残しました。", path.c_str(), aside.c_str()));
    // only the newest few are kept (the stamps sort by time)
    const std::string folder = FolderOf(path);
    std::vector<std::string> kept = NamesStartingWith(folder, NameOf(path) + ".damaged-");
    for (size_t i = 0; i + kDamagedDataFilesKept < kept.size(); ++i) RemoveFile(folder + "/" + kept[i]);
    return aside;
}

void RemoveSaveLeftovers(const std::string& dataFolder) {
    const std::string folder = ExcludeTrailingPathDelimiters(dataFolder);
    for (const std::string& name : NamesStartingWith(folder, ".")) {
        size_t at = name.rfind(".saving-");
        if (at == std::string::npos || at == 0) continue;
        const std::string digits = name.substr(at + 8);
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        long pid = std::strtol(digits.c_str(), nullptr, 10);
        if (pid <= 0 || pid == ThisProcessId()) continue;
        // a save of a live process (also one of another user, which kill may not signal) stays
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        if (RemoveFile(folder + "/" + name)) WriteLog(Format("中断された保存の残り %s を削除しました。", name.c_str()));
    }
}

TDataFileSource LoadDataFileWithBackup(const std::string& path, const std::function<void(TStream& file)>& load,
                                       const std::function<void()>& reset) {
    if (!FileExists(path)) return TDataFileSource::None;
    std::exception_ptr mainError;
    try {
        TFileBytes bytes = ReadWholeFile(path);
        TBytesStream s(bytes.Data.get(), bytes.Size);
        load(s);
        return TDataFileSource::Main;
    } catch (const Exception& e) {
        mainError = std::current_exception();
        WriteLog(Format("%s を読み込めませんでした。( %s : %s )", path.c_str(), e.ClassName(), e.Message().c_str()));
    }
    const std::string backup = DataFileBackupName(path);
    if (FileExists(backup)) {
        if (reset) reset();
        try {
            TFileBytes bytes = ReadWholeFile(backup);
            TBytesStream s(bytes.Data.get(), bytes.Size);
            load(s);
            WriteLog(Format("%s の代わりにバックアップ %s を読み込みました。", path.c_str(), backup.c_str()));
            // the damaged file goes aside under its own name, so that the next save does not
            // rotate it into the ".bak" in place of the good copy
            SetDamagedDataFileAside(path);
            return TDataFileSource::Backup;
        } catch (const Exception& e) {
            WriteLog(Format("バックアップ %s も読み込めませんでした。( %s : %s )", backup.c_str(), e.ClassName(),
                            e.Message().c_str()));
        }
        // neither loads fully: keep what the main file gives, as a failed load always does
        if (reset) reset();
        try {
            TFileBytes bytes = ReadWholeFile(path);
            TBytesStream s(bytes.Data.get(), bytes.Size);
            load(s);
        } catch (const Exception&) {
        }
    }
    std::rethrow_exception(mainError);
}

std::string DataFolderInUseText(const std::string& dataFolder) {
    return Format("ライブラリのデータフォルダは他のプログラムが使用中です。\r\n( %s )", dataFolder.c_str());
}

TDataFolderLock::TDataFolderLock(const std::string& dataFolder)
    : FFolder(ExcludeTrailingPathDelimiters(dataFolder)),
      FLock(std::make_unique<TResourceLock>(FFolder + "/CorvaData")) {}

TDataFolderLock::~TDataFolderLock() { Release(); }

bool TDataFolderLock::TryAcquire() { return FLock->Held() || FLock->BeginWrite(0); }

void TDataFolderLock::Release() {
    if (FLock->Held()) FLock->EndWrite();
}

bool TDataFolderLock::Held() const { return FLock->Held(); }

void TDataFolderLock::Acquire() {
    if (!TryAcquire()) throw EDataFolderInUse(DataFolderInUseText(FFolder));
}

}  // namespace fv
