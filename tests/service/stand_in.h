#pragma once
// Starts the stand-in service (fvservice) on a free loopback port for one test program or
// benchmark, and talks to its admin paths. The process ends with the object.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/http.h"
#include "platform/stream.h"

namespace fv {

class TStandInService {
public:
    // extra: more arguments (--tls CERT KEY)
    explicit TStandInService(const std::string& program, const std::vector<std::string>& extra = {}) {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe failed");
        FPid = fork();
        if (FPid == 0) {
            // a test program that dies without its teardown takes its service along
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<std::string> args = {program, "--port", "0"};
            args.insert(args.end(), extra.begin(), extra.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        // "fvservice listening on http://127.0.0.1:PORT"
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        size_t colon = line.rfind(':');
        if (line.find("listening on") == std::string::npos || colon == std::string::npos) {
            Stop();
            throw std::runtime_error("fvservice did not start: " + line);
        }
        FBase = line.substr(line.find("http"));
    }
    ~TStandInService() { Stop(); }
    TStandInService(const TStandInService&) = delete;
    TStandInService& operator=(const TStandInService&) = delete;

    const std::string& Base() const { return FBase; }  // "http://127.0.0.1:PORT"

    // POST to an admin path with form fields; returns the answer text
    std::string Admin(const std::string& path, const std::vector<std::pair<std::string, std::string>>& fields = {}) {
        THttpClient c;
        c.SetCaFile(FCaFile);
        THttpForm form;
        form.AddField("from", "test");  // the stand-in's server wants a body with every POST
        for (const auto& [k, v] : fields) form.AddField(k, v);
        TMemoryStream out;
        c.Post(FBase + path, form, out);
        return std::string(out.Data().begin(), out.Data().end());
    }
    std::string State() {
        THttpClient c;
        c.SetCaFile(FCaFile);
        TMemoryStream out;
        c.Get(FBase + "/_admin/state", out);
        return std::string(out.Data().begin(), out.Data().end());
    }
    void Reset() { Admin("/_admin/reset"); }
    void Fault(const std::string& path, const std::vector<std::pair<std::string, std::string>>& fields) {
        auto f = fields;
        f.emplace_back("path", path);
        Admin("/_admin/fault", f);
    }
    void SetCaFile(const std::string& path) { FCaFile = path; }

    void Stop() {
        if (FPid <= 0) return;
        kill(FPid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(FPid, nullptr, WNOHANG) == FPid) {
                FPid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(FPid, SIGKILL);
        waitpid(FPid, nullptr, 0);
        FPid = -1;
    }

private:
    pid_t FPid = -1;
    std::string FBase;
    std::string FCaFile;
};

}  // namespace fv
