#pragma once
// Small icons of files and folders from the desktop icon theme. Views refer to an icon by
// its index in one process-wide list, the way they used the system's small-icon list;
// files of the same type share one entry. Call on the user-interface thread only.
#include <QIcon>
#include <string>

namespace fv {

// Index of the file's small icon (the "open" variant for folders); -1 when the file
// does not exist or the theme has no icon for it.
int GetSystemIconIndex(const std::string& file, bool open);
// The icon behind an index; a null icon for an index outside the list.
QIcon SystemIcon(int index);

}  // namespace fv
