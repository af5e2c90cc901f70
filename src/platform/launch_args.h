#pragma once
// The browser's command line as the desktop hands it over: start parameters of the key=value
// form, photos and folders by path or as file: URIs (what a file manager passes for %U), and
// the two options that end at once. Pure apart from looking the paths up on disk.
#include <cstddef>
#include <string>
#include <vector>

namespace fv {

// more paths than this on one command line are left out with one line saying how many
constexpr size_t kMaxLaunchPaths = 1000;

struct TLaunchArgs {
    bool Help = false;
    bool Version = false;
    std::vector<std::string> Params;    // everything the start parameters take, in order
    std::vector<std::string> Paths;     // absolute paths of existing photos and folders, in order
    std::vector<std::string> Problems;  // one line per argument that named a path that cannot be opened
};

// Decodes a file: URI into a local path: %XX escapes become raw bytes (the path need not be
// UTF-8), the host must be empty or "localhost", a query or fragment is refused. False with a
// reason in error when the text is not such a URI.
bool DecodeFileUri(const std::string& uri, std::string& path, std::string& error);

// True when the text starts with the file: scheme (any case).
bool IsFileUri(const std::string& text);

// True for the key=value form of a start parameter: a name without '/' before the first '='.
bool IsKeyValueParam(const std::string& text);

// Sorts the arguments. An argument is a path only when it is a file: URI or names an existing
// file or folder (absolute, or relative to cwd); a key=value argument is always a parameter.
// A URI or a text that looks like a path ("/", "./", "../", "~/") but names nothing usable
// (missing, a FIFO, a device) is a problem; anything else stays a parameter.
TLaunchArgs SplitLaunchArgs(const std::vector<std::string>& args, const std::string& cwd);

}  // namespace fv
