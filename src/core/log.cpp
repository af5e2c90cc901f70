#include "core/log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/datetime.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace fv {
namespace {

constexpr const char* kCrLf = "\r\n";

std::mutex gLogLock;
int gLogFile = -1;
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

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EWriteError("Stream write error");
        done += static_cast<size_t>(n);
    }
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

void SetLogCommandLine(const std::string& commandLine) {
    std::lock_guard<std::mutex> g(gLogLock);
    gCommandLine = commandLine;
    gCommandLineSet = true;
}

void DeleteOldLogFiles(const std::string& folder) {
    if (!DirectoryExists(folder)) return;
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.size() < 4 || strcasecmp(name.c_str() + name.size() - 4, ".log") != 0) continue;
            struct stat st {};
            std::string full = folder + "/" + name;
            if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
    size_t i = 0;
    while (names.size() - i > 7) {
        ::unlink((folder + "/" + names[i]).c_str());
        ++i;
    }
}

void OpenCorvaLog(const std::string& logFolder) {
    std::lock_guard<std::mutex> g(gLogLock);
    if (!DirectoryExists(logFolder)) return;
    if (gLogFile >= 0) return;  // one run writes to one file
    DeleteOldLogFiles(logFolder);
    std::string folder = logFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::string path = folder + "/" + FormatDateCompact(Now()) + ".log";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) throw EFOpenError(Format("Cannot open file \"%s\". %s", path.c_str(), std::strerror(errno)));
    std::string banner = kCrLf;
    banner += kCrLf;
    banner += std::string(60, '/') + kCrLf;
    banner += FormatTimestamp(Now()) + kCrLf;
    banner += "START";
    banner += kCrLf;
    banner += (gCommandLineSet ? gCommandLine : ProcCommandLine()) + kCrLf;
    try {
        WriteAll(fd, banner);
    } catch (...) {
        ::close(fd);
        throw;
    }
    gLogFile = fd;
    gLogFileName = path;
}

void CloseCorvaLog() {
    std::lock_guard<std::mutex> g(gLogLock);
    if (gLogFile < 0) return;
    int fd = gLogFile;
    gLogFile = -1;
    gLogFileName.clear();
    std::string banner(41, '-');
    banner += kCrLf;
    banner += FormatTimestamp(Now()) + kCrLf;
    banner += "END";
    banner += kCrLf;
    banner += std::string(60, '/') + kCrLf;
    try {
        WriteAll(fd, banner);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

bool IsCorvaLogOpen() {
    std::lock_guard<std::mutex> g(gLogLock);
    return gLogFile >= 0;
}

std::string CorvaLogFileName() {
    std::lock_guard<std::mutex> g(gLogLock);
    return gLogFileName;
}

void WriteLog(const std::string& message) {
    if (message.empty()) return;
    std::string block = EntryBlock(message);  // formatted outside the lock
    std::lock_guard<std::mutex> g(gLogLock);
    if (gLogFile < 0) return;
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
