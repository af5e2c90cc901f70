// ICU is the one door to locale comparison. Each thread keeps its own collators
// (opened once), so comparisons never contend for a lock.
#include "platform/collate.h"

#include <unicode/ucol.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <cstring>
#include <vector>

namespace fv {

namespace {

struct TCollatorHolder {
    UCollator* Collator = nullptr;
    explicit TCollatorHolder(UCollationStrength strength) {
        UErrorCode err = U_ZERO_ERROR;
        Collator = ucol_open("", &err);  // root collation
        if (U_FAILURE(err)) {
            Collator = nullptr;
            return;
        }
        ucol_setStrength(Collator, strength);
        // punctuation counts ("string sort")
        ucol_setAttribute(Collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &err);
        ucol_setAttribute(Collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &err);
    }
    ~TCollatorHolder() {
        if (Collator) ucol_close(Collator);
    }
    TCollatorHolder(const TCollatorHolder&) = delete;
    TCollatorHolder& operator=(const TCollatorHolder&) = delete;
};

UCollator* SecondaryCollator() {
    thread_local TCollatorHolder holder(UCOL_SECONDARY);
    return holder.Collator;
}

UCollator* TertiaryCollator() {
    thread_local TCollatorHolder holder(UCOL_TERTIARY);
    return holder.Collator;
}

int Sign(int v) { return (v > 0) - (v < 0); }

int Collate(UCollator* c, std::string_view a, std::string_view b) {
    if (!c) return CompareTextExact(a, b);
    UErrorCode err = U_ZERO_ERROR;
    UCollationResult r = ucol_strcollUTF8(c, a.data(), static_cast<int32_t>(a.size()), b.data(),
                                          static_cast<int32_t>(b.size()), &err);
    if (U_FAILURE(err)) return CompareTextExact(a, b);
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

// UTF-8 to UTF-16; invalid bytes become U+FFFD
void ToUtf16(std::string_view text, std::vector<UChar>& out) {
    out.resize(text.size() + 1);
    int32_t len = 0;
    UErrorCode err = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &len, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &err);
    if (U_FAILURE(err)) len = 0;
    out.resize(static_cast<size_t>(len));
}

}  // namespace

int CompareTextExact(std::string_view a, std::string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    int r = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (r != 0) return Sign(r);
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int CompareTextIgnoreCase(std::string_view a, std::string_view b) { return Collate(SecondaryCollator(), a, b); }

int CompareTextWithCase(std::string_view a, std::string_view b) { return Collate(TertiaryCollator(), a, b); }

std::string CollationKeyIgnoreCase(std::string_view text) {
    UCollator* c = SecondaryCollator();
    if (!c) return std::string(text);
    thread_local std::vector<UChar> u16;
    ToUtf16(text, u16);
    std::string key;
    key.resize(u16.size() * 3 + 16);
    for (;;) {
        int32_t need = ucol_getSortKey(c, u16.data(), static_cast<int32_t>(u16.size()),
                                       reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
        if (need <= 0) return std::string(text);
        if (static_cast<size_t>(need) <= key.size()) {
            key.resize(static_cast<size_t>(need) - 1);  // drop the terminating zero
            return key;
        }
        key.resize(static_cast<size_t>(need));
    }
}

int CompareNameOrder(std::string_view a, std::string_view b) {
    int r = CompareTextIgnoreCase(a, b);
    return r != 0 ? r : CompareTextExact(a, b);
}

std::string LowerCaseText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const char* s = text.data();
    int32_t len = static_cast<int32_t>(text.size());
    int32_t i = 0;
    while (i < len) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, len, c);
        if (c < 0) {
            out.append(s + start, static_cast<size_t>(i - start));  // invalid bytes stay
            continue;
        }
        UChar32 l = u_tolower(c);
        char buf[4];
        int32_t n = 0;
        UBool bad = false;
        U8_APPEND(buf, n, 4, l, bad);
        if (bad) out.append(s + start, static_cast<size_t>(i - start));
        else out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::string UpperCaseAscii(std::string_view text) {
    std::string out(text);
    for (char& ch : out)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    return out;
}

}  // namespace fv
