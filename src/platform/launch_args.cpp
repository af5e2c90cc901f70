#include "platform/launch_args.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace fv {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// "/a/./b/../c" -> "/a/c"; the path is absolute, ".." at the root stays at the root
std::string NormalizeAbsolute(const std::string& path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(std::move(part));
        }
        i = j + 1;
    }
    std::string out;
    for (const std::string& p : parts) out += "/" + p;
    return out.empty() ? std::string("/") : out;
}

bool LooksLikePath(const std::string& text) {
    return text.starts_with('/') || text.starts_with("./") || text.starts_with("../") || text.starts_with("~/") ||
           text == "." || text == ".." || text == "~";
}

// Shown in the message box: control bytes and bytes that are not UTF-8 are written as \xNN.
std::string Printable(const std::string& text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        bool ok = len > 0 && i + len <= text.size() && !(len == 1 && (c < 0x20 || c == 0x7F));
        if (len == 2 && c < 0xC2) ok = false;
        for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (ok) {
            out.append(text, i, len);
            i += len;
        } else {
            static const char* hex = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
        }
    }
    return out;
}

// The reason a path cannot be opened, or empty when it names a photo file or a folder.
std::string CheckOpenable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "ありません (not found)";
        return std::string("開けません (") + std::strerror(errno) + ")";
    }
    if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) return {};
    return "写真でもフォルダでもありません (not a file or a folder)";
}

}  // namespace

bool IsFileUri(const std::string& text) { return StartsWithNoCase(text, "file:"); }

bool IsKeyValueParam(const std::string& text) {
    size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    return text.find('/') > eq && !IsFileUri(text);
}

bool DecodeFileUri(const std::string& uri, std::string& path, std::string& error) {
    path.clear();
    if (!IsFileUri(uri)) {
        error = "file: の URI ではありません (not a file: URI)";
        return false;
    }
    std::string rest = uri.substr(5);
    if (rest.find_first_of("?#") != std::string::npos) {
        error = "file: の URI に ? や # は使えません (a file URI carries no query or fragment)";
        return false;
    }
    if (rest.starts_with("//")) {
        size_t slash = rest.find('/', 2);
        std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
        bool local = host.empty() || (host.size() == 9 && StartsWithNoCase(host, "localhost"));
        if (!local) {
            error = "別のコンピュータ (" + host + ") のファイルです (the file is on another computer)";
            return false;
        }
        rest = slash == std::string::npos ? std::string("/") : rest.substr(slash);
    }
    if (!rest.starts_with('/')) {
        error = "file: の URI はルートからのパスで書きます (a file URI names an absolute path)";
        return false;
    }
    std::string out;
    out.reserve(rest.size());
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] != '%') {
            out += rest[i];
            continue;
        }
        int hi = i + 1 < rest.size() ? HexValue(rest[i + 1]) : -1;
        int lo = i + 2 < rest.size() ? HexValue(rest[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            error = "% の書き方が正しくありません (a broken %-escape)";
            return false;
        }
        char c = static_cast<char>(hi * 16 + lo);
        if (c == '\0') {
            error = "ファイル名に NUL 文字は使えません (a file name holds no NUL byte)";
            return false;
        }
        out += c;
        i += 2;
    }
    path = std::move(out);
    return true;
}

TLaunchArgs SplitLaunchArgs(const std::vector<std::string>& args, const std::string& cwd) {
    TLaunchArgs out;
    size_t dropped = 0;
    auto addPath = [&](const std::string& path) {
        if (out.Paths.size() < kMaxLaunchPaths)
            out.Paths.push_back(path);
        else
            ++dropped;
    };
    auto addProblem = [&](const std::string& arg, const std::string& why) {
        // one line each, but never an unbounded message box
        if (out.Problems.size() < 20)
            out.Problems.push_back(Printable(arg) + ": " + why);
        else if (out.Problems.size() == 20)
            out.Problems.push_back("...");
    };
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out.Help = true;
            continue;
        }
        if (arg == "--version") {
            out.Version = true;
            continue;
        }
        if (IsFileUri(arg)) {
            std::string path, error;
            if (!DecodeFileUri(arg, path, error)) {
                addProblem(arg, error);
                continue;
            }
            path = NormalizeAbsolute(path);
            std::string why = CheckOpenable(path);
            if (why.empty())
                addPath(path);
            else
                addProblem(path, why);
            continue;
        }
        if (arg.empty() || IsKeyValueParam(arg)) {
            out.Params.push_back(arg);
            continue;
        }
        std::string path = arg.starts_with('/') ? arg : cwd + "/" + arg;
        path = NormalizeAbsolute(path);
        std::string why = arg.find('\0') == std::string::npos ? CheckOpenable(path) : std::string("?");
        if (why.empty()) {
            addPath(path);
        } else if (LooksLikePath(arg)) {
            addProblem(arg, why);
        } else {
            out.Params.push_back(arg);
        }
    }
    if (dropped) out.Problems.push_back("ほかの " + std::to_string(dropped) + " 個のパスは開きませんでした (" + std::to_string(dropped) + " more paths were left out)");
    return out;
}

}  // namespace fv
