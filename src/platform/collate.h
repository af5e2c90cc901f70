#pragma once
// Name comparison for display order and lookups.
//
// Display order is locale-aware through ICU (root collation), either ignoring case
// (secondary strength: accents count, case does not) or with case (tertiary strength).
// Punctuation such as hyphen and apostrophe is not ignored, so it sorts like other
// symbols ("string sort"). Texts are UTF-8 byte strings; bytes that are not valid
// UTF-8 collate as U+FFFD, which is why the exact byte comparison exists as well:
// file systems here are case-sensitive and names may be any bytes, so lookups
// compare exactly.
#include <string>
#include <string_view>

namespace fv {

// Locale comparison ignoring case: negative, zero or positive.
int CompareTextIgnoreCase(std::string_view a, std::string_view b);
// Locale comparison with case (tertiary strength).
int CompareTextWithCase(std::string_view a, std::string_view b);
// Exact byte comparison (unsigned bytes): negative, zero or positive.
int CompareTextExact(std::string_view a, std::string_view b);

// The ICU sort key of a text ignoring case. Comparing two keys byte by byte
// (CompareTextExact) gives the same sign as CompareTextIgnoreCase of the texts;
// callers that compare one text many times keep its key.
std::string CollationKeyIgnoreCase(std::string_view text);

// Name order used by sorted folder and item lists: locale order ignoring case, and
// names that collate equal (only case or invalid bytes differ) by their exact bytes,
// so that the order is total and agrees with exact lookups.
int CompareNameOrder(std::string_view a, std::string_view b);

// Lower-case a UTF-8 text (full Unicode lower-casing; invalid bytes kept as they are).
std::string LowerCaseText(std::string_view text);
// Upper-case ASCII letters only (file-name extensions).
std::string UpperCaseAscii(std::string_view text);

}  // namespace fv
