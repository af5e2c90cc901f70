#include "core/data_file.h"

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

void SaveDataFile(const std::string& path, const std::function<uint32_t(TStream& body)>& writeBody) {
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = folder + "/." + name + Format(".saving-%d", ThisProcessId());
    try {
        TFileStream f(temp, TFileStream::fmCreate);
        f.SetSize(0);
        WriteDataFileHeader(f, 0, Now());
        uint32_t count = writeBody(f);
        if (count != 0) {
            int64_t end = f.Position();
            f.Seek(8 + 4, soBeginning);
            f.WriteU32(count);
            f.Seek(end, soBeginning);
        }
        if (!FlushFileToDisk(f.Handle())) RaiseLastOSError("fsync " + temp);
    } catch (...) {
        RemoveFile(temp);
        throw;
    }
    InstallFileWithBackup(temp, path, DataFileBackupName(path));
}

namespace {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    TMemoryStream m;
    m.LoadFromFile(path);
    return std::move(m.Data());
}

}  // namespace

TDataFileSource LoadDataFileWithBackup(const std::string& path, const std::function<void(TStream& file)>& load,
                                       const std::function<void()>& reset) {
    if (!FileExists(path)) return TDataFileSource::None;
    std::exception_ptr mainError;
    try {
        TMemoryStream s(ReadWholeFile(path));
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
            TMemoryStream s(ReadWholeFile(backup));
            load(s);
            WriteLog(Format("%s の代わりにバックアップ %s を読み込みました。", path.c_str(), backup.c_str()));
            return TDataFileSource::Backup;
        } catch (const Exception& e) {
            WriteLog(Format("バックアップ %s も読み込めませんでした。( %s : %s )", backup.c_str(), e.ClassName(),
                            e.Message().c_str()));
        }
        // neither loads fully: keep what the main file gives, as a failed load always does
        if (reset) reset();
        try {
            TMemoryStream s(ReadWholeFile(path));
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
