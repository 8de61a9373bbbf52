// The benchmark's relay that stands for a remote site: every chunk is held for the delay in each
// direction, chunks in flight do not wait for each other, and an end of the connection reaches the other
// side only after what was held. Everything on 127.0.0.1.

#include "bench/DelayProxy.h"
#include "bench/Loopback.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tessor::bench::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A listening socket on a free port of 127.0.0.1.
struct Listener {
    int port = 0;
    int fd = ListenOnLoopback(4, &port);
    ~Listener() { ::close(fd); }
    int Accept() const {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 2000) == 1 ? ::accept(fd, nullptr, nullptr) : -1;
    }
};

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = LoopbackAddress(port);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 ? fd : -1;
}

void Send(int fd, const std::string& text) {
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

// Reads until `want` bytes or the end of the connection, at most 3 s; the bytes, and whether it ended.
std::string ReadUpTo(int fd, std::size_t want, bool* ended = nullptr) {
    std::string got;
    const auto deadline = Clock::now() + 3s;
    while (got.size() < want && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            continue;
        char buffer[256];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (ended)
                *ended = true;
            break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A client connected through a relay to a server of the test's own; the ends are closed with it.
struct Relayed {
    Listener upstream;
    DelayProxy proxy;
    int client = -1;
    int server = -1;
    bool Open(std::chrono::milliseconds delay) {
        if (proxy.Start(upstream.port, delay))
            client = Connect(proxy.Port());
        if (client >= 0)
            server = upstream.Accept();
        return server >= 0;
    }
    ~Relayed() {
        for (const int fd : {client, server})
            if (fd >= 0)
                ::close(fd);
    }
};

TEST(DelayProxy, HoldsEachChunkForTheDelayInEachDirectionWithoutQueueingThemBehindEachOther) {
    Relayed relay;
    ASSERT_TRUE(relay.Open(100ms));
    const int client = relay.client;
    const int server = relay.server;

    auto start = Clock::now();
    Send(client, "RD 8C10\r");
    EXPECT_EQ(ReadUpTo(server, 8), "RD 8C10\r");
    EXPECT_GE(MsSince(start), 100.0);
    EXPECT_LT(MsSince(start), 600.0);

    start = Clock::now();
    Send(server, "8C10: 3F\n\rL>");
    EXPECT_EQ(ReadUpTo(client, 12), "8C10: 3F\n\rL>");
    EXPECT_GE(MsSince(start), 100.0);
    EXPECT_LT(MsSince(start), 600.0);

    // Five chunks 30 ms apart: the last one leaves 100 ms after it came, not 5 x 100 ms after the first.
    start = Clock::now();
    for (const char* chunk : {"a", "b", "c", "d", "e"}) {
        Send(client, chunk);
        std::this_thread::sleep_for(30ms);
    }
    EXPECT_EQ(ReadUpTo(server, 5), "abcde");
    EXPECT_GE(MsSince(start), 220.0);
    EXPECT_LT(MsSince(start), 450.0);
}

TEST(DelayProxy, AClosedConnectionEndsTheOtherSideAfterWhatWasHeld) {
    Relayed relay;
    ASSERT_TRUE(relay.Open(50ms));
    Send(relay.server, "8C");
    ::close(relay.server);
    relay.server = -1;
    bool ended = false;
    EXPECT_EQ(ReadUpTo(relay.client, 100, &ended), "8C");
    EXPECT_TRUE(ended);
}

TEST(DelayProxy, AnUpstreamThatRefusesEndsTheClientsConnection) {
    int refusingPort = 0;
    {
        Listener gone;
        refusingPort = gone.port;
    }
    DelayProxy proxy;
    ASSERT_TRUE(proxy.Start(refusingPort, 20ms));
    const int client = Connect(proxy.Port());
    ASSERT_GE(client, 0);
    bool ended = false;
    EXPECT_EQ(ReadUpTo(client, 1, &ended), "");
    EXPECT_TRUE(ended);
    ::close(client);
}

} // namespace
} // namespace tessor::bench::test
