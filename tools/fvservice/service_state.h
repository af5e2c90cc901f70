#pragma once
// The stand-in's memory: sessions, books with their photos, uploaded resources, rest lists of the
// background uploads, posted logs, the card directory built from sample photos, the faults to
// play, and a journal of every request. One lock guards all of it.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "../common/json_text.h"

namespace fvs {

// One multipart form as it arrived: field names in order, text values, files by size and hash.
struct TFormFile {
    std::string FileName, ContentType;
    uint64_t Size = 0;
    uint64_t Hash = 1469598103934665603ull;  // FNV-1a of the bytes
    std::string Head;                        // the first bytes (kind checks)
};
struct TForm {
    std::vector<std::string> Order;
    std::map<std::string, std::string> Text;
    std::map<std::string, TFormFile> Files;
    std::string Get(const std::string& name) const {
        auto it = Text.find(name);
        return it == Text.end() ? std::string() : it->second;
    }
    bool Has(const std::string& name) const { return Text.count(name) || Files.count(name); }
};

// A fault played on the requests of one path ("*" = every service path).
struct TFault {
    int Status = 0;            // answer with this HTTP status
    std::string ErrorCode;     // answer with an error document of this code
    int DelayMs = 0;           // wait before answering
    int RateBytesPerSec = 0;   // send the answer at this rate
    bool Hang = false;         // never answer (until the client gives up or the service stops)
    int HangMs = 60000;        // how long a hang holds its connection
    bool Drop = false;         // close the connection in the middle of the answer
    bool Malformed = false;    // cut the XML answer in the middle
    bool Stray = false;        // answer 200 with a page that is not the service's document
    std::string Hostile;       // put this text into every identifier of the answer
    std::string Redirect;      // answer 302 to this location
    int Remaining = -1;        // requests left to play it on; -1 = until cleared
};

struct TPhoto {
    std::string ResUuid, EditMode, Comment, OrgFileName;
    std::vector<std::string> Tags;
    int OrgWidth = 0, OrgHeight = 0;
};

struct TBook {
    std::string Title, PreviewUrl, Session;
    std::map<int, TPhoto> Photos;  // by photo index
    std::vector<std::string> Bgm;  // resource ids of the music
    bool Finished = false, Complete = false;
    std::string CreateMode, DirectType, DirectName, TabName;
};

struct TResource {
    std::string Book, HostName, LongSession, Kind;  // Kind: "photo", "bgm", "card"
    std::map<std::string, uint64_t> BytesByThumb;   // "full" or the thumbnail id -> bytes received
    bool Failed = false;
};

struct TCardPhoto {
    std::string ResId, FileName, Path, ModifyTs;
    int Width = 0, Height = 0, Revision = 1;
    uint64_t Size = 0;
};

struct TJournalEntry {
    std::string Method, Path;
    std::vector<std::string> Fields;
    std::map<std::string, std::string> Text;
    std::map<std::string, TFormFile> Files;
    int Status = 0;
};

class TServiceState {
public:
    std::mutex Lock;
    std::string BaseUrl;  // "http://127.0.0.1:port"
    std::map<std::string, std::string> Sessions;      // id -> "valid" / "expired" / "loggedout"
    std::map<std::string, std::string> LongSessions;  // id -> "valid" / "expired" / "finished"
    std::map<std::string, TBook> Books;
    std::map<std::string, TResource> Resources;
    std::vector<std::string> Logs;
    std::vector<std::pair<std::string, bool>> FinishedBack;  // long session, iscomplete
    std::vector<uint64_t> BodyIcons;                         // sizes
    std::vector<TCardPhoto> Card;
    std::string CardDirId = "card-1";
    int CardRevision = 1;
    std::map<std::string, TFault> Faults;
    std::vector<TJournalEntry> Journal;
    std::string AppInfoTemplate;  // replaces the built-in document when set; "{base}" = BaseUrl
    int NextBook = 2001, NextRes = 1, NextLong = 1;
    bool AllowParallel = true;

    void Reset(const std::string& photosDir);
    std::string AppInfoDocument();
    std::string StateJson();
    // the fault for a path, counted down; false when none applies
    bool TakeFault(const std::string& path, TFault& fault);
};

std::string XmlEscape(const std::string& s);
using fv::JsonString;

}  // namespace fvs
