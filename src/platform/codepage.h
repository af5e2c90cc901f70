#pragma once
// Character sets other than UTF-8. Text files written by Japanese Windows programs (exported
// info files, texts from Japanese devices) are CP932: Shift_JIS with the Microsoft extensions.
// ICU does the conversion; this is its one door for code pages.
#include <string>
#include <string_view>

namespace fv {

// One failure rule for every conversion here: the result is always valid UTF-8, and
// whatever cannot be decoded (or everything outside ASCII, should the converter itself be
// missing) becomes U+FFFD.
bool IsValidUtf8(std::string_view text);
// CP932 bytes to UTF-8.
std::string Cp932ToUtf8(std::string_view text);
// UTF-16 code units to UTF-8 (unpaired surrogates become U+FFFD).
std::string Utf16ToUtf8(std::u16string_view units);

}  // namespace fv
