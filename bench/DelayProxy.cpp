#include "bench/DelayProxy.h"

#include "bench/Loopback.h"

#include <algorithm>
#include <arpa/inet.h>
#include <deque>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tessor::bench {
namespace {

using Clock = std::chrono::steady_clock;

void NoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int ConnectUpstream(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = LoopbackAddress(port);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        NoDelay(fd);
        return fd;
    }
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// One direction of a relayed connection: the chunks read from `from` and when each may leave on `to`.
struct Direction {
    int from;
    int to;
    std::deque<std::pair<Clock::time_point, std::string>> held;
    bool ended = false;    // `from` has closed (or failed)
    bool shutDown = false; // and `to` has been told, once everything held had left

    bool Done() const { return shutDown; }

    void Read(std::chrono::milliseconds delay) {
        char buffer[4096];
        const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
        if (n <= 0)
            ended = true;
        else
            held.emplace_back(Clock::now() + delay, std::string(buffer, static_cast<std::size_t>(n)));
    }

    // Sends what is due; closes the writing half once `from` has ended and nothing is held.
    void SendDue() {
        while (!held.empty() && held.front().first <= Clock::now()) {
            const std::string& chunk = held.front().second;
            if (::send(to, chunk.data(), chunk.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(chunk.size()))
                ended = true;
            held.pop_front();
        }
        if (ended && held.empty() && !shutDown) {
            ::shutdown(to, SHUT_WR);
            shutDown = true;
        }
    }

    // Milliseconds until the first held chunk is due (at most limit).
    int WaitMs(int limit) const {
        if (held.empty())
            return limit;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(held.front().first - Clock::now());
        return std::clamp(static_cast<int>(left.count()) + 1, 0, limit);
    }
};

} // namespace

bool DelayProxy::Start(int upstreamPort, std::chrono::milliseconds delay) {
    m_upstream = upstreamPort;
    m_delay = delay;
    m_listen = ListenOnLoopback(16, &m_port);
    if (m_listen < 0)
        return false;
    m_acceptor = std::thread([this] { AcceptLoop(); });
    return true;
}

void DelayProxy::Stop() {
    m_stop = true;
    if (m_acceptor.joinable())
        m_acceptor.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::thread& relay : m_relays)
        relay.join();
    m_relays.clear();
    if (m_listen >= 0)
        ::close(m_listen);
    m_listen = -1;
}

void DelayProxy::AcceptLoop() {
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        NoDelay(client);
        const int server = ConnectUpstream(m_upstream);
        if (server < 0) {
            ::close(client);
            continue;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_relays.emplace_back([this, client, server] { Relay(client, server); });
    }
}

void DelayProxy::Relay(int client, int server) const {
    Direction up{client, server, {}};
    Direction down{server, client, {}};
    while (!m_stop && !(up.Done() && down.Done())) {
        pollfd p[2] = {{up.ended ? -1 : client, POLLIN, 0}, {down.ended ? -1 : server, POLLIN, 0}};
        ::poll(p, 2, std::min(up.WaitMs(50), down.WaitMs(50)));
        if (p[0].revents != 0)
            up.Read(m_delay);
        if (p[1].revents != 0)
            down.Read(m_delay);
        up.SendDue();
        down.SendDue();
    }
    ::close(client);
    ::close(server);
}

} // namespace tessor::bench
