#include "link/NetworkSerialDevice.h"
#include "link/WriteLoop.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tessor {

namespace {

using Clock = std::chrono::steady_clock;

// Keep-alive finds a server that vanished without a word (power cut, cable pulled) in about 25 s.
constexpr int kKeepIdleSeconds = 10;
constexpr int kKeepIntervalSeconds = 5;
constexpr int kKeepCount = 3;
constexpr std::size_t kReceiveChunk = 4096;

// Rounded up: a wait of the whole bound, never a little less.
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>((left + 999) / 1000) : 0;
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
int Connect(const NetworkPortName& name, std::chrono::milliseconds timeout, int* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(name.port);
    const int rc = ::getaddrinfo(name.host.c_str(), service.c_str(), &hints, &found);
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

IoResult Lost(int err) {
    return {IoResult::HungUp, err, 0};
}

} // namespace

bool IsNetworkErrorCode(int err) {
    return err <= kNetworkBadName && err >= kNetworkClosedByServer;
}

std::string NetworkErrorMessage(int err) {
    switch (err) {
    case kNetworkBadName:
        return "Not a network port name (write rfc2217://host:port or socket://host:port)";
    case kNetworkNameNotFound:
        return "Host name not found";
    case kNetworkClosedByServer:
        return "Connection closed by the console server";
    default:
        return "Network error " + std::to_string(err);
    }
}

std::unique_ptr<NetworkSerialDevice> NetworkSerialDevice::Open(const std::string& name,
                                                               const LineSettings& settings, int* errorCode,
                                                               NetworkTimeouts timeouts) {
    int error = 0;
    auto fail = [errorCode](int err) {
        if (errorCode)
            *errorCode = err;
        return std::unique_ptr<NetworkSerialDevice>();
    };
    const NetworkPortParse parse = ParseNetworkPortName(name);
    if (parse.kind != NetworkPortParse::Valid)
        return fail(kNetworkBadName);
    const int fd = Connect(parse.name, timeouts.connect, &error);
    if (fd < 0)
        return fail(error);
    SetSocketOptions(fd);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = errno;
        ::close(fd);
        return fail(error);
    }
    std::unique_ptr<Rfc2217Codec> codec;
    if (parse.name.protocol == NetworkProtocol::Rfc2217)
        codec = std::make_unique<Rfc2217Codec>(settings);
    std::unique_ptr<NetworkSerialDevice> device(
        new NetworkSerialDevice(fd, pipeFds[0], pipeFds[1], std::move(codec)));
    if (device->m_codec) {
        error = device->Negotiate(timeouts.negotiation);
        if (error != 0)
            return fail(error);
    }
    if (errorCode)
        *errorCode = 0;
    return device;
}

NetworkSerialDevice::NetworkSerialDevice(int fd, int wakeRead, int wakeWrite,
                                         std::unique_ptr<Rfc2217Codec> codec)
    : m_fd(fd), m_wakeRead(wakeRead), m_wakeWrite(wakeWrite), m_codec(std::move(codec)) {}

NetworkSerialDevice::~NetworkSerialDevice() {
    ::close(m_fd);
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
}

// Offers the options and waits, within the bound, for the answers. A server that refuses them or stays
// silent is let be once the bound has passed: its port settings are then its own, and the console
// bytes still go through escaped.
int NetworkSerialDevice::Negotiate(std::chrono::milliseconds bound) {
    {
        std::lock_guard<std::mutex> lock(m_codecMutex);
        m_codec->Start();
    }
    IoResult r = FlushCodec();
    if (!r.ok())
        return r.errorCode;
    const Clock::time_point deadline = Clock::now() + bound;
    for (;;) {
        Rfc2217Codec::Negotiation state;
        {
            std::lock_guard<std::mutex> lock(m_codecMutex);
            state = m_codec->State();
        }
        const int left = MillisecondsLeft(deadline);
        if (state == Rfc2217Codec::Negotiation::Ready || left == 0)
            return 0;
        r = ReceiveOnce(nullptr, 0, true, left);
        if (!r.ok())
            return r.errorCode;
    }
}

IoResult NetworkSerialDevice::FlushCodec() {
    std::vector<std::uint8_t> out;
    {
        std::lock_guard<std::mutex> lock(m_codecMutex);
        out = m_codec->TakeOutgoing();
    }
    return SendAll(out.data(), out.size());
}

IoResult NetworkSerialDevice::SendAll(const std::uint8_t* data, std::size_t len) {
    WriteLoop loop;
    loop.fd = m_fd;
    loop.wakeFd = m_wakeRead;
    loop.interrupted = &m_interrupted;
    loop.attempt = [this](const std::uint8_t* bytes, std::size_t n) {
        return ::send(m_fd, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    };
    loop.failure = [](ssize_t, int error, std::size_t done) -> IoResult {
        return {IoResult::HungUp, error != 0 ? error : kNetworkClosedByServer, done};
    };
    return WriteAll(loop, data, len);
}

IoResult NetworkSerialDevice::ReceiveOnce(std::uint8_t* data, std::size_t len, bool wait, int timeoutMs,
                                          std::size_t* received) {
    for (;;) {
        if (m_interrupted.load())
            return {IoResult::Interrupted, 0, 0};
        if (wait) {
            pollfd p[2] = {{m_fd, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
            const int rc = ::poll(p, 2, timeoutMs);
            if (rc < 0 && errno == EINTR)
                continue;
            if (rc < 0)
                return {IoResult::Error, errno, 0};
            if (p[1].revents & POLLIN)
                return {IoResult::Interrupted, 0, 0};
            if (rc == 0)
                return {IoResult::Ok, 0, 0};
        }
        std::uint8_t chunk[kReceiveChunk];
        std::uint8_t* into = m_codec ? chunk : data;
        const std::size_t room = m_codec ? sizeof chunk : len;
        const ssize_t n = ::recv(m_fd, into, room, MSG_DONTWAIT);
        if (n == 0)
            return Lost(kNetworkClosedByServer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return {IoResult::Ok, 0, 0};
        if (n < 0)
            return Lost(errno);
        if (received)
            *received = static_cast<std::size_t>(n);
        if (!m_codec)
            return {IoResult::Ok, 0, static_cast<std::size_t>(n)};
        std::size_t taken = 0;
        {
            std::lock_guard<std::mutex> lock(m_codecMutex);
            m_codec->Receive(chunk, static_cast<std::size_t>(n));
            if (data)
                taken = m_codec->TakeData(data, len);
        }
        const IoResult sent = FlushCodec();
        if (!sent.ok())
            return sent;
        return {IoResult::Ok, 0, taken};
    }
}

IoResult NetworkSerialDevice::Write(const std::uint8_t* data, std::size_t len) {
    if (!m_codec)
        return SendAll(data, len);
    {
        std::lock_guard<std::mutex> lock(m_codecMutex);
        m_codec->Send(data, len);
    }
    const IoResult r = FlushCodec();
    return {r.status, r.errorCode, r.ok() ? len : 0};
}

IoResult NetworkSerialDevice::Read(std::uint8_t* data, std::size_t len) {
    for (;;) {
        if (m_codec) {
            std::lock_guard<std::mutex> lock(m_codecMutex);
            if (m_codec->HasData())
                return {IoResult::Ok, 0, m_codec->TakeData(data, len)};
        }
        const IoResult r = ReceiveOnce(data, len, true, -1);
        if (!r.ok() || r.count > 0)
            return r;
    }
}

bool NetworkSerialDevice::Purge() {
    std::uint8_t scratch[kReceiveChunk];
    for (;;) {
        std::size_t received = 0;
        const IoResult r = ReceiveOnce(scratch, sizeof scratch, false, 0, &received);
        if (!r.ok())
            return r.status == IoResult::HungUp; // the next read reports the end of the connection
        if (received == 0)
            break;
    }
    if (m_codec) {
        std::lock_guard<std::mutex> lock(m_codecMutex);
        m_codec->DiscardData();
    }
    return true;
}

void NetworkSerialDevice::Interrupt() {
    m_interrupted.store(true);
    const std::uint8_t b = 1;
    (void)!::write(m_wakeWrite, &b, 1);
}

} // namespace tessor
