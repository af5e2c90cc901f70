#pragma once
// Starting the built browser as a user would, in a private set of XDG folders.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fvtest {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct TProgramHome {
    fs::path Root;
    std::map<std::string, std::string> Env;

    TProgramHome() {
        char tmpl[] = "/tmp/fv-run-XXXXXX";
        Root = ::mkdtemp(tmpl);
        for (const char* d : {"data", "config", "rt", "home"}) fs::create_directories(Root / d);
        fs::permissions(Root / "rt", fs::perms::owner_all);
        Env["XDG_DATA_HOME"] = (Root / "data").string();
        Env["XDG_CONFIG_HOME"] = (Root / "config").string();
        Env["XDG_RUNTIME_DIR"] = (Root / "rt").string();
        Env["HOME"] = (Root / "home").string();
        Env["QT_QPA_PLATFORM"] = "offscreen";
        Env["FOLVANE_TEST_DIALOG_MS"] = "200";
    }
    ~TProgramHome() { fs::remove_all(Root); }

    fs::path LogFolder() const { return Root / "data/Kestrona/FolvaneBrowser/Log"; }
    fs::path RegistryFile() const { return Root / "config/Kestrona/registry.ini"; }
    fs::path SocketFile() const { return Root / "rt/{21357E10-BDCB-4CDD-B2A3-905DD7ED653D}.sock"; }
    std::string LogText() const {
        std::string all;
        if (fs::is_directory(LogFolder()))
            for (auto& e : fs::directory_iterator(LogFolder())) all += ReadFile(e.path());
        return all;
    }

    // starts the program with these parameters; stderr goes to <root>/stderr-<n>
    pid_t Start(const std::vector<std::string>& params, const std::string& stderrName = "stderr") {
        std::vector<std::string> envs;
        for (char** e = environ; *e; ++e) {
            std::string s = *e;
            std::string key = s.substr(0, s.find('='));
            if (!Env.count(key) && key.rfind("FOLVANE_", 0) != 0) envs.push_back(s);
        }
        for (auto& [k, v] : Env) envs.push_back(k + "=" + v);
        std::vector<std::string> args{FV_BINARY_DIR "/folvane-browser"};
        args.insert(args.end(), params.begin(), params.end());
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : envs) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string err = (Root / stderrName).string();
        pid_t pid = ::fork();
        if (pid == 0) {
            FILE* f = std::freopen(err.c_str(), "w", stderr);
            (void)f;
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        return pid;
    }

    // exit code, or -1 when it had to be killed after the time-out
    static int Wait(pid_t pid, int timeoutMs) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (true) {
            pid_t r = ::waitpid(pid, &status, WNOHANG);
            if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            if (std::chrono::steady_clock::now() > end) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    bool WaitFor(const fs::path& p, int timeoutMs) const {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!fs::exists(p)) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
};

inline size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

}  // namespace fvtest
