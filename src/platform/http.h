#pragma once
// The one door to libcurl: multipart POSTs, plain GETs and file downloads, one easy handle per
// transfer. A transfer reports its HTTP status (any status, 200 or not, is an answer, not an
// error); only transport failures raise, as the classes below, so that callers can tell a
// socket failure from a refused protocol or a malformed answer.
//
// Every transfer is bounded: a connect time-out, a low-speed limit (a service that accepts the
// connection and then stays silent fails the call), an overall deadline (one that trickles its
// answer fails it too), a cap on the answer size, and Cancel() from any other thread. Only http and https are spoken, also on redirects; TLS peer and host checks
// are always on. A test CA file can be given through the environment (FV_HTTP_CA_FILE).
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/stream.h"

namespace fv {

// any transport failure that fits none of the classes below (TLS refusal, cancellation, size cap)
FV_DECLARE_EXCEPTION(EHttpError, Exception);
// resolve, connect, send or receive failed, time-outs included
FV_DECLARE_EXCEPTION(EHttpSocketError, EHttpError);
// the URL (or a redirect) names a protocol other than http or https
FV_DECLARE_EXCEPTION(EHttpUnknownProtocol, EHttpError);
// the peer answered something that is not HTTP
FV_DECLARE_EXCEPTION(EHttpProtocolError, EHttpError);
// Cancel() stopped the transfer
FV_DECLARE_EXCEPTION(EHttpCancelled, EHttpError);
// the call ran past its overall deadline
FV_DECLARE_EXCEPTION(EHttpDeadline, EHttpSocketError);
// a redirect led to another scheme or origin
FV_DECLARE_EXCEPTION(EHttpRedirectRefused, EHttpProtocolError);
// the answer grew past the size cap
FV_DECLARE_EXCEPTION(EHttpAnswerTooLarge, EHttpError);

// One part of a multipart form: a text field, a file read from disk, or bytes held in memory.
struct THttpFormPart {
    enum TKind { fpText, fpFile, fpData };
    TKind Kind = fpText;
    std::string Name;
    std::string Value;        // text value, or the bytes of an fpData part
    std::string FilePath;     // fpFile: read while the form is sent
    std::string FileName;     // file parts: the name sent with the part
    std::string ContentType;  // file parts
};

// Field order is kept; libcurl makes the boundary and quotes names, so no value can break the form.
class THttpForm {
public:
    void AddField(const std::string& name, const std::string& value);
    void AddFile(const std::string& name, const std::string& path, const std::string& fileName,
                 const std::string& contentType);
    void AddData(const std::string& name, std::string bytes, const std::string& fileName,
                 const std::string& contentType);
    const std::vector<THttpFormPart>& Parts() const { return FParts; }

private:
    std::vector<THttpFormPart> FParts;
};

// Progress of the current transfer; answer false to cancel it.
using THttpProgress = std::function<bool(int64_t downNow, int64_t downTotal, int64_t upNow, int64_t upTotal)>;

class THttpClient {
public:
    static constexpr int kDefaultConnectTimeoutMs = 10000;
    static constexpr int kDefaultLowSpeedBytes = 1;      // bytes per second ...
    static constexpr int kDefaultLowSpeedSeconds = 15;   // ... over this long, or no byte at all for this long,
                                                         // ends the transfer
    static constexpr int64_t kDefaultMaxAnswerBytes = 64ll << 20;
    // every call ends by its deadline, however slowly bytes keep coming: this long, plus the
    // time the bytes moved so far (both ways) take at the minimum average rate
    static constexpr int kDefaultDeadlineMs = 30000;
    static constexpr int64_t kDefaultMinAverageBytesPerSecond = 16 << 10;

    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    void SetUserAgent(const std::string& agent) { FUserAgent = agent; }
    void SetConnectTimeoutMs(int ms) { FConnectTimeoutMs = ms; }
    void SetLowSpeedLimit(int bytesPerSecond, int seconds) {
        FLowSpeedBytes = bytesPerSecond;
        FLowSpeedSeconds = seconds;
    }
    void SetMaxAnswerBytes(int64_t bytes) { FMaxAnswerBytes = bytes; }
    // overall deadline of a call (0 = none) and the minimum average rate that stretches it
    void SetDeadline(int ms, int64_t minAverageBytesPerSecond = kDefaultMinAverageBytesPerSecond) {
        FDeadlineMs = ms;
        FMinAverageBytesPerSecond = minAverageBytesPerSecond;
    }
    // off (the default), a redirect is followed only to the same scheme, host and port: a form
    // is never re-sent elsewhere, nor in clear after https
    void SetAllowCrossOriginRedirects(bool allow) { FCrossOriginRedirects = allow; }
    // CA bundle for the peer check; empty = FV_HTTP_CA_FILE when set, else the system bundle
    void SetCaFile(const std::string& path) { FCaFile = path; }
    // redirects are followed (http and https only) unless turned off; off, a redirect is the answer
    void SetFollowRedirects(bool follow) { FFollowRedirects = follow; }
    // receive buffer of a transfer (0 = libcurl's default); large downloads go faster with more
    void SetReceiveBufferBytes(int bytes) { FReceiveBufferBytes = bytes; }
    void SetProgress(THttpProgress progress) { FProgress = std::move(progress); }

    // Multipart POST; the answer body is appended to `answer`. Returns the HTTP status.
    int Post(const std::string& url, const THttpForm& form, TStream& answer);
    // POST of a body as it stands with the given content type.
    int PostRaw(const std::string& url, const std::string& contentType, const std::string& body, TStream& answer);
    int Get(const std::string& url, TStream& answer);
    // GET into a file (created or replaced). Returns the status; the file is removed again unless it is 200.
    int Download(const std::string& url, const std::string& path);

    // Stops the running transfer (any thread); the transfer raises EHttpCancelled. Stays set
    // until ResetCancel(), so a call that starts after the request ends at once.
    void Cancel() { FCancelled.store(true); }
    void ResetCancel() { FCancelled.store(false); }

    // Ends every running transfer of the process and refuses new ones (EHttpCancelled); safe to
    // call from a signal handler. For the program's end on SIGTERM or SIGINT.
    static void CancelAll();
    static bool AllCancelled();

    // status and reason phrase of the last answer; -1 and empty when none arrived
    int ResponseCode() const { return FResponseCode; }
    const std::string& ResponseText() const { return FResponseText; }
    // the URL of the last transfer, for log lines
    const std::string& LastUrl() const { return FLastUrl; }

private:
    struct TTransfer;
    int Perform(const std::string& url, TTransfer& t);
    int PerformOnce(const std::string& url, TTransfer& t, std::string& redirect);

    std::string FUserAgent;
    std::string FCaFile;
    int FConnectTimeoutMs = kDefaultConnectTimeoutMs;
    int FLowSpeedBytes = kDefaultLowSpeedBytes;
    int FLowSpeedSeconds = kDefaultLowSpeedSeconds;
    bool FFollowRedirects = true;
    int FReceiveBufferBytes = 0;
    int64_t FMaxAnswerBytes = kDefaultMaxAnswerBytes;
    int FDeadlineMs = kDefaultDeadlineMs;
    int64_t FMinAverageBytesPerSecond = kDefaultMinAverageBytesPerSecond;
    bool FCrossOriginRedirects = false;
    THttpProgress FProgress;
    std::atomic<bool> FCancelled{false};
    int FResponseCode = -1;
    std::string FResponseText;
    std::string FLastUrl;
};

// Content type of a file sent in a form, from its extension ("image/jpeg" for ".jpg" ...).
std::string ContentTypeOfFileName(const std::string& fileName);

}  // namespace fv
