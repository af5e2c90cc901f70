#include "platform/file_name.h"

namespace fv {

std::string_view FileExtView(std::string_view fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) return {};
    const size_t slash = fileName.rfind('/');
    if (slash != std::string_view::npos && dot < slash) return {};
    return fileName.substr(dot);
}

std::string UpperFileExt(std::string_view fileName) {
    std::string ext(FileExtView(fileName));
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

}  // namespace fv
