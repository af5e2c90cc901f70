#pragma once
// The one place file-name extensions are taken apart: every extension table of the program
// (file-type registry, raw kinds, EXIF file types, picture writers) compares the form
// UpperFileExt gives.
#include <string>
#include <string_view>

namespace fv {

// The extension of the last part of a path, with its dot; "" when that part has none
// ("a.b/c" has none, "c." has ".").
std::string_view FileExtView(std::string_view fileName);
// The same with ASCII letters upper-cased.
std::string UpperFileExt(std::string_view fileName);

}  // namespace fv
