#pragma once
// JSON text for the command-line tools (fvb and the stand-in service).
#include <string>

namespace fv {

// a quoted JSON string; control characters escaped, invalid UTF-8 replaced by U+FFFD
std::string JsonString(const std::string& s);
// a JSON number, "null" for what JSON cannot hold (NaN, infinities)
std::string JsonNumber(double v);

}  // namespace fv
