#pragma once
// Percent-encoding of text for URLs and for the trash's info files: every byte but the unreserved
// characters (ASCII letters and digits, "-", "_", ".", "~") and those the caller also keeps
// becomes "%XX" with upper-case hex digits. Bytes are taken as they are, so UTF-8 text gives one
// escape per byte, and the result does not depend on the locale.
#include <string>
#include <string_view>

namespace fv {

// alsoKept: more ASCII characters written as they are ("/" for a path, and so on)
std::string PercentEncode(std::string_view text, std::string_view alsoKept = {});

}  // namespace fv
