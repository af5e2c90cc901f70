#pragma once
// Copying, moving and deleting files and folders the way a user expects of a file manager:
// progress and cancel, nothing lost on failure, and deleting into the desktop's trash so that
// the user can restore from there.
//
// Copy and move are all or nothing: every file is written under a hidden temporary name in its
// destination folder, flushed to disk and only then renamed to its real name; when anything
// fails (disk full, permission, a source that vanished, a cancel), everything this call created
// at the destination is taken away again and every source file is still in place. A move within
// one file system renames; a move across file systems copies, reads the copy back to verify it,
// and deletes the sources only after the whole copy is verified.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/exception.h"

namespace fv {

FV_DECLARE_EXCEPTION(EFileOpError, Exception);
// the progress callback asked to stop; nothing of the operation is left behind
FV_DECLARE_EXCEPTION(EFileOpAborted, EFileOpError);

struct TFileOpProgress {
    uint64_t BytesDone = 0, BytesTotal = 0;
    uint32_t FilesDone = 0, FilesTotal = 0;
    std::string Current;  // the source file being handled
};

// The places where a file operation touches the disk; a test names one to make it fail.
enum class TFileOpStep { Read, Write, Sync, Rename, Remove, MakeDir };

struct TFileOpOptions {
    // an existing destination file is replaced (it is kept aside until the operation succeeded);
    // otherwise an existing file refuses the operation. Existing folders are always merged into.
    bool Replace = false;
    // called after every chunk and every file; returning false cancels (EFileOpAborted)
    std::function<bool(const TFileOpProgress&)> Progress;
    // test seam: called before each step with the path it works on; a non-zero errno makes the
    // step fail as if the system had returned that error
    std::function<int(TFileOpStep, const std::string& path)> Fault;
};

// Copies a file or folder (with everything below it) into targetFolder under its own name.
// Symbolic links are copied as links, never followed. Modification times and permission bits
// travel with the files. Raises EFileOpError (EFileOpAborted on cancel) after undoing its work.
void CopyIntoFolder(const std::string& source, const std::string& targetFolder, const TFileOpOptions& options = {});
// Moves a file or folder into targetFolder under its own name (see above). When the sources
// cannot all be deleted after a verified cross-device copy, the error names what is left; the
// copies stay, so nothing is lost.
void MoveIntoFolder(const std::string& source, const std::string& targetFolder, const TFileOpOptions& options = {});

// freedesktop.org trash: the home trash ($XDG_DATA_HOME/Trash) for paths on its file system,
// otherwise the volume's "$topdir/.Trash/$uid" (when that folder is set up by the administrator:
// sticky, not a link) or "$topdir/.Trash-$uid". Writes the ".trashinfo" entry (Path, DeletionDate)
// before moving the file, and removes it again when the move fails. Returns the path of the file
// inside the trash's "files" folder. Raises EFileOpError when no trash can take the path.
std::string MoveToTrash(const std::string& path);
// The name of the n-th try (1 = the name itself, then ".2", ".3", ...) for a file in the trash,
// shortened when needed so that it and its ".trashinfo" stay within one file name's length.
std::string TrashEntryName(const std::string& name, int n);
// the home trash folder ($XDG_DATA_HOME/Trash, default ~/.local/share/Trash)
std::string HomeTrashFolder();
// "%"-escaping of a path for the trash info file (RFC 2396 style: "/" and !*'() are kept too)
std::string TrashEscapePath(const std::string& path);

}  // namespace fv

namespace fv {

// Flushes a written file to the disk (data and size); false with errno set on failure.
bool FlushFileToDisk(int fd);
// Puts a completely written and flushed file `temp` in place of `path` in one rename, so that
// `path` is at every moment either the old or the new file. The file it replaces is kept as
// `backup` (the previous backup goes): a second link to it where the file system has links,
// otherwise a rename just before the new file comes in. Errors while keeping the backup are
// ignored; a failing final rename raises EFileOpError and removes `temp`.
void InstallFileWithBackup(const std::string& temp, const std::string& path, const std::string& backup);

}  // namespace fv

namespace fv {

// The identity of the file or folder a path names (links followed): device and inode. Walks
// over folders use it to notice a folder they have been in already (a link back up the tree).
struct TFileIdentity {
    uint64_t Device = 0, Inode = 0;
    bool operator==(const TFileIdentity&) const = default;
    bool operator<(const TFileIdentity& o) const { return Device != o.Device ? Device < o.Device : Inode < o.Inode; }
};
bool GetFileIdentity(const std::string& path, TFileIdentity& out);

}  // namespace fv

namespace fv {

// Renames a file or folder without replacing anything at the new name; false with errno set.
bool RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace fv
