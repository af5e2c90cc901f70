#include "core/log.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>
#include <sys/stat.h>

#include "platform/collate.h"
#include "platform/datetime.h"
#include "platform/exception.h"
#include "platform/file_sys.h"
#include "platform/stream.h"

namespace fv {
namespace {

constexpr const char* kCrLf = "\r\n";

std::mutex gLogLock;
TAppendFile gLogFile;
std::string gLogFileName;
std::string gCommandLine;
bool gCommandLineSet = false;

std::string ProcCommandLine() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string out;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        std::string arg = raw.substr(start, end - start);
        if (!out.empty()) out += ' ';
        if (arg.find(' ') != std::string::npos || arg.empty())
            out += '"' + arg + '"';
        else
            out += arg;
        start = end + 1;
    }
    return out;
}

void WriteAll(TAppendFile& file, const std::string& text) {
    if (!file.Write(text)) throw EWriteError("Stream write error");
}

// ".log" in any case
bool HasLogExtension(std::string_view name) {
    return name.size() >= 4 && UpperCaseAscii(name.substr(name.size() - 4)) == ".LOG";
}

std::string EntryBlock(const std::string& message) {
    std::string block(41, '-');
    block += kCrLf;
    block += FormatTimestamp(Now());
    block += kCrLf;
    block += message;
    block += kCrLf;
    return block;
}

}  // namespace

std::string MaskSessionId(const std::string& sessionId) {
    // enough of a prefix to match lines of one session, never the whole secret
    const size_t keep = sessionId.size() > 8 ? 4 : sessionId.size() / 2;
    if (sessionId.empty()) return std::string();
    return sessionId.substr(0, keep) + "***";
}

std::string MaskLoggedParams(const std::string& text) {
    static constexpr std::string_view kKey = "sessionid=";
    std::string out;
    size_t from = 0;
    for (size_t i = 0; i + kKey.size() <= text.size(); ++i) {
        bool match = true;
        for (size_t k = 0; k < kKey.size() && match; ++k)
            match = std::tolower(static_cast<unsigned char>(text[i + k])) == kKey[k];
        if (!match) continue;
        size_t start = i + kKey.size();
        size_t end = start;
        // the value ends where the item, the quoted parameter, the query pair or the word ends
        while (end < text.size() && !std::strchr(",\"&; \t\r\n)", text[end])) ++end;
        std::string value = text.substr(start, end - start);
        // a line that shows the masked value already keeps it
        bool masked = value.size() >= 3 && value.compare(value.size() - 3, 3, "***") == 0;
        out.append(text, from, start - from);
        out += masked ? value : MaskSessionId(value);
        from = end;
        i = end - 1;
    }
    if (from == 0) return text;
    out.append(text, from, std::string::npos);
    return out;
}

void SetLogCommandLine(const std::string& commandLine) {
    std::lock_guard<std::mutex> g(gLogLock);
    gCommandLine = commandLine;
    gCommandLineSet = true;
}

void DeleteOldLogFiles(const std::string& folder) {
    if (!IsDirectoryPath(folder)) return;
    std::vector<std::string> names;
    ListDirectory(
        folder, [](std::string_view name, bool) { return HasLogExtension(name); },
        [&](std::string_view name, const TFileFacts& facts) {
            if (facts.IsFile) names.emplace_back(name);
        });
    // oldest first: the names are dates, compared without regard to ASCII case
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [&](char x, char y) { return lower(x) < lower(y); });
    });
    size_t i = 0;
    while (names.size() - i > 7) {
        RemoveFile(folder + "/" + names[i]);
        ++i;
    }
}

void OpenCorvaLog(const std::string& logFolder) {
    std::lock_guard<std::mutex> g(gLogLock);
    if (!IsDirectoryPath(logFolder)) return;
    if (gLogFile.IsOpen()) return;  // one run writes to one file
    DeleteOldLogFiles(logFolder);
    std::string folder = logFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::string path = folder + "/" + FormatDateCompact(Now()) + ".log";
    // the log carries service addresses and start parameters: nobody else reads it
    ::chmod(folder.c_str(), 0700);
    TAppendFile file;
    if (!file.Open(path, 0600)) throw EFOpenError(Format("Cannot open file \"%s\". %s", path.c_str(), std::strerror(errno)));
    ::chmod(path.c_str(), 0600);  // a file left by an older run
    std::string banner = kCrLf;
    banner += kCrLf;
    banner += std::string(60, '/') + kCrLf;
    banner += FormatTimestamp(Now()) + kCrLf;
    banner += "START";
    banner += kCrLf;
    banner += MaskLoggedParams(gCommandLineSet ? gCommandLine : ProcCommandLine()) + kCrLf;
    WriteAll(file, banner);  // a failing banner closes the file again
    std::swap(gLogFile, file);
    gLogFileName = path;
}

void CloseCorvaLog() {
    std::lock_guard<std::mutex> g(gLogLock);
    if (!gLogFile.IsOpen()) return;
    TAppendFile file;
    std::swap(gLogFile, file);
    gLogFileName.clear();
    std::string banner(41, '-');
    banner += kCrLf;
    banner += FormatTimestamp(Now()) + kCrLf;
    banner += "END";
    banner += kCrLf;
    banner += std::string(60, '/') + kCrLf;
    WriteAll(file, banner);
}

bool IsCorvaLogOpen() {
    std::lock_guard<std::mutex> g(gLogLock);
    return gLogFile.IsOpen();
}

std::string CorvaLogFileName() {
    std::lock_guard<std::mutex> g(gLogLock);
    return gLogFileName;
}

void WriteLog(const std::string& message) {
    if (message.empty()) return;
    std::string block = EntryBlock(MaskLoggedParams(message));  // formatted outside the lock
    std::lock_guard<std::mutex> g(gLogLock);
    if (!gLogFile.IsOpen()) return;
    try {
        WriteAll(gLogFile, block);
    } catch (...) {
        // a full disk must not take the program down with it
    }
}

void WriteLogText(const std::string& label, const std::string& text) {
    WriteLog(Format("%s : %s", label.c_str(), text.c_str()));
}

void WriteLogException(const std::string& label, const std::exception& e) {
    WriteLog(Format("%s : %s Raised ( %s )", label.c_str(), ExceptionClassName(e).c_str(), e.what()));
}

void WriteLogFailed(const std::string& operation, const std::exception& e) {
    WriteLog(Format("%s is Failed. ( %s Raised ( %s ) )", operation.c_str(), ExceptionClassName(e).c_str(), e.what()));
}

void WriteLogExceptionDetail(const std::string& label, const std::string& detail, const std::exception& e) {
    WriteLog(Format("%s : %s Raised ( %s ; %s )", label.c_str(), ExceptionClassName(e).c_str(), e.what(),
                    detail.c_str()));
}

}  // namespace fv
