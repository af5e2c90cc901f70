#pragma once
// The library's data files ("CorvaData.tdb", "CorvaGroup.tdb", "CorvaHistory.tdb"): their common
// 24-byte header, a save that never leaves a damaged file behind, a load that falls back to the
// backup when the main file cannot be read, and the lock that gives one process the data folder.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/datetime.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace fv {

class TResourceLock;

constexpr char kDataFileMagic[8] = {'C', 'O', 'R', 'V', 'A', 'D', 'F', 0};
constexpr uint32_t kDataFileVersion = 10;
constexpr int kDataFileHeaderSize = 24;

struct TDataFileHeader {
    bool MagicOk = false;
    uint32_t Version = 0;
    uint32_t Count = 0;  // catalog items in the folder data file, 0 in the others
    TDateTime SaveTime = 0;
};

// magic "CORVADF\0", version 10, count, save time (little-endian, field by field)
void WriteDataFileHeader(TStream& s, uint32_t count, TDateTime saveTime);
// Reads the 24 bytes (EReadError when the stream is shorter); only the magic decides.
TDataFileHeader ReadDataFileHeader(TStream& s);

// "X.tdb" -> "X.bak": the previous version of a data file
std::string DataFileBackupName(const std::string& path);

// Writes a data file without ever exposing a half-written one: header (count 0, now) and body go
// to a temporary file in the same folder, the header is written again with the count the body
// returned, the file is flushed to the disk, and only then does it replace the current file,
// which stays as the ".bak" (the previous ".bak" goes). A failure leaves the current file and its
// ".bak" as they were and raises. When the file and its ".bak" exist and the new file turns out
// to hold the same header and body (only the save time differs), it is dropped unflushed and
// the current file and its ".bak" (the version before) stay. `bodyTimeAt`: where a body that
// records its own save time (8 bytes) keeps it, so that it does not count as a change.
void SaveDataFile(const std::string& path, const std::function<uint32_t(TStream& body)>& writeBody,
                  int64_t bodyTimeAt = -1);

enum class TDataFileSource { None, Main, Backup };

// Loads a data file that exists: `load` gets the whole file as a stream (it reads the header
// itself). When the main file cannot be read (wrong marker or any load error), `reset` empties
// what the first attempt filled in, the ".bak" is loaded instead and that is logged. When the
// backup loads, the main file is set aside (SetDamagedDataFileAside). When the
// backup cannot be read either, what the main file gave is loaded again (a failed load keeps
// whatever it read) and the main file's error is raised. None when the file does not exist.
TDataFileSource LoadDataFileWithBackup(const std::string& path, const std::function<void(TStream& file)>& load,
                                       const std::function<void()>& reset);

// A main file that could not be read while its ".bak" could is renamed to
// "<path>.damaged-yyyymmdd-hhnnss" (the newest kDamagedDataFilesKept of them stay). Returns the
// new name, empty when the rename failed (logged).
constexpr size_t kDamagedDataFilesKept = 3;
std::string SetDamagedDataFileAside(const std::string& path);

// Removes the temporary files of saves whose process has ended (".<name>.saving-<pid>"); those of
// live processes stay. Called under the data-folder lock.
void RemoveSaveLeftovers(const std::string& dataFolder);

// The data folder belongs to one process at a time (the browser or one fvb), so that nobody
// saves over a library another process is working on.
FV_DECLARE_EXCEPTION(EDataFolderInUse, Exception);
class TDataFolderLock {
public:
    explicit TDataFolderLock(const std::string& dataFolder);
    ~TDataFolderLock();
    TDataFolderLock(const TDataFolderLock&) = delete;
    TDataFolderLock& operator=(const TDataFolderLock&) = delete;
    // takes the lock without waiting; false when another process holds it
    bool TryAcquire();
    void Release();
    bool Held() const;
    // EDataFolderInUse with a message naming the folder, when it cannot be taken
    void Acquire();
    const std::string& Folder() const { return FFolder; }

private:
    std::string FFolder;
    std::unique_ptr<TResourceLock> FLock;
};
// the text of EDataFolderInUse for a folder
std::string DataFolderInUseText(const std::string& dataFolder);

}  // namespace fv
