#pragma once
// A loopback HTTP peer for tests: answers the n-th connection with the n-th scripted answer (the
// last one for every later connection), optionally trickling its body a few bytes at a time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace fv {

// a listening socket on a free loopback port
inline int ListenOnLoopback(int backlog, int& port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd, backlog);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

class TLoopbackPeer {
public:
    struct TAnswer {
        std::string Head;      // status line and headers, sent at once
        std::string Trickle;   // then these bytes, two at a time every TrickleMs
        int TrickleMs = 500;
        TAnswer(std::string head, std::string trickle = {}, int trickleMs = 500)
            : Head(std::move(head)), Trickle(std::move(trickle)), TrickleMs(trickleMs) {}
    };

    TLoopbackPeer(std::initializer_list<TAnswer> answers) : FAnswers(answers) {
        FFd = ListenOnLoopback(8, FPort);
        FThread = std::thread([this] { Serve(); });
    }
    ~TLoopbackPeer() {
        FStop = true;
        FThread.join();
        close(FFd);
    }
    int Port() const { return FPort; }
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(FPort); }
    std::string Url(const std::string& path = "/x.php") const { return Origin() + path; }
    // connections accepted so far
    int Connections() const { return FConnections; }

private:
    void Serve() {
        while (!FStop) {
            pollfd p{FFd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            int c = accept(FFd, nullptr, nullptr);
            if (c < 0) continue;
            const TAnswer& ans = FAnswers[std::min<size_t>(FConnections, FAnswers.size() - 1)];
            ++FConnections;
            // read the request until its headers (and a short form) have arrived
            char buf[8192];
            pollfd q{c, POLLIN, 0};
            while (!FStop && poll(&q, 1, 200) > 0) {
                ssize_t n = recv(c, buf, sizeof buf, 0);
                if (n <= 0) break;
            }
            (void)!send(c, ans.Head.data(), ans.Head.size(), MSG_NOSIGNAL);
            for (size_t i = 0; !FStop && i < ans.Trickle.size(); i += 2) {
                if (send(c, ans.Trickle.data() + i, std::min<size_t>(2, ans.Trickle.size() - i), MSG_NOSIGNAL) <= 0) break;
                for (int w = 0; !FStop && w < ans.TrickleMs; w += 20) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            close(c);
        }
    }

    std::vector<TAnswer> FAnswers;
    int FFd = -1;
    int FPort = 0;
    std::atomic<int> FConnections{0};
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

}  // namespace fv
