#include "link/NetworkSocket.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tessor {

struct NetworkSocket::Handles {
    int fd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    ~Handles() {
        for (int h : {fd, wakeRead, wakeWrite})
            if (h >= 0)
                ::close(h);
    }
};

namespace {

using Clock = std::chrono::steady_clock;

// Keep-alive finds a server that vanished without a word (power cut, cable pulled) in about 25 s.
constexpr int kKeepIdleSeconds = 10;
constexpr int kKeepIntervalSeconds = 5;
constexpr int kKeepCount = 3;

// Rounded up: a wait of the whole bound, never a little less.
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>((left + 999) / 1000) : 0;
}

// Linux leaves quick-acknowledge mode on its own after a while and then holds the ACK of a small segment
// for 40 ms or more. A console server whose socket keeps Nagle's algorithm on (ser2net's default) does not
// send a reply's next character until that ACK arrives, so every reply would stall once. Asked again
// after every receive, the ACK goes out at once.
void AcknowledgeAtOnce(int fd) {
    const int on = 1;
    (void)setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

void SetSocketOptions(int fd) {
    const int on = 1;
    (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    (void)setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleSeconds, sizeof kKeepIdleSeconds);
    (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalSeconds, sizeof kKeepIntervalSeconds);
    (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
}

// One address: a non-blocking connect that waits at most until the deadline. Returns the socket, or -1
// with *error set.
int ConnectOne(const addrinfo& ai, Clock::time_point deadline, int* error) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) == 0)
        return fd;
    if (errno != EINPROGRESS) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        const int rc = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0) {
            *error = rc == 0 ? ETIMEDOUT : errno;
            ::close(fd);
            return -1;
        }
        break;
    }
    int soError = 0;
    socklen_t size = sizeof soError;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &size) != 0)
        soError = errno;
    if (soError != 0) {
        *error = soError;
        ::close(fd);
        return -1;
    }
    return fd;
}

// Every address of the host in turn until one answers; the error of the last one otherwise.
int ConnectAny(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout, int* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        *error = rc == EAI_SYSTEM ? errno : kNetworkNameNotFound;
        return -1;
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    int fd = -1;
    *error = ETIMEDOUT;
    for (const addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next)
        fd = ConnectOne(*ai, deadline, error);
    ::freeaddrinfo(found);
    return fd;
}

} // namespace

std::unique_ptr<NetworkSocket> NetworkSocket::Connect(const std::string& host, std::uint16_t port,
                                                      std::chrono::milliseconds timeout, int* error) {
    auto handles = std::make_unique<Handles>();
    handles->fd = ConnectAny(host, port, timeout, error);
    if (handles->fd < 0)
        return nullptr;
    SetSocketOptions(handles->fd);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = errno;
        return nullptr;
    }
    handles->wakeRead = pipeFds[0];
    handles->wakeWrite = pipeFds[1];
    return std::unique_ptr<NetworkSocket>(new NetworkSocket(std::move(handles)));
}

NetworkSocket::NetworkSocket(std::unique_ptr<Handles> handles) : m_handles(std::move(handles)) {}

NetworkSocket::~NetworkSocket() = default;

NetworkSocket::Transfer NetworkSocket::Send(const std::uint8_t* data, std::size_t len) {
    for (;;) {
        const ssize_t n = ::send(m_handles->fd, data, len, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return {Transfer::Done, static_cast<std::size_t>(n), 0};
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return {Transfer::WouldBlock, 0, 0};
        return {Transfer::Failed, 0, errno};
    }
}

NetworkSocket::Transfer NetworkSocket::Receive(std::uint8_t* data, std::size_t len) {
    for (;;) {
        const ssize_t n = ::recv(m_handles->fd, data, len, MSG_DONTWAIT);
        if (n > 0) {
            AcknowledgeAtOnce(m_handles->fd);
            return {Transfer::Done, static_cast<std::size_t>(n), 0};
        }
        if (n == 0)
            return {Transfer::Closed, 0, 0};
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return {Transfer::WouldBlock, 0, 0};
        return {Transfer::Failed, 0, errno};
    }
}

NetworkSocket::WaitResult NetworkSocket::Wait(bool writable, int timeoutMs, int* error) {
    for (;;) {
        pollfd p[2] = {{m_handles->fd, static_cast<short>(writable ? POLLOUT : POLLIN), 0},
                       {m_handles->wakeRead, POLLIN, 0}};
        const int rc = ::poll(p, 2, timeoutMs);
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc < 0) {
            *error = errno;
            return WaitResult::Failed;
        }
        if (p[1].revents & POLLIN)
            return WaitResult::Woken;
        return rc == 0 ? WaitResult::TimedOut : WaitResult::Ready;
    }
}

bool IsConnectionResetError(int err) {
    return err == ECONNRESET || err == EPIPE || err == ECONNABORTED;
}

void NetworkSocket::Wake() {
    const std::uint8_t b = 1;
    (void)!::write(m_handles->wakeWrite, &b, 1);
}

} // namespace tessor
