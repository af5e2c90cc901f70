#include "service/api.h"

#include <cctype>
#include <pugixml.hpp>

#include <filesystem>
#include <memory>
#include <type_traits>

#include "core/log.h"
#include "service/start_params.h"

namespace fv {

namespace {

constexpr const char* kUserAgent = "Folvane Browser";
// XML answers are small; the card reads carry pictures
constexpr int64_t kMaxXmlAnswer = 4ll << 20;
constexpr int64_t kMaxPictureAnswer = 256ll << 20;
// the precondition message of a missing URL, the same in every call
constexpr const char* kNoUrl = "Url = nil";

// How an exchange reports statuses and transport failures.
enum class TClassify {
    Plain,         // status number and text only, kind left unset (the upload calls)
    Kinds,         // kinds 2 / 3 with their error codes (application information, card thumbnails)
    KindsNotModified  // the same, and 304 is "not modified" (card directory and resources)
};

// raises the precondition error; the raise leaves its line in the log
[[noreturn]] void Fail(const char* label, const std::string& message) {
    EFolvaneApiError e(message);
    WriteLogException(label, e);
    throw e;
}

std::string ToDecimal(long long v) { return std::to_string(v); }

// Runs one call: reset, body, and the classification of whatever the body raised.
template <class Body>
void Guard(const char* label, TFVApiResult& r, Body&& body) {
    r.Reset();
    try {
        body();
    } catch (const EFolvaneApiError& e) {
        r.Success = false;
        r.Code = e.ClassName();
        r.Message = e.Message();
        r.Kind = fvrkException;
        // the two precondition messages are compared exactly, letter case included
        r.ErrorCode = e.Message() == "SessionId = nil" ? "EE0001" : e.Message() == kNoUrl ? "EE0002" : "EE0100";
        WriteLogFailed(label, e);
    } catch (const std::exception& e) {
        r.Success = false;
        r.Code = ExceptionClassName(e);
        r.Message = e.what();
        r.Kind = fvrkException;
        r.ErrorCode = "EE1000";
        WriteLogFailed(label, e);
    }
}

// Posts the form; true when the service answered 200 (the body is in `answer`).
bool Exchange(const char* label, const std::string& url, const THttpForm& form, TStream& answer, TFVApiResult& r,
              TClassify classify, int64_t maxAnswer, THttpClient* given) {
    std::unique_ptr<THttpClient> own;
    THttpClient* client = given;
    if (!client) {
        own = std::make_unique<THttpClient>();
        client = own.get();
    }
    client->SetUserAgent(kUserAgent);
    client->SetMaxAnswerBytes(maxAnswer);
    int status = -1;
    try {
        status = client->Post(url, form, answer);
    } catch (const EHttpError& e) {
        WriteLogExceptionDetail(label, url, e);
        r.Success = false;
        if (classify == TClassify::Plain) {
            r.Code = ToDecimal(client->ResponseCode());
            r.Message = client->ResponseText();
            return false;
        }
        r.Code = e.ClassName();
        r.Message = e.Message();
        r.Kind = fvrkSocketError;
        r.ErrorCode = TransportErrorCode(e);
        return false;
    }
    if (status == 200) return true;
    r.Success = false;
    r.Code = ToDecimal(status);
    r.Message = client->ResponseText();
    if (classify == TClassify::KindsNotModified && status == 304) {
        r.Kind = fvrkNotModified;
    } else if (classify != TClassify::Plain) {
        r.Kind = fvrkRequestFailed;
        r.ErrorCode = "ER1000";
    }
    return false;
}

bool IsHtmlRoot(const char* name) {
    std::string n(name);
    for (char& c : n) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return n == "html";
}

// Loads the answer and decides by its root: an "error" document fills the result and gives no
// node; the expected root gives itself; anything else cannot be used. Without an expected root
// (calls whose answer is a result only) any root is the service's yes, except an HTML page's.
pugi::xml_node LoadAnswer(const char* stepLabel, const std::string& bytes, const char* root, pugi::xml_document& doc,
                          TFVApiResult& r) {
    try {
        pugi::xml_parse_result pr = doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default);
        if (!pr) throw EFolvaneApiError(Format("%s Raised ( %s )", "EXmlParseError", pr.description()));
        pugi::xml_node top = doc.document_element();
        if (!top) throw EFolvaneApiError("GetApiResultFromElement : XmlNode = nil");
        if (std::string(top.name()) == "error") {
            r.Success = false;
            r.Code = top.child("code").text().get();
            r.Message = top.child("message").text().get();
            r.Kind = fvrkRequestFailed;
            r.ErrorCode = "ER0001";
            return pugi::xml_node();
        }
        // a stray page must not count as the service's yes
        if (root ? std::string(top.name()) != root : IsHtmlRoot(top.name()))
            throw EFolvaneApiError(Format("Unexpected response root ( %s )", top.name()));
        r.Success = true;
        r.Code = top.name();
        r.Kind = fvrkSuccess;
        return top;
    } catch (const EFolvaneApiError& e) {
        WriteLogFailed(stepLabel, e);
        throw;
    }
}

std::string Attr(const pugi::xml_node& n, const char* name) { return n.attribute(name).value(); }

// an identifier that will name a folder or a file
std::string SafeId(const char* what, const std::string& id) {
    if (!IsSafePathComponent(id)) throw EFolvaneApiError(Format("Unsafe identifier in the answer ( %s )", what));
    return id;
}

int32_t DecimalOr(const std::string& text, int32_t fallback) {
    int32_t v = 0;
    return ParseDecimal32(text, v) ? v : fallback;
}

std::string FileNameOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A list answer: the root's first child must be the list, and `take` reads each entry of it into
// `found` (or leaves one out). The output grows only once every entry has been read, so an entry
// that raises leaves it as it was.
template <class T, class Take>
void ReadListAnswer(const char* stepLabel, const std::string& bytes, const char* root, const char* listName,
                    const char* entryName, std::vector<T>& out, TFVApiResult& r, Take&& take) {
    pugi::xml_document doc;
    pugi::xml_node top = LoadAnswer(stepLabel, bytes, root, doc, r);
    if (!top) return;
    pugi::xml_node list = top.first_child();
    if (std::string(list.name()) != listName) return;
    std::vector<T> found;
    for (pugi::xml_node n = list.child(entryName); n; n = n.next_sibling(entryName)) take(n, found);
    out.insert(out.end(), found.begin(), found.end());
}

// ---- the call table ----

// Where a call's session comes from: the start parameters' session, sent as "sessionid", or the
// long session the caller hands in, sent as "longsessionid".
enum TCallSession : uint8_t { csParams, csGiven };
// Where its URL comes from: the start parameters' service base, application-information URL or
// card-service base, or the URL the caller hands in.
enum TCallUrl : uint8_t { cuBase, cuAppInfo, cuRemotePhoto, cuGiven };
// Whether an empty URL raises "Url = nil", and whether before or after the session's check.
enum TCallUrlCheck : uint8_t { ucNone, ucAfterSession, ucBeforeSession };
// What becomes of a 200 answer.
enum TCallAnswer : uint8_t {
    caReader,      // the call's own reader takes the document
    caResult,      // a result document only: any root but "error" and an HTML page's is the yes
    caCaller,      // the bytes stay in the caller's stream; the exchange itself is the success
    caCallerRoot,  // the same, and the document's root gives the result
};

struct TCallDesc {
    const char* Label;      // the call's name in the log
    TCallSession Session;
    const char* NoSession;  // the message of a missing session; nullptr: the call quietly asks nothing
    TCallUrl Url;
    TCallUrlCheck UrlCheck;
    const char* Script;     // appended to the URL
    TCallAnswer Answer;
    TClassify Classify;
    int64_t MaxAnswer;
};

enum TCallId : uint8_t {
    ciGetAppInfo, ciCheckFolvane, ciStartUpload, ciFinishedUpload, ciUploadEx, ciUploadBodyIcon, ciUploadBgm,
    ciUploadBack, ciGetRestUploadBack, ciUploadFailBack, ciFinishedUploadBack, ciSaveLog, ciLogOut,
    ciGetDirectoryResources, ciLoadThumbnail, ciLoadResource, ciEyeFiUpload, ciCallCount
};

constexpr TClassify kPlain = TClassify::Plain, kKinds = TClassify::Kinds, kNotModified = TClassify::KindsNotModified;

// Every call once. The message texts differ in letter case from call to call; the result's error
// code depends on them, so they are written here exactly as the calls raise them.
constexpr TCallDesc kCalls[ciCallCount] = {
    // label                        session   message on no session  URL            URL check
    //   script                       answer        statuses      answer limit
    {"FVApi_GetAppInfo",            csParams, "SessionId = nil",     cuAppInfo,     ucAfterSession,
         "",                          caCaller,     kKinds,       kMaxXmlAnswer},
    {"FVApi_CheckFolvane",          csParams, "SessionID = nil",     cuBase,        ucAfterSession,
         "checkFolvane.php",          caReader,     kPlain,       kMaxXmlAnswer},
    {"FVApi_StartUpload",           csParams, "SessionId = nil",     cuBase,        ucAfterSession,
         "startUpload.php",           caReader,     kPlain,       kMaxXmlAnswer},
    {"FVApi_FinishedUpload",        csParams, "SessionID = nil",     cuBase,        ucAfterSession,
         "finishedUpload.php",        caReader,     kPlain,       kMaxXmlAnswer},
    {"FVApi_UploadEx",              csParams, "SessionID = nil",     cuBase,        ucAfterSession,
         "upload.php",                caReader,     kPlain,       kMaxXmlAnswer},
    {"FVApi_UploadBodyIcon",        csParams, "SessionId = nil",     cuBase,        ucNone,
         "uploadBodyicon.php",        caReader,     kPlain,       kMaxXmlAnswer},
    {"FVApi_UploadBgm",             csParams, "SessionID = nil",     cuBase,        ucAfterSession,
         "uploadBgm.php",             caReader,     kPlain,       kMaxXmlAnswer},
    {"FVApi_UploadBack",            csGiven,  "LongSessionId = nil", cuBase,        ucAfterSession,
         "uploadBack.php",            caResult,     kPlain,       kMaxXmlAnswer},
    {"FVApi_GetRestUploadBack",     csGiven,  "LongSessionId = nil", cuBase,        ucNone,
         "getRestUploadBack.php",     caReader,     kPlain,       kMaxXmlAnswer},
    {"FVApi_UploadFailBack",        csGiven,  "LongSessionId = nil", cuBase,        ucNone,
         "uploadFailBack.php",        caResult,     kPlain,       kMaxXmlAnswer},
    {"FVApi_FinishedUploadBack",    csGiven,  "LongSessionId = nil", cuBase,        ucNone,
         "finishedUploadBack.php",    caResult,     kPlain,       kMaxXmlAnswer},
    {"FVApi_SaveLog",               csGiven,  "LongSessionID = nil", cuGiven,       ucBeforeSession,
         "",                          caResult,     kPlain,       kMaxXmlAnswer},
    {"FVApi_LogOut",                csParams, "SessionID = nil",     cuBase,        ucAfterSession,
         "logout.php",                caResult,     kPlain,       kMaxXmlAnswer},
    {"EyeFi_GetDirectoryResources", csParams, nullptr,               cuRemotePhoto, ucBeforeSession,
         "getDirectoryResources.php", caCallerRoot, kNotModified, kMaxXmlAnswer},
    {"EyeFi_loadThumbnail",         csParams, nullptr,               cuRemotePhoto, ucBeforeSession,
         "loadThumbnail.php",         caCaller,     kKinds,       kMaxPictureAnswer},
    {"EyeFi_loadResource",          csParams, nullptr,               cuRemotePhoto, ucBeforeSession,
         "loadResource.php",          caCaller,     kNotModified, kMaxPictureAnswer},
    {"EyeFi_Upload",                csParams, "SessionId = nil",     cuRemotePhoto, ucAfterSession,
         "upload.php",                caResult,     kPlain,       kMaxXmlAnswer},
};

// What a call hands in beside its own fields: the long session or the URL its row says are given,
// and the caller's stream of the answers that stay with the caller.
struct TCallIn {
    const std::string* Session = nullptr;
    const std::string* Url = nullptr;
    TStream* Answer = nullptr;
};

// A call's own part: its checks after the session's and the URL's, and its fields after the session.
class TCallStep {
public:
    explicit TCallStep(const TCallDesc& call) : FCall(call) {}
    THttpForm Form;
    bool Ask = true;  // false: there is nothing to ask, the result stays reset

    void Require(bool present, const char* message) const {
        if (!present) Fail(FCall.Label, message);
    }
    void RequireFile(const std::string& path) const {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) Fail(FCall.Label, "File not Exists : " + path);
    }

private:
    const TCallDesc& FCall;
};

struct TNoReader {};

std::string UrlOf(TCallUrl from, const TCallIn& in) {
    switch (from) {
        case cuBase: return FVApiParams().BaseUrl();
        case cuAppInfo: return FVApiParams().AppInfoUrl();
        case cuRemotePhoto: return FVApiParams().RemotePhotoUrl();
        case cuGiven: break;
    }
    return *in.Url;
}

// The one path of every call: the row's session and URL checks, the call's own checks and fields,
// the exchange, and the answer as the row says; Guard classifies whatever is raised on the way.
template <class Fill, class Read = TNoReader>
void RunCall(TCallId id, const TCallIn& in, TFVApiResult& r, THttpClient* client, Fill&& fill, Read&& read = Read()) {
    const TCallDesc& call = kCalls[id];
    Guard(call.Label, r, [&] {
        std::string session = call.Session == csParams ? FVApiParams().SessionId() : *in.Session;
        std::string url = UrlOf(call.Url, in);
        if (call.UrlCheck == ucBeforeSession && url.empty()) Fail(call.Label, kNoUrl);
        if (session.empty()) {
            if (!call.NoSession) return;  // nothing to ask without a session
            Fail(call.Label, call.NoSession);
        }
        if (call.UrlCheck == ucAfterSession && url.empty()) Fail(call.Label, kNoUrl);
        TCallStep step(call);
        step.Form.AddField(call.Session == csParams ? "sessionid" : "longsessionid", session);
        fill(step);
        if (!step.Ask) return;
        url += call.Script;
        if (call.Answer == caCaller) {
            if (Exchange(call.Label, url, step.Form, *in.Answer, r, call.Classify, call.MaxAnswer, client)) {
                r.Success = true;
                r.Kind = fvrkSuccess;
            }
            return;
        }
        if (call.Answer == caCallerRoot) {
            TStream& answer = *in.Answer;
            int64_t start = answer.Position();
            if (!Exchange(call.Label, url, step.Form, answer, r, call.Classify, call.MaxAnswer, client)) return;
            // the document stays in the stream for the caller; the result comes from its root
            std::string bytes(static_cast<size_t>(answer.Size() - start), '\0');
            answer.Seek(start, soBeginning);
            answer.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
            answer.Seek(start, soBeginning);
            ReadDirectoryAnswerRoot(bytes, r);
            return;
        }
        TMemoryStream answer;
        if (!Exchange(call.Label, url, step.Form, answer, r, call.Classify, call.MaxAnswer, client)) return;
        std::string bytes(answer.Data().begin(), answer.Data().end());
        if (call.Answer == caResult) {
            ReadResultAnswer(bytes, nullptr, r);
        } else if constexpr (!std::is_same_v<std::decay_t<Read>, TNoReader>) {
            read(bytes);
        }
    });
}

void NoFields(TCallStep&) {}

}  // namespace

const char* ResultKindName(int kind) {
    switch (kind) {
        case fvrkSuccess: return "Successed";
        case fvrkSocketError: return "socketeEror";
        case fvrkRequestFailed: return "requestFalied";
        case fvrkException: return "exception";
        case fvrkNotModified: return "Not Modified";
        default: return "UnKnown";
    }
}

const char* TransportErrorCode(const std::exception& e) {
    if (dynamic_cast<const EHttpSocketError*>(&e)) return "ES0001";
    if (dynamic_cast<const EHttpUnknownProtocol*>(&e)) return "ES0002";
    if (dynamic_cast<const EHttpProtocolError*>(&e)) return "ES0003";
    return "ES1000";
}

std::string GetFolvaneSourceTypeString(int sourceType) {
    switch (sourceType) {
        case fvastNone: return "";
        case fvastCalendar: return "calendar";
        case fvastFolder: return "folder";
        case fvastMirabelo: return "mirabelo";
        case fvastTag: return "tag";
        default: Fail("GetFolvaneSourceTypeString", Format("UnKnown FolvaneApiSourceType. (fvast = %d)", sourceType));
    }
}

std::string GetFolvaneCreateModeString(int createMode) {
    switch (createMode) {
        case fvcmDefault: return "default";
        case fvcmDirectAlbum: return "direct_album";
        case fvcmDirectSlideshow: return "direct_slideshow";
        default: Fail("GetFolvaneCreateModeString", Format("UnKnown FolvaneCreateMode. (fvcm = %d)", createMode));
    }
}

bool IsSafePathComponent(const std::string& id) {
    if (id.empty() || id.size() > 128 || id == "." || id == "..") return false;
    for (char ch : id) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    }
    return true;
}

bool ParseDecimal32(const std::string& text, int32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i >= text.size() || text.size() - i > 10) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    if (negative) v = -v;
    if (v < INT32_MIN || v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// ---- upload info item ----

#define FV_LOCKED_FIELD(Type, Name, Field)          \
    Type TFolvaneUploadInfoItem::Name() {           \
        std::lock_guard<std::mutex> lock(FLock);    \
        return Field;                               \
    }                                               \
    void TFolvaneUploadInfoItem::Set##Name(const Type& v) { \
        std::lock_guard<std::mutex> lock(FLock);    \
        Field = v;                                  \
    }
FV_LOCKED_FIELD(std::string, FolvaneId, FFolvaneId)
FV_LOCKED_FIELD(std::string, HostName, FHostName)
FV_LOCKED_FIELD(std::string, LongSessionId, FLongSessionId)
#undef FV_LOCKED_FIELD

bool TFolvaneUploadInfoItem::AllowParallel() {
    std::lock_guard<std::mutex> lock(FLock);
    return FAllowParallel;
}
void TFolvaneUploadInfoItem::SetAllowParallel(bool v) {
    std::lock_guard<std::mutex> lock(FLock);
    FAllowParallel = v;
}
void TFolvaneUploadInfoItem::GetOriginalMax(int32_t& width, int32_t& height, int32_t& jpegQuality) {
    std::lock_guard<std::mutex> lock(FLock);
    width = FOrgWidth;
    height = FOrgHeight;
    jpegQuality = FOrgQuality;
}
void TFolvaneUploadInfoItem::SetOriginalMax(int32_t width, int32_t height, int32_t jpegQuality) {
    std::lock_guard<std::mutex> lock(FLock);
    FOrgWidth = width;
    FOrgHeight = height;
    FOrgQuality = jpegQuality;
}
TFolvaneThumbSpec TFolvaneUploadInfoItem::Thumb(int slot) {
    std::lock_guard<std::mutex> lock(FLock);
    return slot >= 1 && slot <= kThumbSlotCount ? FThumbs[slot - 1] : TFolvaneThumbSpec();
}
void TFolvaneUploadInfoItem::SetThumb(int slot, const TFolvaneThumbSpec& spec) {
    std::lock_guard<std::mutex> lock(FLock);
    if (slot >= 1 && slot <= kThumbSlotCount) FThumbs[slot - 1] = spec;
}

// ---- answer readers ----

void ReadResultAnswer(const std::string& bytes, const char* root, TFVApiResult& r) {
    pugi::xml_document doc;
    LoadAnswer("GetApiResultFromStream", bytes, root, doc, r);
}

void ReadAlbumsAnswer(const std::string& bytes, std::vector<TFolvaneAlbum>& albums, TFVApiResult& r) {
    ReadListAnswer("GetAlbumsFromStream", bytes, "checkFolvane_response", "folvanes", "folvane", albums, r,
                   [](const pugi::xml_node& f, std::vector<TFolvaneAlbum>& found) {
                       pugi::xml_attribute id = f.attribute("folvaneid");
                       if (!id) return;  // the id is required
                       found.push_back({SafeId("folvaneid", id.value()), Attr(f, "title"), Attr(f, "previewurl")});
                   });
}

void ReadUploadInfoAnswer(const std::string& bytes, TFolvaneUploadInfoItem& info, TFVApiResult& r) {
    pugi::xml_document doc;
    pugi::xml_node top = LoadAnswer("GetFolvaneInfoFromStream", bytes, "startUpload_response", doc, r);
    if (!top) return;
    // everything is checked before the item changes
    std::string folvaneId, hostName, longSessionId;
    bool haveFolvane = false, haveBackground = false;
    if (pugi::xml_node f = top.child("folvane")) {
        haveFolvane = true;
        folvaneId = Attr(f, "folvaneid");
        hostName = Attr(f, "hostname");
        if (!folvaneId.empty()) SafeId("folvaneid", folvaneId);
        if (!hostName.empty()) SafeId("hostname", hostName);
    }
    if (pugi::xml_node b = top.child("background")) {
        haveBackground = true;
        longSessionId = Attr(b, "longsessionid");
        if (!longSessionId.empty()) SafeId("longsessionid", longSessionId);
    }
    if (haveFolvane) {
        info.SetFolvaneId(folvaneId);
        info.SetHostName(hostName);
    }
    if (haveBackground) info.SetLongSessionId(longSessionId);
    if (pugi::xml_node p = top.child("allowparallel")) info.SetAllowParallel(Attr(p, "value") == "true");
    if (pugi::xml_node o = top.child("originalmax"))
        info.SetOriginalMax(DecimalOr(Attr(o, "width"), 0), DecimalOr(Attr(o, "height"), 0),
                            DecimalOr(Attr(o, "jpegquality"), 90));
    if (pugi::xml_node t = top.child("thumbnails")) {
        for (pugi::xml_node n = t.child("thumbnail"); n; n = n.next_sibling("thumbnail")) {
            TFolvaneThumbSpec s;
            s.ThumbId = DecimalOr(Attr(n, "thumbid"), -1);
            s.Width = DecimalOr(Attr(n, "width"), -1);
            s.Height = DecimalOr(Attr(n, "height"), -1);
            s.JpegQuality = DecimalOr(Attr(n, "jpegquality"), 85);
            if (s.ThumbId >= 1 && s.ThumbId <= kThumbSlotCount) info.SetThumb(s.ThumbId, s);
        }
    }
}

void ReadNextPageAnswer(const std::string& bytes, const char* root, std::string& nextPageUrl, TFVApiResult& r) {
    pugi::xml_document doc;
    pugi::xml_node top = LoadAnswer("GetApiResultFromStream", bytes, root, doc, r);
    if (!top) return;
    // the first child of that name: the music answer carries its resource first
    pugi::xml_node next = top.child("nextpage");
    if (next) nextPageUrl = Attr(next, "url");
}

void ReadResourceIdAnswer(const std::string& bytes, const char* root, std::string& resUuid, TFVApiResult& r) {
    pugi::xml_document doc;
    pugi::xml_node top = LoadAnswer("GetResourceUUIDFromStream", bytes, root, doc, r);
    if (!top) return;
    pugi::xml_node res = top.child("resource");
    if (res) resUuid = SafeId("resuuid", Attr(res, "resuuid"));
}

void ReadRestItemsAnswer(const std::string& bytes, std::vector<TFolvaneRestItem>& items, TFVApiResult& r) {
    ReadListAnswer("GetRestResItems", bytes, "getRestUploadBack_response", "resources", "resource", items, r,
                   [](const pugi::xml_node& n, std::vector<TFolvaneRestItem>& found) {
                       pugi::xml_attribute res = n.attribute("resuuid"), host = n.attribute("hostname");
                       if (!res || !host) return;
                       found.emplace_back(SafeId("hostname", host.value()), SafeId("resuuid", res.value()));
                   });
}

void ReadDirectoryAnswerRoot(const std::string& bytes, TFVApiResult& r) {
    pugi::xml_document doc;
    LoadAnswer("GetApiResultFromStream", bytes, nullptr, doc, r);
}

// ---- the calls ----

void FVApi_GetAppInfo(const std::string& logLongSessionId, TStream& answer, TFVApiResult& r, THttpClient* client) {
    RunCall(ciGetAppInfo, {.Answer = &answer}, r, client,
            [&](TCallStep& c) { c.Form.AddField("loglongsessionid", logLongSessionId); });
}

void FVApi_CheckFolvane(const std::string& folvaneIdList, std::vector<TFolvaneAlbum>* albums, TFVApiResult& r,
                        THttpClient* client) {
    RunCall(
        ciCheckFolvane, {}, r, client,
        [&](TCallStep& c) {
            c.Require(albums, "Albums = nil");
            c.Ask = !folvaneIdList.empty();  // an empty list asks nothing
            c.Form.AddField("folvaneidary", folvaneIdList);
        },
        [&](const std::string& bytes) { ReadAlbumsAnswer(bytes, *albums, r); });
}

void FVApi_StartUpload(TFolvaneUploadInfoItem* info, TFVApiResult& r, THttpClient* client) {
    RunCall(
        ciStartUpload, {}, r, client,
        [&](TCallStep& c) {
            c.Require(info, "UploadInfo = nil");
            c.Form.AddField("folvaneid", info->FolvaneId());
            c.Form.AddField("backtest", "true");
        },
        [&](const std::string& bytes) { ReadUploadInfoAnswer(bytes, *info, r); });
}

void FVApi_FinishedUpload(const std::string& folvaneId, const std::string& directName, const std::string& tabName,
                          bool isComplete, int createMode, int sourceType, std::string& nextPageUrl, TFVApiResult& r,
                          THttpClient* client) {
    RunCall(
        ciFinishedUpload, {}, r, client,
        [&](TCallStep& c) {
            c.Require(!folvaneId.empty(), "FolvaneID = nil");
            c.Form.AddField("folvaneid", folvaneId);
            c.Form.AddField("iscomplete", isComplete ? "true" : "false");
            c.Form.AddField("tabname", tabName);
            c.Form.AddField("createmode", GetFolvaneCreateModeString(createMode));
            if (createMode != fvcmDefault) {
                c.Form.AddField("direct_type", GetFolvaneSourceTypeString(sourceType));
                if (sourceType == fvastCalendar)
                    c.Form.AddField("direct_photoday", directName);
                else if (sourceType >= fvastFolder && sourceType <= fvastTag)
                    c.Form.AddField("direct_name", directName);
            }
        },
        [&](const std::string& bytes) { ReadNextPageAnswer(bytes, "finishedUpload_response", nextPageUrl, r); });
}

void FVApi_UploadEx(const std::string& folvaneId, const std::string& filePath, const std::string& comment,
                    const std::vector<std::string>& tags, const std::string& orgFileName, bool cover,
                    int32_t orgHeight, int32_t orgWidth, int32_t thumbId, int32_t photoIndex, std::string& resUuid,
                    TFVApiResult& r, THttpClient* client) {
    RunCall(
        ciUploadEx, {}, r, client,
        [&](TCallStep& c) {
            c.Require(!folvaneId.empty(), "FolvaneID = nil");
            c.RequireFile(filePath);
            c.Form.AddField("folvaneid", folvaneId);
            c.Form.AddField("editmode", cover ? "jacket" : "contents");
            c.Form.AddField("photoindex", ToDecimal(photoIndex));
            c.Form.AddField("resuuid", resUuid);
            c.Form.AddField("comment", comment);
            if (thumbId >= 0) {
                c.Form.AddField("thumbid", ToDecimal(thumbId));
                c.Form.AddField("orgwidth", ToDecimal(orgWidth));
                c.Form.AddField("orgheight", ToDecimal(orgHeight));
            }
            for (size_t i = 0; i < tags.size(); ++i)
                c.Form.AddField(Format("phototag%d", static_cast<int>(i)), tags[i]);
            c.Form.AddField("orgfilename", orgFileName);
            c.Form.AddFile("data", filePath, FileNameOf(filePath), ContentTypeOfFileName(filePath));
        },
        [&](const std::string& bytes) { ReadResourceIdAnswer(bytes, "upload_response", resUuid, r); });
}

void FVApi_UploadBodyIcon(const std::string& fileName, const std::string* iconBytes, std::string& nextPageUrl,
                          TFVApiResult& r, THttpClient* client) {
    RunCall(
        ciUploadBodyIcon, {}, r, client,
        [&](TCallStep& c) {
            c.Require(iconBytes, "IconStream = nil");
            c.Require(!iconBytes->empty(), "IconStream is Empty");
            // the file name goes in UTF-8; libcurl builds the boundary, so no data can break the body
            c.Form.AddData("data", *iconBytes, FileNameOf(fileName), ContentTypeOfFileName(fileName));
        },
        [&](const std::string& bytes) { ReadNextPageAnswer(bytes, "uploadBodyicon_response", nextPageUrl, r); });
}

void FVApi_UploadBgm(const std::string& folvaneId, const std::string& fileName, const std::string& title,
                     const std::string* bgmBytes, TBgmUploadForm which, std::string& output, TFVApiResult& r,
                     THttpClient* client) {
    RunCall(
        ciUploadBgm, {}, r, client,
        [&](TCallStep& c) {
            c.Require(!folvaneId.empty(), "FolvaneID = nil");
            c.Require(bgmBytes, "BgmStream = nil");
            c.Require(!bgmBytes->empty(), "BgmStream is Empty");
            c.Form.AddField("folvaneid", folvaneId);
            if (which == TBgmUploadForm::ResourceId || !title.empty()) c.Form.AddField("title", title);
            c.Form.AddData("data", *bgmBytes, FileNameOf(fileName), ContentTypeOfFileName(fileName));
        },
        [&](const std::string& bytes) {
            if (which == TBgmUploadForm::ResourceId)
                ReadResourceIdAnswer(bytes, "uploadBgm_response", output, r);
            else
                ReadNextPageAnswer(bytes, "uploadBgm_response", output, r);
        });
}

void FVApi_UploadBack(const std::string& longSessionId, const std::string& resUuid, const std::string& filePath,
                      int32_t thumbId, const std::string& orgFileName, TFVApiResult& r, THttpClient* client) {
    RunCall(ciUploadBack, {.Session = &longSessionId}, r, client, [&](TCallStep& c) {
        c.Require(!resUuid.empty(), "ResUuid = nil");
        c.RequireFile(filePath);
        c.Form.AddField("resuuid", resUuid);
        if (thumbId >= 0) c.Form.AddField("thumbid", ToDecimal(thumbId));
        if (!orgFileName.empty()) c.Form.AddField("orgfilename", orgFileName);
        c.Form.AddFile("data", filePath, FileNameOf(filePath), ContentTypeOfFileName(filePath));
    });
}

void FVApi_GetRestUploadBack(const std::string& longSessionId, std::vector<TFolvaneRestItem>* items,
                             TFVApiResult& r, THttpClient* client) {
    if (items) items->clear();
    RunCall(
        ciGetRestUploadBack, {.Session = &longSessionId}, r, client,
        [&](TCallStep& c) { c.Require(items, "RestItems = nil"); },
        [&](const std::string& bytes) { ReadRestItemsAnswer(bytes, *items, r); });
}

void FVApi_UploadFailBack(const std::string& longSessionId, const std::string& resUuid, TFVApiResult& r,
                          THttpClient* client) {
    RunCall(ciUploadFailBack, {.Session = &longSessionId}, r, client, [&](TCallStep& c) {
        c.Require(!resUuid.empty(), "ResUuid = nil");
        c.Form.AddField("resuuid", resUuid);
    });
}

void FVApi_FinishedUploadBack(const std::string& longSessionId, bool isComplete, TFVApiResult& r,
                              THttpClient* client) {
    RunCall(ciFinishedUploadBack, {.Session = &longSessionId}, r, client,
            [&](TCallStep& c) { c.Form.AddField("iscomplete", isComplete ? "true" : "false"); });
}

void FVApi_SaveLog(const std::string& logUrl, const std::string& longSessionId, const std::string& logData,
                   TFVApiResult& r, THttpClient* client) {
    RunCall(ciSaveLog, {.Session = &longSessionId, .Url = &logUrl}, r, client, [&](TCallStep& c) {
        c.Require(!logData.empty(), "Data = nil");
        c.Form.AddField("logdata", logData);
    });
}

void FVApi_LogOut(TFVApiResult& r, THttpClient* client) { RunCall(ciLogOut, {}, r, client, NoFields); }

void EyeFi_GetDirectoryResources(const std::string& dirId, int32_t revision, TStream& answer, TFVApiResult& r,
                                 THttpClient* client) {
    RunCall(ciGetDirectoryResources, {.Answer = &answer}, r, client, [&](TCallStep& c) {
        c.Form.AddField("dirid", dirId);
        c.Form.AddField("revision", ToDecimal(revision));
    });
}

void EyeFi_loadThumbnail(const std::string& resId, int32_t width, int32_t height, TStream& answer, TFVApiResult& r,
                         THttpClient* client) {
    RunCall(ciLoadThumbnail, {.Answer = &answer}, r, client, [&](TCallStep& c) {
        c.Form.AddField("resid", resId);
        c.Form.AddField("width", ToDecimal(width));
        c.Form.AddField("height", ToDecimal(height));
    });
}

void EyeFi_loadResource(const std::string& resId, int32_t revision, TStream& answer, TFVApiResult& r,
                        THttpClient* client) {
    RunCall(ciLoadResource, {.Answer = &answer}, r, client, [&](TCallStep& c) {
        c.Form.AddField("resid", resId);
        if (revision > 0) c.Form.AddField("revision", ToDecimal(revision));
    });
}

void EyeFi_Upload(const std::string& folvaneId, int32_t photoIndex, const std::string& resId, TFVApiResult& r,
                  THttpClient* client) {
    RunCall(ciEyeFiUpload, {}, r, client, [&](TCallStep& c) {
        c.Require(!folvaneId.empty(), "FolvaneID = nil");
        c.Form.AddField("folvaneid", folvaneId);
        c.Form.AddField("photoindex", ToDecimal(photoIndex));
        c.Form.AddField("resid", resId);
    });
}

}  // namespace fv
