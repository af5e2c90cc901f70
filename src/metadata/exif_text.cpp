// Character conversions of EXIF texts: JIS to Shift_JIS, texts of Japanese devices to
// UTF-8 (through the platform's code-page conversion), display columns.
#include <string>

#include "metadata/exif_item.h"
#include "platform/codepage.h"

namespace fv {

std::string ForeignTextToUtf8(const std::string& text) {
    return IsValidUtf8(text) ? text : Cp932ToUtf8(text);
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
