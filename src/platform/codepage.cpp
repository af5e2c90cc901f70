#include "platform/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <vector>

namespace fv {

bool IsValidUtf8(std::string_view text) {
    const char* s = text.data();
    int32_t len = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < len) {
        UChar32 c;
        U8_NEXT(s, i, len, c);
        if (c < 0) return false;
    }
    return true;
}

std::string Cp932ToUtf8(std::string_view text) {
    if (text.empty()) return std::string();
    UErrorCode err = U_ZERO_ERROR;
    UConverter* conv = ucnv_open("windows-31j", &err);
    if (U_FAILURE(err) || !conv) return std::string(text);
    std::vector<UChar> u16(text.size() + 1);
    err = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(conv, u16.data(), static_cast<int32_t>(u16.size()), text.data(),
                              static_cast<int32_t>(text.size()), &err);
    ucnv_close(conv);
    if (U_FAILURE(err) || n < 0) return std::string(text);
    std::string out(static_cast<size_t>(n) * 3 + 1, '\0');
    int32_t outLen = 0;
    err = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &outLen, u16.data(), n, 0xFFFD, nullptr, &err);
    if (U_FAILURE(err)) return std::string(text);
    out.resize(static_cast<size_t>(outLen));
    return out;
}

}  // namespace fv
