// fvservice: the local stand-in of the photo-book service, for tests and demos. It speaks every
// call the browser makes (application information, book check, uploads and their background
// rest, usage logs, log-out, body icon, music, the wireless-card directory with thumbnails and
// resources, the installer and the update message), keeps what it is sent, and plays faults on
// request. Loopback only.
//
//   fvservice [--port N] [--tls CERT KEY] [--photos DIR]
//
// Prints "fvservice listening on http(s)://127.0.0.1:PORT" once it accepts connections.
// Paths: /getAppInfo.php, /api/<script>.php, /log/saveLog.php, /remote/<script>.php, GET
// /installer/FVBSetup.exe and /update/message.html. Sessions: "test-session" (valid),
// "expired-session" (expired); books "1001" and "1002"; the card holds the sample photos.
//
// Admin paths (fields as query, url-encoded or multipart):
//   GET  /_admin/state        everything it holds and a journal of every request, as JSON
//   POST /_admin/fault        path=<service path or *> and one or more of: status=N (answer that
//                             HTTP status), error=CODE (an error document), delay_ms=N, rate=N (bytes
//                             per second), hang=1 [hang_ms=N] (accept and never answer), drop=1 (close
//                             in the middle of the answer), malformed=1 (cut XML), stray=1 (a 200 page
//                             that is not the service's), hostile=TEXT (every identifier of the
//                             answer), redirect=URL, count=N (only the next N requests); clear=1
//                             removes the path's fault (all faults without a path)
//   POST /_admin/reset        back to the start state
//   POST /_admin/session      id=, state=valid|expired|loggedout   (also /_admin/longsession)
//   POST /_admin/appinfo      doc= a whole application-information document ("{base}" and
//                             "{logsession}" are filled in); empty = the built-in one
//   POST /_admin/card         revision=N (directory revision), resid=ID (bump that photo's revision)
//   POST /_admin/parallel     value=true|false (allowparallel in the start-upload answer)
#include <httplib.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "image/bitmap.h"
#include "image/jpeg_codec.h"
#include "installer_routes.h"
#include "service_state.h"

namespace fvs {
namespace {

TServiceState gState;
std::string gPhotosDir;
std::atomic<bool> gStopping{false};
constexpr const char* kXml = "text/xml; charset=utf-8";

void SleepMs(int ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!gStopping && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// What a handler answers.
struct TReply {
    int Status = 200;
    std::string Body;
    std::string Type = kXml;
};

// What a handler gets: the form and the fault playing on this request (hostile identifiers).
struct TCall {
    TForm Form;
    TFault Fault;
    bool HasFault = false;
    std::string Id(const std::string& real) const { return HasFault && !Fault.Hostile.empty() ? Fault.Hostile : real; }
};

using THandler = std::function<void(const TCall&, TReply&)>;

std::string ErrorDoc(const std::string& code, const std::string& message) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<error><code>" + XmlEscape(code) + "</code><message>" +
           XmlEscape(message) + "</message></error>\n";
}

std::string Doc(const std::string& root, const std::string& inner = std::string()) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<" + root + ">" + inner + "</" + root + ">\n";
}

TForm ReadForm(const httplib::Request& req, const httplib::ContentReader& reader) {
    TForm f;
    if (req.is_multipart_form_data()) {
        std::string current;
        bool isFile = false;
        reader(
            [&](const httplib::MultipartFormData& part) {
                f.Order.push_back(part.name);
                current = part.name;
                isFile = !part.filename.empty();
                if (isFile) {
                    TFormFile file;
                    file.FileName = part.filename;
                    file.ContentType = part.content_type;
                    f.Files[current] = file;
                } else {
                    f.Text[current].clear();
                }
                return true;
            },
            [&](const char* data, size_t len) {
                if (isFile) {
                    TFormFile& file = f.Files[current];
                    file.Size += len;
                    for (size_t i = 0; i < len; ++i) {
                        file.Hash ^= static_cast<unsigned char>(data[i]);
                        file.Hash *= 1099511628211ull;
                    }
                    if (file.Head.size() < 16) file.Head.append(data, std::min<size_t>(len, 16 - file.Head.size()));
                } else {
                    f.Text[current].append(data, len);
                }
                return true;
            });
    } else {
        std::string body;
        reader([&](const char* data, size_t len) {
            body.append(data, len);
            return true;
        });
        httplib::Params params;
        httplib::detail::parse_query_text(body, params);
        for (const auto& [k, v] : params) {
            f.Order.push_back(k);
            f.Text[k] = v;
        }
    }
    return f;
}

// ---- session checks (under the state lock) ----

bool SessionOk(const TCall& c, TReply& reply) {
    auto it = gState.Sessions.find(c.Form.Get("sessionid"));
    if (it != gState.Sessions.end() && it->second == "valid") return true;
    reply.Body = ErrorDoc("BadSessionid", it == gState.Sessions.end() ? "unknown session" : "session " + it->second);
    return false;
}

bool LongSessionOk(const TCall& c, TReply& reply) {
    auto it = gState.LongSessions.find(c.Form.Get("longsessionid"));
    if (it != gState.LongSessions.end() && it->second == "valid") return true;
    reply.Body = ErrorDoc("BadLongSessionid", it == gState.LongSessions.end() ? "unknown long session" : "long session " + it->second);
    return false;
}

bool BookOk(const TCall& c, TReply& reply) {
    if (gState.Books.count(c.Form.Get("folvaneid"))) return true;
    reply.Body = ErrorDoc("BadFolvaneid", "unknown book");
    return false;
}

std::string NewResource(const std::string& prefix) { return prefix + std::to_string(gState.NextRes++); }

int IntField(const TCall& c, const std::string& name, int fallback = 0) {
    const std::string v = c.Form.Get(name);
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 10);
    return v.empty() || *end ? fallback : static_cast<int>(n);
}

// ---- the service's scripts ----

void GetAppInfo(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply)) return;
    reply.Body = gState.AppInfoDocument();
}

void CheckFolvane(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply)) return;
    std::string list = c.Form.Get("folvaneidary"), inner = "<folvanes>";
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string id = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        auto it = gState.Books.find(id);
        if (it != gState.Books.end())
            inner += "<folvane folvaneid=\"" + XmlEscape(c.Id(id)) + "\" title=\"" + XmlEscape(it->second.Title) +
                     "\" previewurl=\"" + XmlEscape(it->second.PreviewUrl) + "\"/>";
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    reply.Body = Doc("checkFolvane_response", inner + "</folvanes>");
}

void StartUpload(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply)) return;
    std::string id = c.Form.Get("folvaneid");
    if (id.empty()) {
        id = std::to_string(gState.NextBook++);
        TBook b;
        b.Title = "新しいフォトブック";
        b.PreviewUrl = gState.BaseUrl + "/book/" + id + "/preview.html";
        b.Session = c.Form.Get("sessionid");
        gState.Books[id] = b;
    } else if (!BookOk(c, reply)) {
        return;
    }
    std::string inner = "<folvane folvaneid=\"" + XmlEscape(c.Id(id)) + "\" hostname=\"" + XmlEscape(c.Id("photo1")) + "\"/>";
    if (c.Form.Get("backtest") == "true") {
        std::string ls = "ls-" + std::to_string(gState.NextLong++);
        gState.LongSessions[ls] = "valid";
        inner += "<background longsessionid=\"" + XmlEscape(c.Id(ls)) + "\"/>";
    }
    inner += std::string("<allowparallel value=\"") + (gState.AllowParallel ? "true" : "false") + "\"/>";
    inner += "<originalmax width=\"1600\" height=\"1600\" jpegquality=\"90\"/><thumbnails>";
    static const int kSides[7] = {160, 320, 480, 640, 800, 1024, 1280};
    for (int i = 0; i < 7; ++i)
        inner += "<thumbnail thumbid=\"" + std::to_string(i + 1) + "\" width=\"" + std::to_string(kSides[i]) +
                 "\" height=\"" + std::to_string(kSides[i]) + "\" jpegquality=\"85\"/>";
    reply.Body = Doc("startUpload_response", inner + "</thumbnails>");
}

std::string NextPage(const std::string& root, const std::string& url, const std::string& before = std::string()) {
    return Doc(root, before + "<nextpage url=\"" + XmlEscape(url) + "\"/>");
}

void FinishedUpload(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply) || !BookOk(c, reply)) return;
    TBook& b = gState.Books[c.Form.Get("folvaneid")];
    b.Finished = true;
    b.Complete = c.Form.Get("iscomplete") == "true";
    b.TabName = c.Form.Get("tabname");
    b.CreateMode = c.Form.Get("createmode");
    b.DirectType = c.Form.Get("direct_type");
    b.DirectName = c.Form.Has("direct_photoday") ? c.Form.Get("direct_photoday") : c.Form.Get("direct_name");
    reply.Body = NextPage("finishedUpload_response", gState.BaseUrl + "/book/" + c.Form.Get("folvaneid") + "/edit.html");
}

void Upload(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply) || !BookOk(c, reply)) return;
    auto file = c.Form.Files.find("data");
    if (file == c.Form.Files.end() || file->second.Size == 0) {
        reply.Body = ErrorDoc("NoData", "no file");
        return;
    }
    const std::string bookId = c.Form.Get("folvaneid");
    TBook& b = gState.Books[bookId];
    std::string res = c.Form.Get("resuuid");
    if (res.empty() || !gState.Resources.count(res)) {
        res = NewResource("res-");
        TResource r;
        r.Book = bookId;
        r.HostName = "photo1";
        r.Kind = "photo";
        // the background rest of this photo belongs to the book's newest long session
        for (const auto& [ls, st] : gState.LongSessions)
            if (st == "valid" && ls.rfind("ls-", 0) == 0) r.LongSession = ls;
        gState.Resources[res] = r;
    }
    std::string kind = c.Form.Has("thumbid") ? c.Form.Get("thumbid") : "full";
    gState.Resources[res].BytesByThumb[kind] += file->second.Size;
    TPhoto& p = b.Photos[IntField(c, "photoindex")];
    p.ResUuid = res;
    p.EditMode = c.Form.Get("editmode");
    p.Comment = c.Form.Get("comment");
    p.OrgFileName = c.Form.Get("orgfilename");
    p.OrgWidth = IntField(c, "orgwidth");
    p.OrgHeight = IntField(c, "orgheight");
    p.Tags.clear();
    for (int i = 0; c.Form.Has("phototag" + std::to_string(i)); ++i) p.Tags.push_back(c.Form.Get("phototag" + std::to_string(i)));
    reply.Body = Doc("upload_response", "<resource resuuid=\"" + XmlEscape(c.Id(res)) + "\"/>");
}

void UploadBodyIcon(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply)) return;
    auto file = c.Form.Files.find("data");
    if (file == c.Form.Files.end() || file->second.Size == 0) {
        reply.Body = ErrorDoc("NoData", "no file");
        return;
    }
    gState.BodyIcons.push_back(file->second.Size);
    reply.Body = NextPage("uploadBodyicon_response", gState.BaseUrl + "/mypage/bodyicon.html");
}

void UploadBgm(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply) || !BookOk(c, reply)) return;
    auto file = c.Form.Files.find("data");
    if (file == c.Form.Files.end() || file->second.Size == 0) {
        reply.Body = ErrorDoc("NoData", "no file");
        return;
    }
    std::string res = NewResource("bgm-");
    TResource r;
    r.Book = c.Form.Get("folvaneid");
    r.Kind = "bgm";
    r.BytesByThumb["full"] = file->second.Size;
    gState.Resources[res] = r;
    gState.Books[r.Book].Bgm.push_back(res);
    // both readers find their child: the resource first, the next page after it
    reply.Body = NextPage("uploadBgm_response", gState.BaseUrl + "/book/" + r.Book + "/bgm.html",
                          "<resource resuuid=\"" + XmlEscape(c.Id(res)) + "\"/>");
}

void UploadBack(const TCall& c, TReply& reply) {
    if (!LongSessionOk(c, reply)) return;
    auto it = gState.Resources.find(c.Form.Get("resuuid"));
    auto file = c.Form.Files.find("data");
    if (it == gState.Resources.end()) {
        reply.Body = ErrorDoc("BadResuuid", "unknown resource");
        return;
    }
    if (file == c.Form.Files.end() || file->second.Size == 0) {
        reply.Body = ErrorDoc("NoData", "no file");
        return;
    }
    std::string kind = c.Form.Has("thumbid") ? c.Form.Get("thumbid") : "full";
    it->second.BytesByThumb[kind] += file->second.Size;
    reply.Body = Doc("uploadBack_response");
}

void GetRestUploadBack(const TCall& c, TReply& reply) {
    if (!LongSessionOk(c, reply)) return;
    std::string inner = "<resources>";
    for (const auto& [id, r] : gState.Resources)
        if (r.LongSession == c.Form.Get("longsessionid") && !r.Failed && !r.BytesByThumb.count("full"))
            inner += "<resource resuuid=\"" + XmlEscape(c.Id(id)) + "\" hostname=\"" + XmlEscape(c.Id(r.HostName)) + "\"/>";
    reply.Body = Doc("getRestUploadBack_response", inner + "</resources>");
}

void UploadFailBack(const TCall& c, TReply& reply) {
    if (!LongSessionOk(c, reply)) return;
    auto it = gState.Resources.find(c.Form.Get("resuuid"));
    if (it != gState.Resources.end()) it->second.Failed = true;
    reply.Body = Doc("uploadFailBack_response");
}

void FinishedUploadBack(const TCall& c, TReply& reply) {
    if (!LongSessionOk(c, reply)) return;
    gState.FinishedBack.emplace_back(c.Form.Get("longsessionid"), c.Form.Get("iscomplete") == "true");
    reply.Body = Doc("finishedUploadBack_response");
}

void SaveLog(const TCall& c, TReply& reply) {
    if (!LongSessionOk(c, reply)) return;
    if (c.Form.Get("logdata").empty()) {
        reply.Body = ErrorDoc("NoData", "empty log");
        return;
    }
    gState.Logs.push_back(c.Form.Get("logdata"));
    reply.Body = Doc("saveLog_response");
}

void LogOut(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply)) return;
    gState.Sessions[c.Form.Get("sessionid")] = "loggedout";
    reply.Body = Doc("logout_response");
}

void GetDirectoryResources(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply)) return;
    if (IntField(c, "revision", -1) == gState.CardRevision) {
        reply.Status = 304;
        reply.Body.clear();
        return;
    }
    std::string inner = "<directory dirid=\"" + XmlEscape(c.Id(gState.CardDirId)) + "\" revision=\"" +
                        std::to_string(gState.CardRevision) + "\"/><resources>";
    for (const TCardPhoto& p : gState.Card)
        inner += "<resource resid=\"" + XmlEscape(c.Id(p.ResId)) + "\" filename=\"" + XmlEscape(c.Id(p.FileName)) +
                 "\" filesize=\"" + std::to_string(p.Size) + "\" modifyts=\"" + p.ModifyTs + "\" revision=\"" +
                 std::to_string(p.Revision) + "\"><image width=\"" + std::to_string(p.Width) + "\" height=\"" +
                 std::to_string(p.Height) + "\"/></resource>";
    reply.Body = Doc("getDirectoryResources_response", inner + "</resources>");
}

const TCardPhoto* FindCard(const std::string& resId) {
    for (const TCardPhoto& p : gState.Card)
        if (p.ResId == resId) return &p;
    return nullptr;
}

// the card photo a read names, or a 404 answer
const TCardPhoto* CardOr404(const TCall& c, TReply& reply) {
    const TCardPhoto* p = FindCard(c.Form.Get("resid"));
    if (!p) {
        reply.Status = 404;
        reply.Body = "no such resource";
        reply.Type = "text/plain";
    }
    return p;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

void LoadThumbnail(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply)) return;
    const TCardPhoto* p = CardOr404(c, reply);
    if (!p) return;
    int w = std::max(1, IntField(c, "width", 160)), h = std::max(1, IntField(c, "height", 160));
    // the smallest DCT scale that still covers the asked box
    int denom = 1;
    while (denom < 8 && fv::JpegScaledSide(p->Width, denom * 2) >= w && fv::JpegScaledSide(p->Height, denom * 2) >= h)
        denom *= 2;
    std::string bytes = ReadWhole(p->Path);
    fv::TBitmap bmp;
    fv::DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), bmp, denom);
    std::vector<uint8_t> jpeg = fv::EncodeJpeg(bmp, 85);
    reply.Body.assign(jpeg.begin(), jpeg.end());
    reply.Type = "image/jpeg";
}

void LoadResource(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply)) return;
    const TCardPhoto* p = CardOr404(c, reply);
    if (!p) return;
    if (c.Form.Has("revision") && IntField(c, "revision", -1) == p->Revision) {
        reply.Status = 304;
        return;
    }
    reply.Body = ReadWhole(p->Path);
    reply.Type = "image/jpeg";
}

void CardUpload(const TCall& c, TReply& reply) {
    if (!SessionOk(c, reply) || !BookOk(c, reply)) return;
    const TCardPhoto* p = FindCard(c.Form.Get("resid"));
    if (!p) {
        reply.Body = ErrorDoc("BadResid", "unknown card resource");
        return;
    }
    std::string res = NewResource("res-");
    TResource r;
    r.Book = c.Form.Get("folvaneid");
    r.Kind = "card";
    r.BytesByThumb["full"] = p->Size;
    gState.Resources[res] = r;
    TPhoto& photo = gState.Books[r.Book].Photos[IntField(c, "photoindex")];
    photo.ResUuid = res;
    photo.OrgFileName = p->FileName;
    reply.Body = Doc("upload_response");
}

// ---- plumbing ----

void Send(httplib::Response& res, const TReply& reply, const TFault* fault) {
    res.status = reply.Status;
    if (fault && fault->Drop) {
        // headers promise the body, then the connection goes away
        size_t len = std::max<size_t>(reply.Body.size(), 64);
        res.set_content_provider(len, reply.Type, [](size_t, size_t, httplib::DataSink&) { return false; });
        return;
    }
    if (fault && fault->RateBytesPerSec > 0) {
        auto body = std::make_shared<std::string>(reply.Body);
        int rate = fault->RateBytesPerSec;
        res.set_content_provider(body->size(), reply.Type,
                                 [body, rate](size_t offset, size_t length, httplib::DataSink& sink) {
                                     // a tenth of a second's worth at a time
                                     size_t n = std::min<size_t>(length, std::max(1, rate / 10));
                                     SleepMs(100);
                                     if (gStopping) return false;
                                     return sink.write(body->data() + offset, n);
                                 });
        return;
    }
    res.set_content(reply.Body, reply.Type);
}

void Route(httplib::Server& svr, const std::string& path, THandler handler) {
    svr.Post(path, [path, handler](const httplib::Request& req, httplib::Response& res,
                                   const httplib::ContentReader& reader) {
        TCall call;
        call.Form = ReadForm(req, reader);
        {
            std::lock_guard<std::mutex> lock(gState.Lock);
            call.HasFault = gState.TakeFault(path, call.Fault);
        }
        const TFault* fault = call.HasFault ? &call.Fault : nullptr;
        if (fault && fault->DelayMs > 0) SleepMs(fault->DelayMs);
        if (fault && fault->Hang) SleepMs(fault->HangMs);
        TReply reply;
        if (fault && !fault->Redirect.empty()) {
            reply.Status = 302;
        } else if (fault && fault->Status) {
            reply.Status = fault->Status;
            reply.Body = "<html><body>fault " + std::to_string(fault->Status) + "</body></html>";
            reply.Type = "text/html";
        } else if (fault && !fault->ErrorCode.empty()) {
            reply.Body = ErrorDoc(fault->ErrorCode, "fault injected");
        } else if (fault && fault->Stray) {
            reply.Body = "<html><head><title>Maintenance</title></head><body>back soon</body></html>";
            reply.Type = "text/html";
        } else {
            std::lock_guard<std::mutex> lock(gState.Lock);
            try {
                handler(call, reply);
            } catch (const std::exception& e) {
                reply.Status = 500;
                reply.Body = e.what();
                reply.Type = "text/plain";
            }
        }
        if (fault && fault->Malformed) reply.Body = reply.Body.substr(0, reply.Body.size() / 2) + "<unclosed attr=\"";
        {
            std::lock_guard<std::mutex> lock(gState.Lock);
            TJournalEntry j;
            j.Method = "POST";
            j.Path = path;
            j.Fields = call.Form.Order;
            j.Text = call.Form.Text;
            j.Files = call.Form.Files;
            j.Status = reply.Status;
            gState.Journal.push_back(std::move(j));
            if (gState.Journal.size() > 10000) gState.Journal.erase(gState.Journal.begin());
        }
        if (fault && !fault->Redirect.empty()) {
            res.set_redirect(fault->Redirect);
            return;
        }
        Send(res, reply, fault);
    });
}

// admin fields come as query, url-encoded or multipart fields
bool HasParam(const httplib::Request& req, const char* name) { return req.has_param(name) || req.has_file(name); }
std::string Param(const httplib::Request& req, const char* name) {
    if (req.has_param(name)) return req.get_param_value(name);
    return req.has_file(name) ? req.get_file_value(name).content : std::string();
}

bool Flag(const httplib::Request& req, const char* name) {
    std::string v = Param(req, name);
    return v == "1" || v == "true";
}

void AdminRoutes(httplib::Server& svr) {
    svr.Get("/_admin/state", [](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(gState.Lock);
        res.set_content(gState.StateJson(), "application/json");
    });
    svr.Post("/_admin/fault", [](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(gState.Lock);
        std::string path = Param(req, "path");
        if (Flag(req, "clear")) {
            if (path.empty())
                gState.Faults.clear();
            else
                gState.Faults.erase(path);
            res.set_content("{\"ok\":true}", "application/json");
            return;
        }
        if (path.empty()) {
            res.status = 400;
            res.set_content("{\"error\":\"path missing\"}", "application/json");
            return;
        }
        TFault f;
        f.Status = std::atoi(Param(req, "status").c_str());
        f.ErrorCode = Param(req, "error");
        f.DelayMs = std::atoi(Param(req, "delay_ms").c_str());
        f.RateBytesPerSec = std::atoi(Param(req, "rate").c_str());
        f.Hang = Flag(req, "hang");
        if (HasParam(req, "hang_ms")) f.HangMs = std::max(0, std::atoi(Param(req, "hang_ms").c_str()));
        f.Drop = Flag(req, "drop");
        f.Malformed = Flag(req, "malformed");
        f.Stray = Flag(req, "stray");
        f.Hostile = Param(req, "hostile");
        f.Redirect = Param(req, "redirect");
        if (HasParam(req, "count")) f.Remaining = std::max(1, std::atoi(Param(req, "count").c_str()));
        gState.Faults[path] = f;
        res.set_content("{\"ok\":true}", "application/json");
    });
    svr.Post("/_admin/reset", [](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(gState.Lock);
        gState.Reset(gPhotosDir);
        res.set_content("{\"ok\":true}", "application/json");
    });
    svr.Post("/_admin/session", [](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(gState.Lock);
        gState.Sessions[Param(req, "id")] = HasParam(req, "state") ? Param(req, "state") : "valid";
        res.set_content("{\"ok\":true}", "application/json");
    });
    svr.Post("/_admin/longsession", [](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(gState.Lock);
        gState.LongSessions[Param(req, "id")] = HasParam(req, "state") ? Param(req, "state") : "valid";
        res.set_content("{\"ok\":true}", "application/json");
    });
    svr.Post("/_admin/appinfo", [](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(gState.Lock);
        gState.AppInfoTemplate = Param(req, "doc");
        res.set_content("{\"ok\":true}", "application/json");
    });
    svr.Post("/_admin/card", [](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(gState.Lock);
        if (HasParam(req, "revision")) gState.CardRevision = std::atoi(Param(req, "revision").c_str());
        if (HasParam(req, "resid"))
            for (TCardPhoto& p : gState.Card)
                if (p.ResId == Param(req, "resid")) ++p.Revision;
        res.set_content("{\"ok\":true}", "application/json");
    });
    svr.Post("/_admin/parallel", [](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(gState.Lock);
        gState.AllowParallel = Flag(req, "value");
        res.set_content("{\"ok\":true}", "application/json");
    });
}

void PageRoutes(httplib::Server& svr) {
    // the installer the update check downloads: a fixed, recognisable body
    svr.Get("/installer/FVBSetup.exe", [](const httplib::Request& req, httplib::Response& res) {
        std::string body = "MZ-FVBSetup version=" + req.get_param_value("version") + "\n";
        while (body.size() < 65536) body += static_cast<char>('A' + body.size() % 26);
        res.set_content(body, "application/octet-stream");
    });
    svr.Get("/update/message.html", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("<html><head><meta charset=\"utf-8\"><title>更新</title></head><body><p>新しいバージョン " +
                            XmlEscape(req.get_param_value("version")) +
                            " があります。</p></body></html>",
                        "text/html; charset=utf-8");
    });
    svr.Get(R"(/(home|book|mypage)/.*)", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("<html><head><meta charset=\"utf-8\"><title>Folvane</title></head><body><h1>" +
                            XmlEscape(req.path) + "</h1></body></html>",
                        "text/html; charset=utf-8");
    });
}

void ServiceRoutes(httplib::Server& svr) {
    Route(svr, "/getAppInfo.php", GetAppInfo);
    Route(svr, "/api/checkFolvane.php", CheckFolvane);
    Route(svr, "/api/startUpload.php", StartUpload);
    Route(svr, "/api/finishedUpload.php", FinishedUpload);
    Route(svr, "/api/upload.php", Upload);
    Route(svr, "/api/uploadBodyicon.php", UploadBodyIcon);
    Route(svr, "/api/uploadBgm.php", UploadBgm);
    Route(svr, "/api/uploadBack.php", UploadBack);
    Route(svr, "/api/getRestUploadBack.php", GetRestUploadBack);
    Route(svr, "/api/uploadFailBack.php", UploadFailBack);
    Route(svr, "/api/finishedUploadBack.php", FinishedUploadBack);
    Route(svr, "/api/logout.php", LogOut);
    Route(svr, "/log/saveLog.php", SaveLog);
    Route(svr, "/remote/getDirectoryResources.php", GetDirectoryResources);
    Route(svr, "/remote/loadThumbnail.php", LoadThumbnail);
    Route(svr, "/remote/loadResource.php", LoadResource);
    Route(svr, "/remote/upload.php", CardUpload);
}

int Usage() {
    std::fprintf(stderr, "usage: fvservice [--port N] [--tls CERT KEY] [--photos DIR]\n");
    return 2;
}

}  // namespace
}  // namespace fvs

int main(int argc, char** argv) {
    using namespace fvs;
    int port = 0;
    std::string cert, key;
    gPhotosDir = FV_DEFAULT_PHOTOS_DIR;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--port" && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (a == "--tls" && i + 2 < argc) {
            cert = argv[++i];
            key = argv[++i];
        } else if (a == "--photos" && i + 1 < argc)
            gPhotosDir = argv[++i];
        else
            return Usage();
    }
    // SIGINT / SIGTERM end the service through a watcher thread (stop() is not signal-safe)
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<httplib::Server> svr;
    if (!cert.empty()) {
        svr = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
        if (!svr->is_valid()) {
            std::fprintf(stderr, "fvservice: cannot load the certificate or key\n");
            return 1;
        }
    } else {
        svr = std::make_unique<httplib::Server>();
    }
    svr->new_task_queue = [] { return new httplib::ThreadPool(32); };
    svr->set_payload_max_length(256ull << 20);
    svr->set_read_timeout(30, 0);
    svr->set_write_timeout(30, 0);
    ServiceRoutes(*svr);
    AdminRoutes(*svr);
    PageRoutes(*svr);
    InstallerRoutes(*svr);

    const char* host = "127.0.0.1";
    if (port == 0)
        port = svr->bind_to_any_port(host);
    else if (!svr->bind_to_port(host, port))
        port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "fvservice: cannot listen on %s\n", host);
        return 1;
    }
    gState.BaseUrl = std::string(cert.empty() ? "http" : "https") + "://127.0.0.1:" + std::to_string(port);
    gState.Reset(gPhotosDir);

    std::thread watcher([&] {
        int sig = 0;
        sigwait(&set, &sig);
        gStopping = true;
        svr->stop();
    });
    std::printf("fvservice listening on %s\n", gState.BaseUrl.c_str());
    std::fflush(stdout);
    svr->listen_after_bind();
    gStopping = true;
    // wake the watcher when the server ended by itself
    pthread_kill(watcher.native_handle(), SIGTERM);
    watcher.join();
    return 0;
}
