#pragma once
// The subcommands of fvb. Each takes the arguments after its name and returns the exit
// status: 0 every file was handled, 1 some could not be read, 2 bad usage.
#include <cstdint>
#include <string>
#include <vector>

#include "../common/json_text.h"

namespace fv::fvb {

using TArgs = std::vector<std::string>;

int CmdInfo(const TArgs& args);
int CmdExif(const TArgs& args);
int CmdThumb(const TArgs& args);
// the library of the browser's data folder
int CmdScan(const TArgs& args);
int CmdLs(const TArgs& args);
int CmdFind(const TArgs& args);
int CmdApi(const TArgs& args);
int CmdThumbs(const TArgs& args);
int CmdCalendar(const TArgs& args);
int CmdAlbums(const TArgs& args);

// a whole decimal number within lo..hi
bool ParseInt(const std::string& s, int lo, int hi, int& out);

}  // namespace fv::fvb

namespace fv::fvb {

// how a picture file is laid out, from its first bytes
enum TFileLayout { flUnreadable, flJpeg, flTiff, flOther };
TFileLayout SniffFile(const std::string& path, std::string& error);

// The item kind the library's file-type registry gives the file's extension (every kind
// registered), or false when the registry does not list it.
bool RegisteredKind(const std::string& path, uint8_t& kind);

}  // namespace fv::fvb
