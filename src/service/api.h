#pragma once
// The service calls: each is one multipart POST to a script of the photo-book service, answered
// by a small XML document (or raw bytes for the card reads). Every call takes its inputs and a
// result record, fills the record and never throws. Session, base URLs and the remote photo URL
// come from the start parameters at call time.
//
// Each call makes its own HTTP client unless the caller hands one in (to watch progress or to
// cancel the transfer from another thread).
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/http.h"
#include "platform/stream.h"

namespace fv {

FV_DECLARE_EXCEPTION(EFolvaneApiError, Exception);

enum TFVApiResultKind : uint8_t {
    fvrkNone = 0,
    fvrkSuccess = 1,
    fvrkSocketError = 2,
    fvrkRequestFailed = 3,
    fvrkException = 4,
    fvrkNotModified = 5,
};

struct TFVApiResult {
    bool Success = false;
    std::string Code;
    std::string Message;
    uint8_t Kind = fvrkNone;
    std::string ErrorCode;
    void Reset() { *this = TFVApiResult(); }
};

// "Successed", "socketeEror", "requestFalied", "exception", "Not Modified", else "UnKnown"
// (the texts are also the error-page types of the application information)
const char* ResultKindName(int kind);

enum TFolvaneApiSourceType : uint8_t { fvastNone = 0, fvastCalendar, fvastFolder, fvastMirabelo, fvastTag };
enum TFolvaneCreateMode : uint8_t { fvcmDefault = 0, fvcmDirectAlbum, fvcmDirectSlideshow };
// form texts; another value raises EFolvaneApiError
std::string GetFolvaneSourceTypeString(int sourceType);
std::string GetFolvaneCreateModeString(int createMode);

struct TFolvaneAlbum {
    std::string FolvaneId, Title, PreviewUrl;
};

struct TFolvaneRestItem {
    TFolvaneRestItem(std::string hostName, std::string resUuid)
        : HostName(std::move(hostName)), ResUuid(std::move(resUuid)) {}
    std::string HostName, ResUuid;
};

struct TFolvaneThumbSpec {
    int32_t ThumbId = 0, Width = 0, Height = 0, JpegQuality = 0;
};
constexpr int kThumbSlotCount = 7;

// The upload settings "startUpload.php" returns. Written by the start call, read by upload
// workers: every field goes through the item's lock.
class TFolvaneUploadInfoItem {
public:
    std::string FolvaneId();
    void SetFolvaneId(const std::string& v);
    std::string HostName();
    void SetHostName(const std::string& v);
    std::string LongSessionId();
    void SetLongSessionId(const std::string& v);
    bool AllowParallel();
    void SetAllowParallel(bool v);
    void GetOriginalMax(int32_t& width, int32_t& height, int32_t& jpegQuality);
    void SetOriginalMax(int32_t width, int32_t height, int32_t jpegQuality);
    // slot 1..7; a slot outside gives a zero record
    TFolvaneThumbSpec Thumb(int slot);
    void SetThumb(int slot, const TFolvaneThumbSpec& spec);

private:
    std::mutex FLock;
    std::string FFolvaneId, FHostName, FLongSessionId;
    bool FAllowParallel = false;
    int32_t FOrgWidth = 0, FOrgHeight = 0, FOrgQuality = 90;
    std::array<TFolvaneThumbSpec, kThumbSlotCount> FThumbs{};
};

// Which answer the music upload reads: the resource id (the photo uploader's form) or the next
// page (the music dialog's form, which leaves out an empty title).
enum class TBgmUploadForm { ResourceId, NextPage };

void FVApi_GetAppInfo(const std::string& logLongSessionId, TStream& answer, TFVApiResult& r,
                      THttpClient* client = nullptr);
// folvaneIdList: the book ids joined by ","; an empty list sends nothing. Albums are appended.
void FVApi_CheckFolvane(const std::string& folvaneIdList, std::vector<TFolvaneAlbum>* albums, TFVApiResult& r,
                        THttpClient* client = nullptr);
void FVApi_StartUpload(TFolvaneUploadInfoItem* info, TFVApiResult& r, THttpClient* client = nullptr);
void FVApi_FinishedUpload(const std::string& folvaneId, const std::string& directName, const std::string& tabName,
                          bool isComplete, int createMode, int sourceType, std::string& nextPageUrl, TFVApiResult& r,
                          THttpClient* client = nullptr);
// resUuid is sent and replaced by the answer's resource id; thumbId < 0 sends no thumbnail fields
void FVApi_UploadEx(const std::string& folvaneId, const std::string& filePath, const std::string& comment,
                    const std::vector<std::string>& tags, const std::string& orgFileName, bool cover,
                    int32_t orgHeight, int32_t orgWidth, int32_t thumbId, int32_t photoIndex, std::string& resUuid,
                    TFVApiResult& r, THttpClient* client = nullptr);
// iconBytes null = no stream
void FVApi_UploadBodyIcon(const std::string& fileName, const std::string* iconBytes, std::string& nextPageUrl,
                          TFVApiResult& r, THttpClient* client = nullptr);
// output: the resource id (ResourceId form) or the next page URL (NextPage form)
void FVApi_UploadBgm(const std::string& folvaneId, const std::string& fileName, const std::string& title,
                     const std::string* bgmBytes, TBgmUploadForm form, std::string& output, TFVApiResult& r,
                     THttpClient* client = nullptr);
void FVApi_UploadBack(const std::string& longSessionId, const std::string& resUuid, const std::string& filePath,
                      int32_t thumbId, const std::string& orgFileName, TFVApiResult& r, THttpClient* client = nullptr);
// the list is emptied first
void FVApi_GetRestUploadBack(const std::string& longSessionId, std::vector<TFolvaneRestItem>* items,
                             TFVApiResult& r, THttpClient* client = nullptr);
void FVApi_UploadFailBack(const std::string& longSessionId, const std::string& resUuid, TFVApiResult& r,
                          THttpClient* client = nullptr);
void FVApi_FinishedUploadBack(const std::string& longSessionId, bool isComplete, TFVApiResult& r,
                              THttpClient* client = nullptr);
void FVApi_SaveLog(const std::string& logUrl, const std::string& longSessionId, const std::string& logData,
                   TFVApiResult& r, THttpClient* client = nullptr);
void FVApi_LogOut(TFVApiResult& r, THttpClient* client = nullptr);
// the card reads leave the answer's bytes in the caller's stream
void EyeFi_GetDirectoryResources(const std::string& dirId, int32_t revision, TStream& answer, TFVApiResult& r,
                                 THttpClient* client = nullptr);
void EyeFi_loadThumbnail(const std::string& resId, int32_t width, int32_t height, TStream& answer, TFVApiResult& r,
                         THttpClient* client = nullptr);
void EyeFi_loadResource(const std::string& resId, int32_t revision, TStream& answer, TFVApiResult& r,
                        THttpClient* client = nullptr);
void EyeFi_Upload(const std::string& folvaneId, int32_t photoIndex, const std::string& resId, TFVApiResult& r,
                  THttpClient* client = nullptr);

// ---- answer readers (also what the fuzz targets drive) ----
// Each takes the answer bytes of a 200 exchange and fills the result and the call's output.
// They raise EFolvaneApiError for answers that cannot be used; the calls classify that as EE0100.
// root: the answer's expected root; nullptr takes any root but "error" and an HTML page's
void ReadResultAnswer(const std::string& bytes, const char* root, TFVApiResult& r);
void ReadAlbumsAnswer(const std::string& bytes, std::vector<TFolvaneAlbum>& albums, TFVApiResult& r);
void ReadUploadInfoAnswer(const std::string& bytes, TFolvaneUploadInfoItem& info, TFVApiResult& r);
// root: the answer's expected root; output unchanged when the answer has no next page
void ReadNextPageAnswer(const std::string& bytes, const char* root, std::string& nextPageUrl, TFVApiResult& r);
void ReadResourceIdAnswer(const std::string& bytes, const char* root, std::string& resUuid, TFVApiResult& r);
void ReadRestItemsAnswer(const std::string& bytes, std::vector<TFolvaneRestItem>& items, TFVApiResult& r);
// the card directory: any root but an HTML page's is the answer; an error document fills the result
void ReadDirectoryAnswerRoot(const std::string& bytes, TFVApiResult& r);

// Identifiers from the service become folder and file names: one path component, no "/", no
// backslash, no NUL or control character, not "." or "..", at most 128 bytes.
bool IsSafePathComponent(const std::string& id);
// A decimal 32-bit integer with nothing else around it; false otherwise (out of range included).
bool ParseDecimal32(const std::string& text, int32_t& value);

// Result of a kind that the transport exception gives ("ES0001" ...), for callers that classify themselves.
const char* TransportErrorCode(const std::exception& e);

}  // namespace fv
