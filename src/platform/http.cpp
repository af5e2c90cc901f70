#include "platform/http.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/file_name.h"

namespace fv {

namespace {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TEasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct TMimeDeleter {
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};
struct TSlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

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
    bool TooLarge = false;
    bool Cancelled = false;
    bool Stalled = false;
    // the last time bytes moved either way: a peer that stops answering fails the call
    curl_off_t LastUp = -1, LastDown = -1;
    std::chrono::steady_clock::time_point LastMove = std::chrono::steady_clock::now();
    int StatusCode = -1;
    std::string StatusText;
    // filled by the caller before Perform
    std::function<void(CURL*)> Setup;
};

THttpClient::THttpClient() { GlobalInit(); }
THttpClient::~THttpClient() = default;

int THttpClient::Perform(const std::string& url, TTransfer& t) {
    FLastUrl = url;
    FResponseCode = -1;
    FResponseText.clear();
    t.Client = this;
    std::unique_ptr<CURL, TEasyDeleter> easy(curl_easy_init());
    if (!easy) throw EHttpError("curl_easy_init failed");
    CURL* c = easy.get();
    char errbuf[CURL_ERROR_SIZE] = {0};

    auto write = +[](char* data, size_t size, size_t n, void* user) -> size_t {
        auto* tr = static_cast<TTransfer*>(user);
        size_t bytes = size * n;
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
        if (bytes > 5 && std::memcmp(data, "HTTP/", 5) == 0) {
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
        if (tr->Client->FCancelled.load()) {
            tr->Cancelled = true;
            return 1;
        }
        if (tr->Client->FProgress && !tr->Client->FProgress(dlNow, dlTotal, ulNow, ulTotal)) {
            tr->Cancelled = true;
            return 1;
        }
        return 0;
    };

    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, write);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, header);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    if (!FUserAgent.empty()) curl_easy_setopt(c, CURLOPT_USERAGENT, FUserAgent.c_str());
    // only http and https, also where a redirect leads
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, FFollowRedirects ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    if (FReceiveBufferBytes > 0) curl_easy_setopt(c, CURLOPT_BUFFERSIZE, static_cast<long>(FReceiveBufferBytes));
    // a dead or silent service fails the call in bounded time
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FConnectTimeoutMs));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(FLowSpeedBytes));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(FLowSpeedSeconds));
    if (FMaxAnswerBytes > 0) curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(FMaxAnswerBytes));
    // the peer is always checked
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    std::string ca = FCaFile;
    if (ca.empty())
        if (const char* env = std::getenv("FV_HTTP_CA_FILE")) ca = env;
    if (!ca.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, ca.c_str());
    // no proxy from the environment for loopback addresses
    curl_easy_setopt(c, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
    if (t.Setup) t.Setup(c);

    CURLcode rc = curl_easy_perform(c);
    FResponseCode = t.StatusCode;
    FResponseText = t.StatusText;
    if (rc == CURLE_OK) {
        long code = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
        FResponseCode = static_cast<int>(code);
        return FResponseCode;
    }
    std::string detail = errbuf[0] ? std::string(errbuf) : std::string(curl_easy_strerror(rc));
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) detail.pop_back();
    std::string msg = Format("%s (curl %d)", detail.c_str(), static_cast<int>(rc));
    if (t.TooLarge || rc == CURLE_FILESIZE_EXCEEDED)
        throw EHttpAnswerTooLarge(Format("The answer is larger than %lld bytes", static_cast<long long>(FMaxAnswerBytes)));
    switch (rc) {
        case CURLE_ABORTED_BY_CALLBACK:
            if (t.Stalled)
                throw EHttpSocketError(Format("No data moved for %d seconds", FLowSpeedSeconds));
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
    t.Setup = [&](CURL* c) {
        mime.reset(curl_mime_init(c));
        for (const auto& p : form.Parts()) {
            curl_mimepart* part = curl_mime_addpart(mime.get());
            curl_mime_name(part, p.Name.c_str());
            switch (p.Kind) {
                case THttpFormPart::fpText: curl_mime_data(part, p.Value.data(), p.Value.size()); break;
                case THttpFormPart::fpFile:
                    if (curl_mime_filedata(part, p.FilePath.c_str()) != CURLE_OK)
                        throw EHttpError("Cannot read the file " + p.FilePath);
                    curl_mime_filename(part, p.FileName.c_str());
                    curl_mime_type(part, p.ContentType.c_str());
                    break;
                case THttpFormPart::fpData:
                    curl_mime_data(part, p.Value.data(), p.Value.size());
                    curl_mime_filename(part, p.FileName.c_str());
                    curl_mime_type(part, p.ContentType.c_str());
                    break;
            }
        }
        curl_easy_setopt(c, CURLOPT_MIMEPOST, mime.get());
    };
    return Perform(url, t);
}

int THttpClient::PostRaw(const std::string& url, const std::string& contentType, const std::string& body,
                         TStream& answer) {
    TTransfer t;
    t.Answer = &answer;
    std::unique_ptr<curl_slist, TSlistDeleter> headers;
    t.Setup = [&](CURL* c) {
        headers.reset(curl_slist_append(nullptr, ("Content-Type: " + contentType).c_str()));
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    };
    return Perform(url, t);
}

int THttpClient::Get(const std::string& url, TStream& answer) {
    TTransfer t;
    t.Answer = &answer;
    t.Setup = [](CURL* c) { curl_easy_setopt(c, CURLOPT_HTTPGET, 1L); };
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
