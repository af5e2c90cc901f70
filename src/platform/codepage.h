#pragma once
// Character sets other than UTF-8. Text files written by Japanese Windows programs (exported
// info files, texts from Japanese devices) are CP932: Shift_JIS with the Microsoft extensions.
// ICU does the conversion; this is its one door for code pages.
#include <string>
#include <string_view>

namespace fv {

bool IsValidUtf8(std::string_view text);
// CP932 bytes to UTF-8; undecodable bytes become U+FFFD.
std::string Cp932ToUtf8(std::string_view text);

}  // namespace fv
