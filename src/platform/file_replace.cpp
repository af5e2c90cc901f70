#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/stream.h"

namespace fv {

void ReplaceFileContents(const std::string& path, const void* data, size_t size, unsigned mode) {
    std::string pattern = path + ".XXXXXX";
    std::vector<char> tmp(pattern.begin(), pattern.end());
    tmp.push_back('\0');
    // mkstemp creates with 0600; fchmod narrows or widens before a single byte is written
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0)
        throw EFCreateError(Format("Cannot create file \"%s\". %s", path.c_str(), std::strerror(errno)));
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(tmp.data());
        throw EWriteError(Format("Cannot write file \"%s\". %s", path.c_str(), std::strerror(err)));
    };
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) fail(errno);
    const auto* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, p + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail(n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) fail(errno);
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmp.data());
        throw EWriteError(Format("Cannot write file \"%s\". %s", path.c_str(), std::strerror(err)));
    }
    if (::rename(tmp.data(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.data());
        throw EWriteError(Format("Cannot replace file \"%s\". %s", path.c_str(), std::strerror(err)));
    }
}

bool SetFileMode(const std::string& path, unsigned mode) { return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0; }

bool RenameReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

long long RegularFileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<long long>(st.st_size);
}

}  // namespace fv
