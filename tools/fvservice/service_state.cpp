#include "service_state.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <type_traits>

#include "image/jpeg_codec.h"

namespace fvs {

namespace fs = std::filesystem;

std::string XmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

namespace {

std::string IsoTime(fs::file_time_type t) {
    auto sys = std::chrono::time_point_cast<std::chrono::seconds>(t - fs::file_time_type::clock::now() +
                                                                  std::chrono::system_clock::now());
    std::time_t tt = std::chrono::system_clock::to_time_t(sys);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

std::string FileJson(const TFormFile& f) {
    char hash[24];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(f.Hash));
    return "{\"filename\":" + JsonString(f.FileName) + ",\"type\":" + JsonString(f.ContentType) +
           ",\"size\":" + std::to_string(f.Size) + ",\"hash\":\"" + hash + "\"}";
}

template <class Map, class Fn>
std::string JsonObject(const Map& m, Fn value) {
    std::string out = "{";
    bool first = true;
    for (const auto& [k, v] : m) {
        if (!first) out += ",";
        first = false;
        if constexpr (std::is_same_v<std::decay_t<decltype(k)>, std::string>)
            out += JsonString(k) + ":" + value(v);
        else
            out += JsonString(std::to_string(k)) + ":" + value(v);
    }
    return out + "}";
}

std::string StringList(const std::vector<std::string>& v) {
    std::string out = "[";
    for (size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + JsonString(v[i]);
    return out + "]";
}

}  // namespace

void TServiceState::Reset(const std::string& photosDir) {
    Sessions = {{"test-session", "valid"}, {"expired-session", "expired"}};
    LongSessions.clear();
    Books.clear();
    // two books the user already has
    TBook a;
    a.Title = "夏の旅";
    a.PreviewUrl = BaseUrl + "/book/1001/preview.html";
    a.Session = "test-session";
    Books["1001"] = a;
    TBook b;
    b.Title = "Birthday";
    b.PreviewUrl = BaseUrl + "/book/1002/preview.html";
    b.Session = "test-session";
    Books["1002"] = b;
    Resources.clear();
    Logs.clear();
    FinishedBack.clear();
    BodyIcons.clear();
    Faults.clear();
    Journal.clear();
    AppInfoTemplate.clear();
    NextBook = 2001;
    NextRes = 1;
    NextLong = 1;
    AllowParallel = true;
    CardRevision = 1;
    Card.clear();
    // the card directory: the sample photos, in name order
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(photosDir, ec)) {
        std::string ext = e.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (e.is_regular_file() && (ext == ".jpg" || ext == ".jpeg")) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& p : files) {
        TCardPhoto c;
        char id[16];
        std::snprintf(id, sizeof id, "r%04d", static_cast<int>(Card.size() + 1));
        c.ResId = id;
        c.FileName = p.filename().string();
        c.Path = p.string();
        c.Size = fs::file_size(p, ec);
        c.ModifyTs = IsoTime(fs::last_write_time(p, ec));
        std::ifstream in(p, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        try {
            fv::TJpegHeader h = fv::ReadJpegHeader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            c.Width = h.Width;
            c.Height = h.Height;
        } catch (const std::exception&) {
            continue;  // not a picture the card would have sent
        }
        Card.push_back(c);
    }
}

std::string TServiceState::AppInfoDocument() {
    std::string doc = AppInfoTemplate;
    if (doc.empty()) {
        doc =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<getAppInfo_response ver=\"1.0\">\n"
            "  <booturl src=\"{base}/home/index.html\"/>\n"
            "  <baseurl src=\"{base}/api/\"/>\n"
            "  <getappinfourl src=\"{base}/getAppInfo.php\"/>\n"
            "  <getinstallerurl src=\"{base}/installer/FVBSetup.exe?product=fvb\"/>\n"
            "  <uploadurl src=\"{base}/api/upload.php\"/>\n"
            "  <newfolvanepreviewurl src=\"{base}/book/new.html\"/>\n"
            "  <networkcheck value=\"enable\" offlineannounceurl=\"offline/index.html\"/>\n"
            "  <helpurl src=\"file://help/index.html\"/>\n"
            "  <logurl src=\"{base}/log/saveLog.php\" longsessionid=\"{logsession}\"/>\n"
            "  <remotephotourl src=\"{base}/remote/\"/>\n"
            "  <initialparams><pictoriumcashmax kbyes=\"51200\"/></initialparams>\n"
            "  <errormessages>\n"
            "    <type value=\"networkError\" code=\"\" src=\"file://error/network.html\"/>\n"
            "    <type value=\"socketeEror\" code=\"\" src=\"file://error/socket.html\"/>\n"
            "  </errormessages>\n"
            "  <firstwakeup/><wakeup/>\n"
            "  <localwakeup><procs><networkcheck>\n"
            "    <online><setmode value=\"disppage\"><parameter name=\"url\" value=\"{base}/home/index.html\"/></setmode></online>\n"
            "    <offline><dialog kind=\"error\"><message>オフラインです</message></dialog></offline>\n"
            "  </networkcheck></procs></localwakeup>\n"
            "  <uis>\n"
            "    <menu name=\"debug\" disp=\"hidden\"/>\n"
            "    <dialog name=\"debugInfo\" disp=\"hidden\"/>\n"
            "    <toolbar name=\"tab\" disp=\"enable\"/>\n"
            "    <toolbar name=\"folvanetray\" disp=\"enable\"/>\n"
            "  </uis>\n"
            "  <configname name=\"default\"/>\n"
            "  <updatemessages>\n"
            "    <dialog src=\"{base}/update/message.html\" width=\"400\" height=\"300\"/>\n"
            "    <vistaonly>false</vistaonly>\n"
            "    <button type=\"yes,no\"/>\n"
            "  </updatemessages>\n"
            "</getAppInfo_response>\n";
    }
    // one long session for the usage log per document
    std::string logSession = "log-" + std::to_string(NextLong++);
    LongSessions[logSession] = "valid";
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{base}", BaseUrl}, {"{logsession}", logSession}}) {
        for (size_t at = doc.find(key); at != std::string::npos; at = doc.find(key, at + value.size()))
            doc.replace(at, key.size(), value);
    }
    return doc;
}

bool TServiceState::TakeFault(const std::string& path, TFault& fault) {
    auto it = Faults.find(path);
    if (it == Faults.end()) it = Faults.find("*");
    if (it == Faults.end()) return false;
    fault = it->second;
    if (it->second.Remaining > 0 && --it->second.Remaining == 0) Faults.erase(it);
    return true;
}

std::string TServiceState::StateJson() {
    std::ostringstream o;
    o << "{\"sessions\":" << JsonObject(Sessions, [](const std::string& v) { return JsonString(v); });
    o << ",\"longsessions\":" << JsonObject(LongSessions, [](const std::string& v) { return JsonString(v); });
    o << ",\"books\":" << JsonObject(Books, [](const TBook& b) {
        std::string photos = JsonObject(b.Photos, [](const TPhoto& p) {
            return "{\"resuuid\":" + JsonString(p.ResUuid) + ",\"editmode\":" + JsonString(p.EditMode) +
                   ",\"comment\":" + JsonString(p.Comment) + ",\"orgfilename\":" + JsonString(p.OrgFileName) +
                   ",\"tags\":" + StringList(p.Tags) + ",\"orgwidth\":" + std::to_string(p.OrgWidth) +
                   ",\"orgheight\":" + std::to_string(p.OrgHeight) + "}";
        });
        return "{\"title\":" + JsonString(b.Title) + ",\"photos\":" + photos + ",\"bgm\":" + StringList(b.Bgm) +
               ",\"finished\":" + (b.Finished ? "true" : "false") + ",\"complete\":" + (b.Complete ? "true" : "false") +
               ",\"createmode\":" + JsonString(b.CreateMode) + ",\"direct_type\":" + JsonString(b.DirectType) +
               ",\"direct_name\":" + JsonString(b.DirectName) + ",\"tabname\":" + JsonString(b.TabName) + "}";
    });
    o << ",\"resources\":" << JsonObject(Resources, [](const TResource& r) {
        return "{\"book\":" + JsonString(r.Book) + ",\"hostname\":" + JsonString(r.HostName) +
               ",\"longsessionid\":" + JsonString(r.LongSession) + ",\"kind\":" + JsonString(r.Kind) +
               ",\"failed\":" + (r.Failed ? "true" : "false") + ",\"bytes\":" +
               JsonObject(r.BytesByThumb, [](uint64_t n) { return std::to_string(n); }) + "}";
    });
    o << ",\"logs\":" << StringList(Logs);
    o << ",\"finishedback\":[";
    for (size_t i = 0; i < FinishedBack.size(); ++i)
        o << (i ? "," : "") << "{\"longsessionid\":" << JsonString(FinishedBack[i].first)
          << ",\"iscomplete\":" << (FinishedBack[i].second ? "true" : "false") << "}";
    o << "],\"bodyicons\":[";
    for (size_t i = 0; i < BodyIcons.size(); ++i) o << (i ? "," : "") << BodyIcons[i];
    o << "],\"card\":{\"dirid\":" << JsonString(CardDirId) << ",\"revision\":" << CardRevision
      << ",\"count\":" << Card.size() << "}";
    o << ",\"journal\":[";
    for (size_t i = 0; i < Journal.size(); ++i) {
        const TJournalEntry& j = Journal[i];
        o << (i ? "," : "") << "{\"method\":" << JsonString(j.Method) << ",\"path\":" << JsonString(j.Path)
          << ",\"status\":" << j.Status << ",\"fields\":" << StringList(j.Fields)
          << ",\"text\":" << JsonObject(j.Text, [](const std::string& v) { return JsonString(v); })
          << ",\"files\":" << JsonObject(j.Files, [](const TFormFile& f) { return FileJson(f); }) << "}";
    }
    o << "]}";
    return o.str();
}

}  // namespace fvs
