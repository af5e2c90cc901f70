#include "platform/shell.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

namespace fv {
namespace {

std::vector<char*> Argv(const std::vector<std::string>& argv) {
    std::vector<char*> a;
    for (const auto& s : argv) a.push_back(const_cast<char*>(s.c_str()));
    a.push_back(nullptr);
    return a;
}

void QuietStdio() {
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (null > 2) ::close(null);
    }
}

}  // namespace

bool SpawnDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    std::vector<char*> a = Argv(argv);  // built before fork: no allocation in the child
    int pipefd[2];
    if (::pipe2(pipefd, O_CLOEXEC) != 0) return false;
    pid_t child = ::fork();
    if (child < 0) {
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        return false;
    }
    if (child == 0) {
        // the middle process leaves at once so that the opener is not our child
        ::setsid();
        pid_t grand = ::fork();
        if (grand != 0) ::_exit(grand < 0 ? 1 : 0);
        ::close(pipefd[0]);
        QuietStdio();
        ::execvp(a[0], a.data());
        int err = errno;
        if (::write(pipefd[1], &err, sizeof err) < 0) {
        }
        ::_exit(127);
    }
    ::close(pipefd[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    do {
        n = ::read(pipefd[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    ::close(pipefd[0]);
    // EOF without data: the exec closed the pipe, the program runs
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

int RunAndWait(const std::vector<std::string>& argv) {
    if (argv.empty()) return -1;
    std::vector<char*> a = Argv(argv);
    pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        QuietStdio();
        ::execvp(a[0], a.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ProgramInPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos) end = p.size();
        std::string dir(end > start ? std::string_view(p).substr(start, end - start) : std::string_view("."));
        dir += '/';
        dir += name;
        if (::access(dir.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace fv
