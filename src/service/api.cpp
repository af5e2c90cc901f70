#include "service/api.h"

#include <cctype>
#include <pugixml.hpp>

#include <filesystem>
#include <memory>

#include "core/log.h"
#include "service/start_params.h"

namespace fv {

namespace {

constexpr const char* kUserAgent = "Folvane Browser";
// XML answers are small; the card reads carry pictures
constexpr int64_t kMaxXmlAnswer = 4ll << 20;
constexpr int64_t kMaxPictureAnswer = 256ll << 20;

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
        r.ErrorCode = e.Message() == "SessionId = nil" ? "EE0001" : e.Message() == "Url = nil" ? "EE0002" : "EE0100";
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

bool ExchangeXml(const char* label, const std::string& url, const THttpForm& form, std::string& bytes,
                 TFVApiResult& r, THttpClient* client) {
    TMemoryStream answer;
    if (!Exchange(label, url, form, answer, r, TClassify::Plain, kMaxXmlAnswer, client)) return false;
    bytes.assign(answer.Data().begin(), answer.Data().end());
    return true;
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

// one of the calls that answer with a result document only
void ResultOnlyCall(const char* label, const std::string& url, const THttpForm& form, const char* root,
                    TFVApiResult& r, THttpClient* client) {
    std::string bytes;
    if (ExchangeXml(label, url, form, bytes, r, client)) ReadResultAnswer(bytes, root, r);
}

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
        default: {
            EFolvaneApiError e(Format("UnKnown FolvaneApiSourceType. (fvast = %d)", sourceType));
            WriteLogException("GetFolvaneSourceTypeString", e);
            throw e;
        }
    }
}

std::string GetFolvaneCreateModeString(int createMode) {
    switch (createMode) {
        case fvcmDefault: return "default";
        case fvcmDirectAlbum: return "direct_album";
        case fvcmDirectSlideshow: return "direct_slideshow";
        default: {
            EFolvaneApiError e(Format("UnKnown FolvaneCreateMode. (fvcm = %d)", createMode));
            WriteLogException("GetFolvaneCreateModeString", e);
            throw e;
        }
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
    pugi::xml_document doc;
    pugi::xml_node top = LoadAnswer("GetAlbumsFromStream", bytes, "checkFolvane_response", doc, r);
    if (!top) return;
    pugi::xml_node list = top.first_child();
    if (std::string(list.name()) != "folvanes") return;
    std::vector<TFolvaneAlbum> found;
    for (pugi::xml_node f = list.child("folvane"); f; f = f.next_sibling("folvane")) {
        pugi::xml_attribute id = f.attribute("folvaneid");
        if (!id) continue;  // the id is required
        TFolvaneAlbum a;
        a.FolvaneId = SafeId("folvaneid", id.value());
        a.Title = Attr(f, "title");
        a.PreviewUrl = Attr(f, "previewurl");
        found.push_back(std::move(a));
    }
    albums.insert(albums.end(), found.begin(), found.end());
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
    pugi::xml_document doc;
    pugi::xml_node top = LoadAnswer("GetRestResItems", bytes, "getRestUploadBack_response", doc, r);
    if (!top) return;
    pugi::xml_node list = top.first_child();
    if (std::string(list.name()) != "resources") return;
    std::vector<TFolvaneRestItem> found;
    for (pugi::xml_node n = list.child("resource"); n; n = n.next_sibling("resource")) {
        pugi::xml_attribute res = n.attribute("resuuid"), host = n.attribute("hostname");
        if (!res || !host) continue;
        found.emplace_back(SafeId("hostname", host.value()), SafeId("resuuid", res.value()));
    }
    items.insert(items.end(), found.begin(), found.end());
}

void ReadDirectoryAnswerRoot(const std::string& bytes, TFVApiResult& r) {
    pugi::xml_document doc;
    LoadAnswer("GetApiResultFromStream", bytes, nullptr, doc, r);
}

// ---- the calls ----

void FVApi_GetAppInfo(const std::string& logLongSessionId, TStream& answer, TFVApiResult& r, THttpClient* client) {
    const char* label = "FVApi_GetAppInfo";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), url = FVApiParams().AppInfoUrl();
        if (session.empty()) Fail(label, "SessionId = nil");
        if (url.empty()) Fail(label, "Url = nil");
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("loglongsessionid", logLongSessionId);
        if (Exchange(label, url, form, answer, r, TClassify::Kinds, kMaxXmlAnswer, client)) {
            r.Success = true;
            r.Kind = fvrkSuccess;
        }
    });
}

void FVApi_CheckFolvane(const std::string& folvaneIdList, std::vector<TFolvaneAlbum>* albums, TFVApiResult& r,
                        THttpClient* client) {
    const char* label = "FVApi_CheckFolvane";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().BaseUrl();
        if (session.empty()) Fail(label, "SessionID = nil");
        if (base.empty()) Fail(label, "Url = nil");
        if (!albums) Fail(label, "Albums = nil");
        if (folvaneIdList.empty()) return;  // nothing to ask
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("folvaneidary", folvaneIdList);
        std::string bytes;
        if (ExchangeXml(label, base + "checkFolvane.php", form, bytes, r, client)) ReadAlbumsAnswer(bytes, *albums, r);
    });
}

void FVApi_StartUpload(TFolvaneUploadInfoItem* info, TFVApiResult& r, THttpClient* client) {
    const char* label = "FVApi_StartUpload";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().BaseUrl();
        if (session.empty()) Fail(label, "SessionId = nil");
        if (base.empty()) Fail(label, "Url = nil");
        if (!info) Fail(label, "UploadInfo = nil");
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("folvaneid", info->FolvaneId());
        form.AddField("backtest", "true");
        std::string bytes;
        if (ExchangeXml(label, base + "startUpload.php", form, bytes, r, client)) ReadUploadInfoAnswer(bytes, *info, r);
    });
}

void FVApi_FinishedUpload(const std::string& folvaneId, const std::string& directName, const std::string& tabName,
                          bool isComplete, int createMode, int sourceType, std::string& nextPageUrl, TFVApiResult& r,
                          THttpClient* client) {
    const char* label = "FVApi_FinishedUpload";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().BaseUrl();
        if (session.empty()) Fail(label, "SessionID = nil");
        if (base.empty()) Fail(label, "Url = nil");
        if (folvaneId.empty()) Fail(label, "FolvaneID = nil");
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("folvaneid", folvaneId);
        form.AddField("iscomplete", isComplete ? "true" : "false");
        form.AddField("tabname", tabName);
        form.AddField("createmode", GetFolvaneCreateModeString(createMode));
        if (createMode != fvcmDefault) {
            form.AddField("direct_type", GetFolvaneSourceTypeString(sourceType));
            if (sourceType == fvastCalendar)
                form.AddField("direct_photoday", directName);
            else if (sourceType >= fvastFolder && sourceType <= fvastTag)
                form.AddField("direct_name", directName);
        }
        std::string bytes;
        if (ExchangeXml(label, base + "finishedUpload.php", form, bytes, r, client))
            ReadNextPageAnswer(bytes, "finishedUpload_response", nextPageUrl, r);
    });
}

void FVApi_UploadEx(const std::string& folvaneId, const std::string& filePath, const std::string& comment,
                    const std::vector<std::string>& tags, const std::string& orgFileName, bool cover,
                    int32_t orgHeight, int32_t orgWidth, int32_t thumbId, int32_t photoIndex, std::string& resUuid,
                    TFVApiResult& r, THttpClient* client) {
    const char* label = "FVApi_UploadEx";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().BaseUrl();
        if (session.empty()) Fail(label, "SessionID = nil");
        if (base.empty()) Fail(label, "Url = nil");
        if (folvaneId.empty()) Fail(label, "FolvaneID = nil");
        std::error_code ec;
        if (!std::filesystem::is_regular_file(filePath, ec)) Fail(label, "File not Exists : " + filePath);
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("folvaneid", folvaneId);
        form.AddField("editmode", cover ? "jacket" : "contents");
        form.AddField("photoindex", ToDecimal(photoIndex));
        form.AddField("resuuid", resUuid);
        form.AddField("comment", comment);
        if (thumbId >= 0) {
            form.AddField("thumbid", ToDecimal(thumbId));
            form.AddField("orgwidth", ToDecimal(orgWidth));
            form.AddField("orgheight", ToDecimal(orgHeight));
        }
        for (size_t i = 0; i < tags.size(); ++i) form.AddField(Format("phototag%d", static_cast<int>(i)), tags[i]);
        form.AddField("orgfilename", orgFileName);
        form.AddFile("data", filePath, FileNameOf(filePath), ContentTypeOfFileName(filePath));
        std::string bytes;
        if (ExchangeXml(label, base + "upload.php", form, bytes, r, client))
            ReadResourceIdAnswer(bytes, "upload_response", resUuid, r);
    });
}

void FVApi_UploadBodyIcon(const std::string& fileName, const std::string* iconBytes, std::string& nextPageUrl,
                          TFVApiResult& r, THttpClient* client) {
    const char* label = "FVApi_UploadBodyIcon";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().BaseUrl();
        if (session.empty()) Fail(label, "SessionId = nil");
        if (!iconBytes) Fail(label, "IconStream = nil");
        if (iconBytes->empty()) Fail(label, "IconStream is Empty");
        // the file name goes in UTF-8; libcurl builds the boundary, so no data can break the body
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddData("data", *iconBytes, FileNameOf(fileName), ContentTypeOfFileName(fileName));
        std::string bytes;
        if (ExchangeXml(label, base + "uploadBodyicon.php", form, bytes, r, client))
            ReadNextPageAnswer(bytes, "uploadBodyicon_response", nextPageUrl, r);
    });
}

void FVApi_UploadBgm(const std::string& folvaneId, const std::string& fileName, const std::string& title,
                     const std::string* bgmBytes, TBgmUploadForm which, std::string& output, TFVApiResult& r,
                     THttpClient* client) {
    const char* label = "FVApi_UploadBgm";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().BaseUrl();
        if (session.empty()) Fail(label, "SessionID = nil");
        if (base.empty()) Fail(label, "Url = nil");
        if (folvaneId.empty()) Fail(label, "FolvaneID = nil");
        if (!bgmBytes) Fail(label, "BgmStream = nil");
        if (bgmBytes->empty()) Fail(label, "BgmStream is Empty");
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("folvaneid", folvaneId);
        if (which == TBgmUploadForm::ResourceId || !title.empty()) form.AddField("title", title);
        form.AddData("data", *bgmBytes, FileNameOf(fileName), ContentTypeOfFileName(fileName));
        std::string bytes;
        if (!ExchangeXml(label, base + "uploadBgm.php", form, bytes, r, client)) return;
        if (which == TBgmUploadForm::ResourceId)
            ReadResourceIdAnswer(bytes, "uploadBgm_response", output, r);
        else
            ReadNextPageAnswer(bytes, "uploadBgm_response", output, r);
    });
}

void FVApi_UploadBack(const std::string& longSessionId, const std::string& resUuid, const std::string& filePath,
                      int32_t thumbId, const std::string& orgFileName, TFVApiResult& r, THttpClient* client) {
    const char* label = "FVApi_UploadBack";
    Guard(label, r, [&] {
        std::string base = FVApiParams().BaseUrl();
        if (longSessionId.empty()) Fail(label, "LongSessionId = nil");
        if (base.empty()) Fail(label, "Url = nil");
        if (resUuid.empty()) Fail(label, "ResUuid = nil");
        std::error_code ec;
        if (!std::filesystem::is_regular_file(filePath, ec)) Fail(label, "File not Exists : " + filePath);
        THttpForm form;
        form.AddField("longsessionid", longSessionId);
        form.AddField("resuuid", resUuid);
        if (thumbId >= 0) form.AddField("thumbid", ToDecimal(thumbId));
        if (!orgFileName.empty()) form.AddField("orgfilename", orgFileName);
        form.AddFile("data", filePath, FileNameOf(filePath), ContentTypeOfFileName(filePath));
        ResultOnlyCall(label, base + "uploadBack.php", form, nullptr, r, client);
    });
}

void FVApi_GetRestUploadBack(const std::string& longSessionId, std::vector<TFolvaneRestItem>* items,
                             TFVApiResult& r, THttpClient* client) {
    const char* label = "FVApi_GetRestUploadBack";
    Guard(label, r, [&] {
        if (items) items->clear();
        std::string base = FVApiParams().BaseUrl();
        if (longSessionId.empty()) Fail(label, "LongSessionId = nil");
        if (!items) Fail(label, "RestItems = nil");
        THttpForm form;
        form.AddField("longsessionid", longSessionId);
        std::string bytes;
        if (ExchangeXml(label, base + "getRestUploadBack.php", form, bytes, r, client))
            ReadRestItemsAnswer(bytes, *items, r);
    });
}

void FVApi_UploadFailBack(const std::string& longSessionId, const std::string& resUuid, TFVApiResult& r,
                          THttpClient* client) {
    const char* label = "FVApi_UploadFailBack";
    Guard(label, r, [&] {
        std::string base = FVApiParams().BaseUrl();
        if (longSessionId.empty()) Fail(label, "LongSessionId = nil");
        if (resUuid.empty()) Fail(label, "ResUuid = nil");
        THttpForm form;
        form.AddField("longsessionid", longSessionId);
        form.AddField("resuuid", resUuid);
        ResultOnlyCall(label, base + "uploadFailBack.php", form, nullptr, r, client);
    });
}

void FVApi_FinishedUploadBack(const std::string& longSessionId, bool isComplete, TFVApiResult& r,
                              THttpClient* client) {
    const char* label = "FVApi_FinishedUploadBack";
    Guard(label, r, [&] {
        std::string base = FVApiParams().BaseUrl();
        if (longSessionId.empty()) Fail(label, "LongSessionId = nil");
        THttpForm form;
        form.AddField("longsessionid", longSessionId);
        form.AddField("iscomplete", isComplete ? "true" : "false");
        ResultOnlyCall(label, base + "finishedUploadBack.php", form, nullptr, r, client);
    });
}

void FVApi_SaveLog(const std::string& logUrl, const std::string& longSessionId, const std::string& logData,
                   TFVApiResult& r, THttpClient* client) {
    const char* label = "FVApi_SaveLog";
    Guard(label, r, [&] {
        if (logUrl.empty()) Fail(label, "Url = nil");
        if (longSessionId.empty()) Fail(label, "LongSessionID = nil");
        if (logData.empty()) Fail(label, "Data = nil");
        THttpForm form;
        form.AddField("longsessionid", longSessionId);
        form.AddField("logdata", logData);
        ResultOnlyCall(label, logUrl, form, nullptr, r, client);
    });
}

void FVApi_LogOut(TFVApiResult& r, THttpClient* client) {
    const char* label = "FVApi_LogOut";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().BaseUrl();
        if (session.empty()) Fail(label, "SessionID = nil");
        if (base.empty()) Fail(label, "Url = nil");
        THttpForm form;
        form.AddField("sessionid", session);
        ResultOnlyCall(label, base + "logout.php", form, nullptr, r, client);
    });
}

void EyeFi_GetDirectoryResources(const std::string& dirId, int32_t revision, TStream& answer, TFVApiResult& r,
                                 THttpClient* client) {
    const char* label = "EyeFi_GetDirectoryResources";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().RemotePhotoUrl();
        if (base.empty()) Fail(label, "Url = nil");
        if (session.empty()) return;  // nothing to ask without a session
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("dirid", dirId);
        form.AddField("revision", ToDecimal(revision));
        int64_t start = answer.Position();
        if (!Exchange(label, base + "getDirectoryResources.php", form, answer, r, TClassify::KindsNotModified,
                      kMaxXmlAnswer, client))
            return;
        // the document stays in the stream for the card folder; the result comes from its root
        std::string bytes(static_cast<size_t>(answer.Size() - start), '\0');
        answer.Seek(start, soBeginning);
        answer.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        answer.Seek(start, soBeginning);
        ReadDirectoryAnswerRoot(bytes, r);
    });
}

void EyeFi_loadThumbnail(const std::string& resId, int32_t width, int32_t height, TStream& answer, TFVApiResult& r,
                         THttpClient* client) {
    const char* label = "EyeFi_loadThumbnail";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().RemotePhotoUrl();
        if (base.empty()) Fail(label, "Url = nil");
        if (session.empty()) return;
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("resid", resId);
        form.AddField("width", ToDecimal(width));
        form.AddField("height", ToDecimal(height));
        if (Exchange(label, base + "loadThumbnail.php", form, answer, r, TClassify::Kinds, kMaxPictureAnswer, client)) {
            r.Success = true;
            r.Kind = fvrkSuccess;
        }
    });
}

void EyeFi_loadResource(const std::string& resId, int32_t revision, TStream& answer, TFVApiResult& r,
                        THttpClient* client) {
    const char* label = "EyeFi_loadResource";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().RemotePhotoUrl();
        if (base.empty()) Fail(label, "Url = nil");
        if (session.empty()) return;
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("resid", resId);
        if (revision > 0) form.AddField("revision", ToDecimal(revision));
        if (Exchange(label, base + "loadResource.php", form, answer, r, TClassify::KindsNotModified,
                     kMaxPictureAnswer, client)) {
            r.Success = true;
            r.Kind = fvrkSuccess;
        }
    });
}

void EyeFi_Upload(const std::string& folvaneId, int32_t photoIndex, const std::string& resId, TFVApiResult& r,
                  THttpClient* client) {
    const char* label = "EyeFi_Upload";
    Guard(label, r, [&] {
        std::string session = FVApiParams().SessionId(), base = FVApiParams().RemotePhotoUrl();
        if (session.empty()) Fail(label, "SessionId = nil");
        if (base.empty()) Fail(label, "Url = nil");
        if (folvaneId.empty()) Fail(label, "FolvaneID = nil");
        THttpForm form;
        form.AddField("sessionid", session);
        form.AddField("folvaneid", folvaneId);
        form.AddField("photoindex", ToDecimal(photoIndex));
        form.AddField("resid", resId);
        ResultOnlyCall(label, base + "upload.php", form, nullptr, r, client);
    });
}

}  // namespace fv
