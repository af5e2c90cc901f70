#include "platform/exception.h"

#include <cstdio>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>
#include <vector>

namespace fv {

std::string FormatV(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0) return {};
    if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string Format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string s = FormatV(fmt, ap);
    va_end(ap);
    return s;
}

std::string ExceptionClassName(const std::exception& e) {
    if (auto* ours = dynamic_cast<const Exception*>(&e)) return ours->ClassName();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status), std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(typeid(e).name());
}

}  // namespace fv
