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

namespace {

// the failure rule: ASCII kept, every other byte U+FFFD
std::string AsciiOrReplacement(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x80) out.push_back(c);
        else out += "\xEF\xBF\xBD";
    }
    return out;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view units) {
    if (units.empty()) return std::string();
    std::string out(units.size() * 3 + 1, '\0');
    int32_t outLen = 0;
    UErrorCode err = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &outLen, units.data(),
                       static_cast<int32_t>(units.size()), 0xFFFD, nullptr, &err);
    if (U_FAILURE(err)) {
        out.clear();
        for (size_t i = 0; i < units.size(); ++i) out += "\xEF\xBF\xBD";
        return out;
    }
    out.resize(static_cast<size_t>(outLen));
    return out;
}

std::string Cp932ToUtf8(std::string_view text) {
    if (text.empty()) return std::string();
    UErrorCode err = U_ZERO_ERROR;
    UConverter* conv = ucnv_open("windows-31j", &err);
    if (U_FAILURE(err) || !conv) return AsciiOrReplacement(text);
    std::u16string u16(text.size() + 1, u'\0');
    err = U_ZERO_ERROR;
    int32_t n = ucnv_toUChars(conv, u16.data(), static_cast<int32_t>(u16.size()), text.data(),
                              static_cast<int32_t>(text.size()), &err);
    ucnv_close(conv);
    if (U_FAILURE(err) || n < 0) return AsciiOrReplacement(text);
    return Utf16ToUtf8(std::u16string_view(u16.data(), static_cast<size_t>(n)));
}

}  // namespace fv
