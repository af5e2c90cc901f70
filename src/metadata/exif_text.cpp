// Character conversions of EXIF texts: JIS to Shift_JIS, CP932 or UTF-16 to UTF-8.
#include <unicode/ucnv.h>

#include <string>
#include <vector>

#include "metadata/exif_item.h"

namespace fv {

namespace {

bool IsValidUtf8(const std::string& s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        auto c = static_cast<uint8_t>(s[i]);
        int extra;
        uint32_t cp;
        if (c < 0x80) { ++i; continue; }
        if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; }
        else return false;
        if (i + static_cast<size_t>(extra) >= n) return false;
        for (int k = 1; k <= extra; ++k) {
            auto d = static_cast<uint8_t>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string Utf16ToUtf8(const std::vector<uint16_t>& units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        AppendUtf8(out, u);
    }
    return out;
}

std::string ForeignTextToUtf8(const std::string& text) {
    if (IsValidUtf8(text)) return text;
    UErrorCode status = U_ZERO_ERROR;
    // CP932 expands to at most 3 UTF-8 bytes per input byte
    std::string out(text.size() * 3 + 4, '\0');
    int32_t n = ucnv_convert("UTF-8", "windows-31j", out.data(), static_cast<int32_t>(out.size()), text.data(),
                             static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status) || n < 0) {
        // no converter: keep the ASCII part and mark the rest
        std::string ascii;
        for (char c : text) ascii.push_back(static_cast<uint8_t>(c) < 0x80 ? c : '?');
        return ascii;
    }
    out.resize(static_cast<size_t>(n));
    return out;
}

int TextColumns(const std::string& s) {
    int cols = 0;
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<uint8_t>(s[i]);
        size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 1;
        uint32_t cp = c;
        if (n > 1 && i + n <= s.size()) {
            cp = c & (0x7F >> n);
            for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
        }
        cols += (cp < 0x80 || (cp >= 0xFF61 && cp <= 0xFF9F)) ? 1 : 2;
        i += n;
    }
    return cols;
}

std::string PadColumns(const std::string& s, int width, bool leftAlign) {
    int cols = TextColumns(s);
    if (cols >= width) return s;
    std::string pad(static_cast<size_t>(width - cols), ' ');
    return leftAlign ? s + pad : pad + s;
}

std::string JisToSjis(const std::string& text) {
    std::string out;
    bool twoByte = false;
    size_t i = 0, n = text.size();
    while (i < n) {
        auto c = static_cast<uint8_t>(text[i]);
        if (c == 0x1B && i + 2 < n && (text[i + 1] == '$' || text[i + 1] == '(')) {
            twoByte = text[i + 1] == '$';
            i += 3;
            continue;
        }
        if (twoByte && i + 1 < n) {
            auto j1 = static_cast<uint8_t>(text[i]);
            auto j2 = static_cast<uint8_t>(text[i + 1]);
            uint8_t s1 = static_cast<uint8_t>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
            uint8_t s2;
            if (j1 & 1) s2 = static_cast<uint8_t>(j2 + (j2 >= 0x60 ? 0x20 : 0x1F));
            else s2 = static_cast<uint8_t>(j2 + 0x7E);
            out.push_back(static_cast<char>(s1));
            out.push_back(static_cast<char>(s2));
            i += 2;
            continue;
        }
        out.push_back(static_cast<char>(c));
        ++i;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace fv
