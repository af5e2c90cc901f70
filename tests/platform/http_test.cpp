// The HTTP door against raw loopback sockets: refused protocols, dead and silent peers,
// answers that are not HTTP, cancellation and the size cap. The full calls run against the
// stand-in service in tests/service.
#include "platform/http.h"

#include "loopback_peer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace fv {
namespace {

// A loopback listener that answers every connection with fixed bytes (or nothing at all).
class TRawPeer {
public:
    // a silent peer holds the connection for holdMs, then lets go (Released() from then on)
    explicit TRawPeer(std::string answer, bool silent = false, int holdMs = 60000)
        : FAnswer(std::move(answer)), FSilent(silent), FHoldMs(holdMs) {
        FFd = ListenOnLoopback(4, FPort);
        FThread = std::thread([this] {
            int c = accept(FFd, nullptr, nullptr);
            if (c < 0) return;
            char buf[4096];
            (void)!recv(c, buf, sizeof buf, 0);
            if (!FSilent) (void)!send(c, FAnswer.data(), FAnswer.size(), MSG_NOSIGNAL);
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(FHoldMs);
            while (!FStop && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            FReleased = !FStop;
            close(c);
        });
    }
    ~TRawPeer() {
        FStop = true;
        shutdown(FFd, SHUT_RDWR);
        close(FFd);
        FThread.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(FPort) + "/x.php"; }
    bool Released() const { return FReleased; }

private:
    std::string FAnswer;
    bool FSilent;
    int FHoldMs;
    std::atomic<bool> FReleased{false};
    int FFd = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

TEST(Http, TransportFailuresRaiseTheirOwnClasses) {
    THttpClient c;
    TMemoryStream out;
    EXPECT_THROW(c.Get("ftp://127.0.0.1/x", out), EHttpUnknownProtocol);
    EXPECT_THROW(c.Get("file:///etc/passwd", out), EHttpUnknownProtocol);
    EXPECT_THROW(c.Get("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/", out), EHttpSocketError);
    EXPECT_EQ(c.ResponseCode(), -1);
    {
        TRawPeer garbage("this is not http\r\n\r\n");
        EXPECT_THROW(c.Get(garbage.Url(), out), EHttpProtocolError);
    }
    {
        // a redirect may not lead to another protocol
        TRawPeer redirect("HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n");
        EXPECT_THROW(c.Get(redirect.Url(), out), EHttpUnknownProtocol);
    }
    EXPECT_EQ(out.Size(), 0);
}

TEST(Http, StatusAndReasonOfAnyAnswer) {
    TRawPeer peer("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 4\r\nConnection: close\r\n\r\nbusy");
    THttpClient c;
    TMemoryStream out;
    THttpForm form;
    form.AddField("sessionid", "s");
    EXPECT_EQ(c.Post(peer.Url(), form, out), 503);
    EXPECT_EQ(c.ResponseCode(), 503);
    EXPECT_EQ(c.ResponseText(), "Service Unavailable");
    EXPECT_EQ(out.Size(), 4);
}

TEST(Http, SilentPeerFailsInBoundedTime) {
    TRawPeer silent("", true);
    THttpClient c;
    c.SetLowSpeedLimit(1, 1);
    TMemoryStream out;
    EXPECT_THROW(c.Get(silent.Url(), out), EHttpSocketError);
    EXPECT_FALSE(silent.Released());  // the client gave up first, the peer did not end it
}

TEST(Http, CancelFromAnotherThreadAndSizeCap) {
    {
        TRawPeer silent("", true);
        THttpClient c;
        TMemoryStream out;
        std::thread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            c.Cancel();
        });
        EXPECT_THROW(c.Get(silent.Url(), out), EHttpCancelled);
        canceller.join();
        EXPECT_FALSE(silent.Released());  // the cancel ended the call, not the peer
    }
    {
        std::string body(5000, 'x');
        TRawPeer big("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body);  // no length: the cap must catch it
        THttpClient c;
        c.SetMaxAnswerBytes(1000);
        TMemoryStream out;
        EXPECT_THROW(c.Get(big.Url(), out), EHttpAnswerTooLarge);
        EXPECT_LE(out.Size(), 1000);
    }
}

TEST(Http, TricklingAnswerEndsByTheDeadline) {
    // 200 without a length, then two bytes every 200 ms: the stall check never fires
    TLoopbackPeer peer({{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", std::string(200, 'x'), 200}});
    THttpClient c;
    c.SetLowSpeedLimit(1, 5);
    c.SetDeadline(1500);
    TMemoryStream out;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(c.Get(peer.Url(), out), EHttpDeadline);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(4));
    EXPECT_GE(took, std::chrono::milliseconds(1400));
    // bytes that come at the minimum average rate stretch the deadline
    TLoopbackPeer steady({{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n", std::string(40, 'y'), 40}});
    c.SetDeadline(300, 20);
    TMemoryStream all;
    EXPECT_EQ(c.Get(steady.Url(), all), 200);
    EXPECT_EQ(all.Size(), 40);
}

TEST(Http, RedirectsStayWithinTheOrigin) {
    TLoopbackPeer elsewhere({{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok"}});
    THttpForm form;
    form.AddField("sessionid", "secret");
    {
        // another port is another origin: the form is not sent there
        TLoopbackPeer peer({{"HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere.Url("/y.php") +
                             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"}});
        THttpClient c;
        TMemoryStream out;
        EXPECT_THROW(c.Post(peer.Url(), form, out), EHttpRedirectRefused);
        EXPECT_EQ(elsewhere.Connections(), 0);
    }
    {
        // the same origin, a relative target: followed, and only the last answer's body is kept
        TLoopbackPeer peer({{"HTTP/1.1 307 Temporary Redirect\r\nLocation: /z.php\r\nContent-Length: 5\r\n"
                             "Connection: close\r\n\r\nmoved"},
                            {"HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\ndone"}});
        THttpClient c;
        TMemoryStream out;
        EXPECT_EQ(c.Post(peer.Url(), form, out), 200);
        EXPECT_EQ(std::string(out.Data().begin(), out.Data().end()), "done");
        EXPECT_EQ(peer.Connections(), 2);
    }
    {
        // a client that asks for it follows a redirect to another origin
        TLoopbackPeer peer({{"HTTP/1.1 307 Temporary Redirect\r\nLocation: " + elsewhere.Url() +
                             "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"}});
        THttpClient c;
        c.SetAllowCrossOriginRedirects(true);
        TMemoryStream out;
        EXPECT_EQ(c.Post(peer.Url(), form, out), 200);  // allowed only when asked for
    }
}

TEST(Http, ContentTypesByExtension) {
    EXPECT_EQ(ContentTypeOfFileName("/a/b/Photo.JPG"), "image/jpeg");
    EXPECT_EQ(ContentTypeOfFileName("song.mp3"), "audio/mpeg");
    EXPECT_EQ(ContentTypeOfFileName("dir.x/noext"), "application/octet-stream");
}

}  // namespace
}  // namespace fv
