#pragma once
// The library as fvb sees it: the same data folder as the browser, opened and closed through the
// engine's own start and end, so that a scan is saved exactly as the browser saves its library.
#include <string>

#include "library/catalog_item.h"

namespace fv::fvb {

// Opens the log and the engine with the library body; refuses (exit status 3) with a clear
// message while another process (the browser, another fvb) holds the data folder, and (exit
// status 4) when the library could not be read completely.
class TLibrarySession {
public:
    TLibrarySession() = default;
    ~TLibrarySession();
    TLibrarySession(const TLibrarySession&) = delete;
    TLibrarySession& operator=(const TLibrarySession&) = delete;
    // false after printing why; the exit status to return is in FailStatus
    bool Open();
    // saves (unless asked not to) and frees; false when the end reported an error (printed)
    bool Close(bool save = true);
    int FailStatus = 3;

private:
    bool FOpen = false;
    bool FLogOpen = false;
};

// "jpeg", "raw", ... for an item kind
const char* KindName(int kind);
// "yyyy/mm/dd hh:nn:ss", or "-" for no date
std::string DateText(double value);
// the text for a terminal: CR LF line ends of the program's messages as plain LF
std::string TerminalText(const std::string& s);
// a name as a terminal can show it: bytes that are not UTF-8 as \xNN
std::string ShownName(const std::string& s);

}  // namespace fv::fvb
