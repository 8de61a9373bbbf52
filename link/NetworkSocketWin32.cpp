#include "link/NetworkSocket.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// In this order: winsock2.h before windows.h, mstcpip.h after both.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
// clang-format on

#include <climits>

namespace tessor {

struct NetworkSocket::Handles {
    bool started = false; // WSAStartup succeeded; each socket holds its own reference
    SOCKET socket = INVALID_SOCKET;
    WSAEVENT socketEvent = WSA_INVALID_EVENT; // readable, writable or closed
    HANDLE wakeEvent = nullptr;               // manual reset: once set, every later wait is woken
    ~Handles() {
        if (socket != INVALID_SOCKET)
            ::closesocket(socket);
        if (socketEvent != WSA_INVALID_EVENT)
            ::WSACloseEvent(socketEvent);
        if (wakeEvent)
            ::CloseHandle(wakeEvent);
        if (started)
            ::WSACleanup();
    }
};

namespace {

using Clock = std::chrono::steady_clock;

// Keep-alive finds a server that vanished without a word (power cut, cable pulled) in about 25 s.
constexpr ULONG kKeepIdleMs = 10000;
constexpr ULONG kKeepIntervalMs = 5000;

long MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<long>((left + 999) / 1000) : 0;
}

void SetSocketOptions(SOCKET s) {
    const BOOL on = TRUE;
    (void)::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    (void)::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive keep{1, kKeepIdleMs, kKeepIntervalMs};
    DWORD returned = 0;
    (void)::WSAIoctl(s, SIO_KEEPALIVE_VALS, &keep, sizeof keep, nullptr, 0, &returned, nullptr, nullptr);
    // Every segment acknowledged at once: a console server with Nagle's algorithm on (ser2net's default)
    // sends a reply's next character only once the previous one is acknowledged, and Windows would
    // otherwise hold that ACK for up to 200 ms. Older systems refuse the request and keep their own.
    int ackFrequency = 1;
    (void)::WSAIoctl(s, SIO_TCP_SET_ACK_FREQUENCY, &ackFrequency, sizeof ackFrequency, nullptr, 0, &returned,
                     nullptr, nullptr);
}

int PendingError(SOCKET s) {
    int soError = 0;
    int size = sizeof soError;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &size) != 0)
        return ::WSAGetLastError();
    return soError;
}

// One address: a non-blocking connect that waits at most until the deadline. Returns the socket, or
// INVALID_SOCKET with *error set.
SOCKET ConnectOne(const addrinfo& ai, Clock::time_point deadline, int* error) {
    SOCKET s = ::socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol);
    if (s == INVALID_SOCKET) {
        *error = ::WSAGetLastError();
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    int err = 0;
    if (::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
        err = ::WSAGetLastError();
        if (err == WSAEWOULDBLOCK) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            const long left = MillisecondsLeft(deadline);
            timeval tv{left / 1000, (left % 1000) * 1000};
            const int rc = ::select(0, nullptr, &writable, &failed, &tv);
            err = rc == 0 ? WSAETIMEDOUT : rc < 0 ? ::WSAGetLastError() : PendingError(s);
        }
    }
    if (err != 0) {
        *error = err;
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// Every address of the host in turn until one answers; the error of the last one otherwise.
SOCKET ConnectAny(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout,
                  int* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        *error = rc == WSAHOST_NOT_FOUND || rc == WSANO_DATA ? kNetworkNameNotFound : rc;
        return INVALID_SOCKET;
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    SOCKET s = INVALID_SOCKET;
    *error = WSAETIMEDOUT;
    for (const addrinfo* ai = found; ai && s == INVALID_SOCKET; ai = ai->ai_next)
        s = ConnectOne(*ai, deadline, error);
    ::freeaddrinfo(found);
    return s;
}

} // namespace

std::unique_ptr<NetworkSocket> NetworkSocket::Connect(const std::string& host, std::uint16_t port,
                                                      std::chrono::milliseconds timeout, int* error) {
    auto handles = std::make_unique<Handles>();
    WSADATA data;
    const int started = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        *error = started;
        return nullptr;
    }
    handles->started = true;
    handles->socket = ConnectAny(host, port, timeout, error);
    if (handles->socket == INVALID_SOCKET)
        return nullptr;
    SetSocketOptions(handles->socket);
    handles->socketEvent = ::WSACreateEvent();
    handles->wakeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (handles->socketEvent == WSA_INVALID_EVENT || !handles->wakeEvent ||
        ::WSAEventSelect(handles->socket, handles->socketEvent, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        *error = static_cast<int>(::GetLastError());
        return nullptr;
    }
    return std::unique_ptr<NetworkSocket>(new NetworkSocket(std::move(handles)));
}

NetworkSocket::NetworkSocket(std::unique_ptr<Handles> handles) : m_handles(std::move(handles)) {}

NetworkSocket::~NetworkSocket() = default;

NetworkSocket::Transfer NetworkSocket::Send(const std::uint8_t* data, std::size_t len) {
    const int n = ::send(m_handles->socket, reinterpret_cast<const char*>(data),
                         static_cast<int>(len < INT_MAX ? len : INT_MAX), 0);
    if (n >= 0)
        return {Transfer::Done, static_cast<std::size_t>(n), 0};
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK)
        return {Transfer::WouldBlock, 0, 0};
    return {Transfer::Failed, 0, err};
}

NetworkSocket::Transfer NetworkSocket::Receive(std::uint8_t* data, std::size_t len) {
    const int n = ::recv(m_handles->socket, reinterpret_cast<char*>(data),
                         static_cast<int>(len < INT_MAX ? len : INT_MAX), 0);
    if (n > 0)
        return {Transfer::Done, static_cast<std::size_t>(n), 0};
    if (n == 0)
        return {Transfer::Closed, 0, 0};
    const int err = ::WSAGetLastError();
    if (err == WSAEWOULDBLOCK)
        return {Transfer::WouldBlock, 0, 0};
    return {Transfer::Failed, 0, err};
}

// The socket's event says something happened (readable, writable or closed); the caller's send or
// receive finds out what, and Winsock signals the event again for whatever is still to be taken.
NetworkSocket::WaitResult NetworkSocket::Wait(bool /*writable*/, int timeoutMs, int* error) {
    const HANDLE events[2] = {m_handles->wakeEvent, m_handles->socketEvent};
    const DWORD rc =
        ::WaitForMultipleObjects(2, events, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (rc == WAIT_OBJECT_0)
        return WaitResult::Woken;
    if (rc == WAIT_TIMEOUT)
        return WaitResult::TimedOut;
    if (rc != WAIT_OBJECT_0 + 1) {
        *error = static_cast<int>(::GetLastError());
        return WaitResult::Failed;
    }
    WSANETWORKEVENTS happened;
    if (::WSAEnumNetworkEvents(m_handles->socket, m_handles->socketEvent, &happened) != 0) {
        *error = ::WSAGetLastError();
        return WaitResult::Failed;
    }
    return WaitResult::Ready;
}

bool IsConnectionResetError(int err) {
    return err == WSAECONNRESET || err == WSAECONNABORTED || err == WSAESHUTDOWN;
}

void NetworkSocket::Wake() {
    ::SetEvent(m_handles->wakeEvent);
}

} // namespace tessor
