#include "platform/http.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <type_traits>

#include "platform/file_name.h"

namespace fv {

namespace {

// libcurl and the ~30 libraries it pulls in (TLS, Kerberos, LDAP ...) are loaded when the first
// transfer is made, not at every start of every program: most runs of fvb never speak HTTP, and
// loading them cost more than a rescan of 10,000 photos.
struct TCurlApi {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_mime_init) mime_init = nullptr;
    decltype(&::curl_mime_free) mime_free = nullptr;
    decltype(&::curl_mime_addpart) mime_addpart = nullptr;
    decltype(&::curl_mime_name) mime_name = nullptr;
    decltype(&::curl_mime_data) mime_data = nullptr;
    decltype(&::curl_mime_filedata) mime_filedata = nullptr;
    decltype(&::curl_mime_filename) mime_filename = nullptr;
    decltype(&::curl_mime_type) mime_type = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
    std::string Error;  // why libcurl could not be loaded; empty when it was
};

const TCurlApi& Curl() {
    static const TCurlApi api = [] {
        TCurlApi a;
        void* lib = ::dlopen(FV_CURL_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            const char* why = ::dlerror();
            a.Error = Format("The HTTP library %s could not be loaded: %s", FV_CURL_SONAME, why ? why : "unknown error");
            return a;
        }
        // the library stays loaded for the life of the process
        auto Bind = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(lib, name));
            if (!fn && a.Error.empty()) a.Error = Format("The HTTP library %s has no %s", FV_CURL_SONAME, name);
        };
        Bind(a.global_init, "curl_global_init");
        Bind(a.easy_init, "curl_easy_init");
        Bind(a.easy_cleanup, "curl_easy_cleanup");
        Bind(a.easy_setopt, "curl_easy_setopt");
        Bind(a.easy_perform, "curl_easy_perform");
        Bind(a.easy_getinfo, "curl_easy_getinfo");
        Bind(a.easy_strerror, "curl_easy_strerror");
        Bind(a.mime_init, "curl_mime_init");
        Bind(a.mime_free, "curl_mime_free");
        Bind(a.mime_addpart, "curl_mime_addpart");
        Bind(a.mime_name, "curl_mime_name");
        Bind(a.mime_data, "curl_mime_data");
        Bind(a.mime_filedata, "curl_mime_filedata");
        Bind(a.mime_filename, "curl_mime_filename");
        Bind(a.mime_type, "curl_mime_type");
        Bind(a.slist_append, "curl_slist_append");
        Bind(a.slist_free_all, "curl_slist_free_all");
        if (a.Error.empty()) a.global_init(CURL_GLOBAL_DEFAULT);
        return a;
    }();
    return api;
}

const TCurlApi& CheckedCurl() {
    const TCurlApi& api = Curl();
    if (!api.Error.empty()) throw EHttpError(api.Error);
    return api;
}

struct TEasyDeleter {
    void operator()(CURL* c) const { Curl().easy_cleanup(c); }
};
struct TMimeDeleter {
    void operator()(curl_mime* m) const { Curl().mime_free(m); }
};
struct TSlistDeleter {
    void operator()(curl_slist* l) const { Curl().slist_free_all(l); }
};

// set once by CancelAll (a signal handler may be the caller): every transfer ends, none starts
std::atomic<bool> gAllCancelled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// "https://Host:443/a" -> "https://host:443"; the port is spelled out, so that the default and
// an explicit one compare equal. Empty when the URL has no scheme.
std::string OriginOf(const std::string& url) {
    size_t colon = url.find("://");
    if (colon == std::string::npos) return std::string();
    std::string scheme = url.substr(0, colon);
    for (char& ch : scheme) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    size_t start = colon + 3;
    size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    for (char& ch : authority) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    size_t bracket = authority.rfind(']');
    size_t portColon = authority.rfind(':');
    bool hasPort = portColon != std::string::npos && (bracket == std::string::npos || portColon > bracket);
    if (!hasPort) authority += scheme == "https" ? ":443" : scheme == "http" ? ":80" : "";
    return scheme + "://" + authority;
}

}  // namespace

void THttpClient::CancelAll() { gAllCancelled.store(true); }
bool THttpClient::AllCancelled() { return gAllCancelled.load(); }

void THttpForm::AddField(const std::string& name, const std::string& value) {
    THttpFormPart p;
    p.Kind = THttpFormPart::fpText;
    p.Name = name;
    p.Value = value;
    FParts.push_back(std::move(p));
}

void THttpForm::AddFile(const std::string& name, const std::string& path, const std::string& fileName,
                        const std::string& contentType) {
    THttpFormPart p;
    p.Kind = THttpFormPart::fpFile;
    p.Name = name;
    p.FilePath = path;
    p.FileName = fileName;
    p.ContentType = contentType;
    FParts.push_back(std::move(p));
}

void THttpForm::AddData(const std::string& name, std::string bytes, const std::string& fileName,
                        const std::string& contentType) {
    THttpFormPart p;
    p.Kind = THttpFormPart::fpData;
    p.Name = name;
    p.Value = std::move(bytes);
    p.FileName = fileName;
    p.ContentType = contentType;
    FParts.push_back(std::move(p));
}

std::string ContentTypeOfFileName(const std::string& fileName) {
    const std::string ext = UpperFileExt(fileName);
    static const struct {
        const char* Ext;
        const char* Type;
    } kTypes[] = {{".JPG", "image/jpeg"}, {".JPEG", "image/jpeg"}, {".JPE", "image/jpeg"}, {".PNG", "image/png"},
                  {".GIF", "image/gif"},  {".BMP", "image/bmp"},   {".TIF", "image/tiff"}, {".TIFF", "image/tiff"},
                  {".MP3", "audio/mpeg"}, {".WAV", "audio/wav"},   {".WMA", "audio/x-ms-wma"},
                  {".M4A", "audio/mp4"},  {".XML", "text/xml"},    {".TXT", "text/plain"}};
    for (const auto& t : kTypes)
        if (ext == t.Ext) return t.Type;
    return "application/octet-stream";
}

// What one transfer needs in its callbacks.
struct THttpClient::TTransfer {
    THttpClient* Client = nullptr;
    TStream* Answer = nullptr;
    int64_t Received = 0;
    bool DiscardRedirectBody = false;  // the body of a redirect that is followed by hand
    bool SawLocation = false;
    bool TooLarge = false;
    bool Cancelled = false;
    bool Stalled = false;
    bool PastDeadline = false;
    std::chrono::steady_clock::time_point Start = std::chrono::steady_clock::now();
    // the last time bytes moved either way: a peer that stops answering fails the call
    curl_off_t LastUp = -1, LastDown = -1;
    std::chrono::steady_clock::time_point LastMove = std::chrono::steady_clock::now();
    int StatusCode = -1;
    std::string StatusText;
    // filled by the caller before Perform
    std::function<void(const TCurlApi&, CURL*)> Setup;
};

THttpClient::THttpClient() = default;
THttpClient::~THttpClient() = default;

int THttpClient::Perform(const std::string& url, TTransfer& t) {
    if (FCrossOriginRedirects || !FFollowRedirects) {
        std::string ignored;
        return PerformOnce(url, t, ignored);
    }
    // redirects are followed here, one at a time, so that each target is checked before the
    // request (a form with the session in it) goes there
    const std::string origin = OriginOf(url);
    std::string current = url;
    for (int hop = 0;; ++hop) {
        std::string next;
        int status = PerformOnce(current, t, next);
        if (next.empty() || status < 300 || status > 399) return status;
        if (next.compare(0, 7, "http://") != 0 && next.compare(0, 8, "https://") != 0)
            throw EHttpUnknownProtocol("A redirect to another protocol was refused");
        if (OriginOf(next) != origin)
            throw EHttpRedirectRefused(Format("A redirect to another origin was refused ( %s )", OriginOf(next).c_str()));
        if (hop >= 5) throw EHttpProtocolError("Too many redirects");
        current = next;
    }
}

int THttpClient::PerformOnce(const std::string& url, TTransfer& t, std::string& redirect) {
    redirect.clear();
    if (gAllCancelled.load()) throw EHttpCancelled("The transfer was cancelled");
    t.Received = 0;
    t.TooLarge = t.Cancelled = t.Stalled = t.PastDeadline = false;
    t.LastUp = t.LastDown = -1;
    t.LastMove = t.Start = std::chrono::steady_clock::now();
    t.StatusCode = -1;
    t.StatusText.clear();
    t.SawLocation = false;
    const bool manualRedirects = FFollowRedirects && !FCrossOriginRedirects;
    t.DiscardRedirectBody = manualRedirects;
    FLastUrl = url;
    FResponseCode = -1;
    FResponseText.clear();
    t.Client = this;
    const TCurlApi& curl = CheckedCurl();
    std::unique_ptr<CURL, TEasyDeleter> easy(curl.easy_init());
    if (!easy) throw EHttpError("curl_easy_init failed");
    CURL* c = easy.get();
    char errbuf[CURL_ERROR_SIZE] = {0};

    auto write = +[](char* data, size_t size, size_t n, void* user) -> size_t {
        auto* tr = static_cast<TTransfer*>(user);
        size_t bytes = size * n;
        if (tr->DiscardRedirectBody && tr->SawLocation && tr->StatusCode >= 300 && tr->StatusCode <= 399) return bytes;
        if (tr->Client->FMaxAnswerBytes > 0 &&
            tr->Received + static_cast<int64_t>(bytes) > tr->Client->FMaxAnswerBytes) {
            tr->TooLarge = true;
            return 0;  // ends the transfer with CURLE_WRITE_ERROR
        }
        tr->Received += static_cast<int64_t>(bytes);
        if (tr->Answer->Write(data, static_cast<int64_t>(bytes)) != static_cast<int64_t>(bytes)) return 0;
        return bytes;
    };
    auto header = +[](char* data, size_t size, size_t n, void* user) -> size_t {
        auto* tr = static_cast<TTransfer*>(user);
        size_t bytes = size * n;
        // "HTTP/1.1 404 Not Found": every status line (redirects too), the last one counts
        if (bytes > 9 && strncasecmp(data, "location:", 9) == 0) tr->SawLocation = true;
        if (bytes > 5 && std::memcmp(data, "HTTP/", 5) == 0) {
            tr->SawLocation = false;
            std::string line(data, bytes);
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
            size_t sp = line.find(' ');
            if (sp != std::string::npos) {
                size_t sp2 = line.find(' ', sp + 1);
                std::string code = line.substr(sp + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp - 1);
                tr->StatusCode = (code.size() == 3 && code.find_first_not_of("0123456789") == std::string::npos)
                                     ? std::atoi(code.c_str())
                                     : -1;
                tr->StatusText = sp2 == std::string::npos ? std::string() : line.substr(sp2 + 1);
            }
        }
        return bytes;
    };
    auto progress = +[](void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                        curl_off_t ulNow) -> int {
        auto* tr = static_cast<TTransfer*>(user);
        auto now = std::chrono::steady_clock::now();
        if (ulNow != tr->LastUp || dlNow != tr->LastDown) {
            tr->LastUp = ulNow;
            tr->LastDown = dlNow;
            tr->LastMove = now;
        } else if (tr->Client->FLowSpeedSeconds > 0 &&
                   now - tr->LastMove > std::chrono::seconds(tr->Client->FLowSpeedSeconds)) {
            tr->Stalled = true;
            return 1;
        }
        if (tr->Client->FDeadlineMs > 0) {
            // the deadline grows only with the bytes that moved, at the minimum average rate: a
            // peer that trickles (or announces a size it never sends) gains nothing by it
            int64_t moved = std::max<int64_t>(dlNow, 0) + std::max<int64_t>(ulNow, 0);
            int64_t rate = tr->Client->FMinAverageBytesPerSecond;
            int64_t allowedMs = tr->Client->FDeadlineMs + (rate > 0 ? moved / rate * 1000 + moved % rate * 1000 / rate : 0);
            if (now - tr->Start > std::chrono::milliseconds(allowedMs)) {
                tr->PastDeadline = true;
                return 1;
            }
        }
        if (tr->Client->FCancelled.load() || gAllCancelled.load()) {
            tr->Cancelled = true;
            return 1;
        }
        if (tr->Client->FProgress && !tr->Client->FProgress(dlNow, dlTotal, ulNow, ulTotal)) {
            tr->Cancelled = true;
            return 1;
        }
        return 0;
    };

    curl.easy_setopt(c, CURLOPT_URL, url.c_str());
    curl.easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
    curl.easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl.easy_setopt(c, CURLOPT_WRITEFUNCTION, write);
    curl.easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl.easy_setopt(c, CURLOPT_HEADERFUNCTION, header);
    curl.easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl.easy_setopt(c, CURLOPT_XFERINFOFUNCTION, progress);
    curl.easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    curl.easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    if (!FUserAgent.empty()) curl.easy_setopt(c, CURLOPT_USERAGENT, FUserAgent.c_str());
    // only http and https, also where a redirect leads
    curl.easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl.easy_setopt(c, CURLOPT_FOLLOWLOCATION, FFollowRedirects && !manualRedirects ? 1L : 0L);
    curl.easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    if (FReceiveBufferBytes > 0) curl.easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(FReceiveBufferBytes));
    // a dead or silent service fails the call in bounded time
    curl.easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FConnectTimeoutMs));
    curl.easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(FLowSpeedBytes));
    curl.easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(FLowSpeedSeconds));
    if (FMaxAnswerBytes > 0) curl.easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(FMaxAnswerBytes));
    // the peer is always checked
    curl.easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl.easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    std::string ca = FCaFile;
    if (ca.empty())
        if (const char* env = std::getenv("FV_HTTP_CA_FILE")) ca = env;
    if (!ca.empty()) curl.easy_setopt(c, CURLOPT_CAINFO, ca.c_str());
    // no proxy from the environment for loopback addresses
    curl.easy_setopt(c, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    if (t.Setup) t.Setup(curl, c);

    CURLcode rc = curl.easy_perform(c);
    FResponseCode = t.StatusCode;
    FResponseText = t.StatusText;
    if (rc == CURLE_OK) {
        long code = 0;
        curl.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
        FResponseCode = static_cast<int>(code);
        if (manualRedirects && code >= 300 && code <= 399) {
            char* next = nullptr;
            if (curl.easy_getinfo(c, CURLINFO_REDIRECT_URL, &next) == CURLE_OK && next) redirect = next;
        }
        return FResponseCode;
    }
    std::string detail = errbuf[0] ? std::string(errbuf) : std::string(curl.easy_strerror(rc));
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) detail.pop_back();
    std::string msg = Format("%s (curl %d)", detail.c_str(), static_cast<int>(rc));
    if (t.TooLarge || rc == CURLE_FILESIZE_EXCEEDED)
        throw EHttpAnswerTooLarge(Format("The answer is larger than %lld bytes", static_cast<long long>(FMaxAnswerBytes)));
    switch (rc) {
        case CURLE_ABORTED_BY_CALLBACK:
            if (t.Stalled)
                throw EHttpSocketError(Format("No data moved for %d seconds", FLowSpeedSeconds));
            if (t.PastDeadline) throw EHttpDeadline("The call did not end by its deadline");
            throw EHttpCancelled("The transfer was cancelled");
        case CURLE_UNSUPPORTED_PROTOCOL:
            // curl reports an answer without a status line ("HTTP/0.9") under the same code
            if (detail.find("HTTP/0.9") != std::string::npos) throw EHttpProtocolError(msg);
            throw EHttpUnknownProtocol(msg);
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE: throw EHttpSocketError(msg);
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_HTTP_RETURNED_ERROR: throw EHttpProtocolError(msg);
        default: throw EHttpError(msg);
    }
}

int THttpClient::Post(const std::string& url, const THttpForm& form, TStream& answer) {
    TTransfer t;
    t.Answer = &answer;
    std::unique_ptr<curl_mime, TMimeDeleter> mime;
    t.Setup = [&](const TCurlApi& curl, CURL* c) {
        mime.reset(curl.mime_init(c));
        for (const auto& p : form.Parts()) {
            curl_mimepart* part = curl.mime_addpart(mime.get());
            curl.mime_name(part, p.Name.c_str());
            switch (p.Kind) {
                case THttpFormPart::fpText: curl.mime_data(part, p.Value.data(), p.Value.size()); break;
                case THttpFormPart::fpFile:
                    if (curl.mime_filedata(part, p.FilePath.c_str()) != CURLE_OK)
                        throw EHttpError("Cannot read the file " + p.FilePath);
                    curl.mime_filename(part, p.FileName.c_str());
                    curl.mime_type(part, p.ContentType.c_str());
                    break;
                case THttpFormPart::fpData:
                    curl.mime_data(part, p.Value.data(), p.Value.size());
                    curl.mime_filename(part, p.FileName.c_str());
                    curl.mime_type(part, p.ContentType.c_str());
                    break;
            }
        }
        curl.easy_setopt(c, CURLOPT_MIMEPOST, mime.get());
    };
    return Perform(url, t);
}

int THttpClient::PostRaw(const std::string& url, const std::string& contentType, const std::string& body,
                         TStream& answer) {
    TTransfer t;
    t.Answer = &answer;
    std::unique_ptr<curl_slist, TSlistDeleter> headers;
    t.Setup = [&](const TCurlApi& curl, CURL* c) {
        headers.reset(curl.slist_append(nullptr, ("Content-Type: " + contentType).c_str()));
        curl.easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
        curl.easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
        curl.easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    };
    return Perform(url, t);
}

int THttpClient::Get(const std::string& url, TStream& answer) {
    TTransfer t;
    t.Answer = &answer;
    t.Setup = [](const TCurlApi& curl, CURL* c) { curl.easy_setopt(c, CURLOPT_HTTPGET, 1L); };
    return Perform(url, t);
}

int THttpClient::Download(const std::string& url, const std::string& path) {
    int status = -1;
    try {
        TFileStream file(path, TFileStream::fmCreate);
        status = Get(url, file);
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        throw;
    }
    if (status != 200) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    return status;
}

}  // namespace fv
