#include "link/NetworkSerialDevice.h"
#include "link/SerialPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tessor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// The test servers' side of the sockets, on either system.
#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
constexpr int kRefused = WSAECONNREFUSED;
struct SocketsStarted {
    SocketsStarted() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~SocketsStarted() { ::WSACleanup(); }
};
void CloseSocket(Socket s) {
    ::closesocket(s);
}
bool Readable(Socket s, int ms) {
    WSAPOLLFD p{s, POLLRDNORM, 0};
    return ::WSAPoll(&p, 1, ms) > 0;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
constexpr int kRefused = ECONNREFUSED;
struct SocketsStarted {};
void CloseSocket(Socket s) {
    ::close(s);
}
bool Readable(Socket s, int ms) {
    pollfd p{s, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}
#endif

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}

// A server on 127.0.0.1 that accepts one connection and runs a script on it.
class OneShotServer {
public:
    explicit OneShotServer(std::function<void(Socket)> script) {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Loopback(0);
        socklen_t size = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 1) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this, script] {
            if (!Readable(m_listen, 5000))
                return;
            const Socket s = ::accept(m_listen, nullptr, nullptr);
            if (s == kNoSocket)
                return;
            script(s);
            CloseSocket(s);
        });
    }
    ~OneShotServer() {
        Join();
        CloseSocket(m_listen);
    }
    // Waits for the script to end (its results are then there to look at).
    void Join() {
        if (m_thread.joinable())
            m_thread.join();
    }
    int Port() const { return m_port; }
    std::string Url(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_port);
    }

private:
    SocketsStarted m_started; // first: the sockets below need it
    Socket m_listen = kNoSocket;
    int m_port = 0;
    std::thread m_thread;
};

// Reads what arrives within ms milliseconds, or until the byte last has come.
Bytes Collect(Socket s, int ms, int last = -1) {
    Bytes all;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (!Readable(s, 20))
            continue;
        char buf[256];
        const int n = static_cast<int>(::recv(s, buf, sizeof buf, 0));
        if (n <= 0)
            break;
        all.insert(all.end(), buf, buf + n);
        if (last >= 0 && static_cast<std::uint8_t>(buf[n - 1]) == last)
            break;
    }
    return all;
}

void Send(Socket s, const Bytes& bytes) {
    const int n = static_cast<int>(
        ::send(s, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0));
    ASSERT_EQ(n, static_cast<int>(bytes.size()));
}

Bytes ReadSome(SerialDevice& device, IoResult* result) {
    Bytes buf(64);
    *result = device.Read(buf.data(), buf.size());
    buf.resize(result->count);
    return buf;
}

const NetworkTimeouts kShort{std::chrono::milliseconds(1000), std::chrono::milliseconds(200)};

TEST(NetworkDevice, OpenFailuresNameWhatWentWrong) {
    int unusedPort = 0;
    {
        OneShotServer closed([](Socket) {});
        unusedPort = closed.Port();
        const Socket s = ::socket(AF_INET, SOCK_STREAM, 0); // take the one connection it waits for
        const sockaddr_in a = Loopback(unusedPort);
        (void)::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
        CloseSocket(s);
    }
    const struct {
        std::string name;
        int error;
        const char* words;
    } cases[] = {
        {"socket://127.0.0.1:" + std::to_string(unusedPort), kRefused, "refused"},
        {"rfc2217://127.0.0.1:" + std::to_string(unusedPort), kRefused, "refused"},
        {"socket://no-such-host.invalid:7001", kNetworkNameNotFound, "Host name not found"},
        {"socket://127.0.0.1", kNetworkBadName, "rfc2217://host:port"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int err = 0;
        EXPECT_EQ(OpenSerialDevice(c.name, LineSettings{}, &err), nullptr);
        EXPECT_EQ(err, c.error);
        EXPECT_NE(SystemErrorMessage(err).find(c.words), std::string::npos) << SystemErrorMessage(err);
    }
}

TEST(NetworkDevice, RawSocketCarriesTheBytesAsTheyAre) {
    Bytes received;
    OneShotServer server([&received](Socket fd) {
        received = Collect(fd, 300);
        Send(fd, {'\r', 0xFF, 'L', '>'});
        Collect(fd, 300);
    });
    int err = 0;
    auto device = OpenSerialDevice(server.Url("socket"), LineSettings{}, &err);
    ASSERT_NE(device, nullptr) << err;
    const Bytes command = {'R', 'D', ' ', 0xFF, '\n'};
    ASSERT_TRUE(device->Write(command.data(), command.size()).ok());
    IoResult r;
    Bytes got;
    while (got.size() < 4) {
        const Bytes part = ReadSome(*device, &r);
        ASSERT_TRUE(r.ok());
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, (Bytes{'\r', 0xFF, 'L', '>'}));
    EXPECT_EQ(received, command);
}

TEST(NetworkDevice, AConnectionClosedInTheMiddleOfAReplyIsTheDeviceLost) {
    OneShotServer server([](Socket fd) {
        Collect(fd, 100);
        Send(fd, {'R', 'D', ' ', '8', 'C'});
    });
    int err = 0;
    auto device = NetworkSerialDevice::Open(server.Url("socket"), LineSettings{}, &err, kShort);
    ASSERT_NE(device, nullptr) << err;
    Bytes got;
    IoResult r;
    for (int i = 0; i < 10; ++i) {
        const Bytes part = ReadSome(*device, &r);
        if (!r.ok())
            break;
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, (Bytes{'R', 'D', ' ', '8', 'C'}));
    EXPECT_EQ(r.status, IoResult::HungUp);
    EXPECT_EQ(r.errorCode, kNetworkClosedByServer);
    EXPECT_EQ(SystemErrorMessage(r.errorCode), "Connection closed by the console server");
}

TEST(NetworkDevice, InterruptEndsAReadThatWaitsForever) {
    OneShotServer server([](Socket fd) { Collect(fd, 1000); });
    int err = 0;
    auto device = NetworkSerialDevice::Open(server.Url("socket"), LineSettings{}, &err, kShort);
    ASSERT_NE(device, nullptr) << err;
    std::thread waker([&device] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        device->Interrupt();
    });
    IoResult r;
    (void)ReadSome(*device, &r);
    waker.join();
    EXPECT_EQ(r.status, IoResult::Interrupted);
}

#ifdef __linux__
// Whether the server's last segment has been acknowledged by the client, asked again until the bound
// passes.
bool AcknowledgedWithin(Socket s, std::chrono::milliseconds bound) {
    const auto end = Clock::now() + bound;
    for (;;) {
        tcp_info info{};
        socklen_t size = sizeof info;
        if (::getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 && info.tcpi_unacked == 0)
            return true;
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

#endif

TEST(NetworkDevice, PurgeDiscardsWhatHasArrived) {
    std::atomic<bool> arrived{false};
    OneShotServer server([&arrived](Socket fd) {
        Send(fd, {'o', 'l', 'd'});
#ifdef __linux__
        // Acknowledged: the bytes are in the client's receive queue.
        arrived = AcknowledgedWithin(fd, std::chrono::seconds(5));
#else
        arrived = true;
#endif
        Collect(fd, 2000, '\n');
        Send(fd, {'n', 'e', 'w'});
        Collect(fd, 300);
    });
    int err = 0;
    auto device = NetworkSerialDevice::Open(server.Url("socket"), LineSettings{}, &err, kShort);
    ASSERT_NE(device, nullptr) << err;
    const auto limit = Clock::now() + std::chrono::seconds(5);
    while (!arrived.load() && Clock::now() < limit)
        std::this_thread::yield();
    ASSERT_TRUE(arrived.load());
#ifndef __linux__
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // no acknowledgement count to ask here
#endif
    EXPECT_TRUE(device->Purge());
    const Bytes go = {'\n'};
    ASSERT_TRUE(device->Write(go.data(), go.size()).ok());
    IoResult r;
    EXPECT_EQ(ReadSome(*device, &r), (Bytes{'n', 'e', 'w'}));
}

// A server that says nothing to the options is let be once the bound has passed; what is then sent is
// escaped all the same.
TEST(NetworkDevice, ASilentTelnetServerDoesNotStopTheOpening) {
    Bytes received;
    OneShotServer server([&received](Socket fd) { received = Collect(fd, 600); });
    const auto start = Clock::now();
    int err = 0;
    auto device = NetworkSerialDevice::Open(server.Url("rfc2217"), LineSettings{}, &err, kShort);
    ASSERT_NE(device, nullptr) << err;
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
    const Bytes command = {'W', 'R', 0xFF, '\n'};
    ASSERT_TRUE(device->Write(command.data(), command.size()).ok());
    device.reset();
    server.Join();
    const Bytes offers = {0xFF, 0xFB, 0, 0xFF, 0xFD, 0, 0xFF, 0xFB, 3, 0xFF, 0xFD, 3, 0xFF, 0xFB, 44};
    const Bytes escaped = {'W', 'R', 0xFF, 0xFF, '\n'};
    Bytes expected = offers;
    expected.insert(expected.end(), escaped.begin(), escaped.end());
    EXPECT_EQ(received, expected);
}

// A telnet server without binary mode and the COM-PORT-OPTION (ser2net's plain telnet accepter, say)
// is given the negotiation bound; then the port opens and the console bytes go through escaped.
TEST(NetworkDevice, ATelnetServerThatRefusesTheOptionsOpensOnceTheBoundHasPassed) {
    OneShotServer server([](Socket fd) {
        Collect(fd, 50);
        Send(fd, {0xFF, 0xFC, 0, 0xFF, 0xFE, 0, 0xFF, 0xFE, 44}); // WONT BINARY, DONT BINARY, DONT COM-PORT
        Collect(fd, 2000, '\n');
        Send(fd, {'L', 0xFF, 0xFF, '>'});
        Collect(fd, 500);
    });
    const auto start = Clock::now();
    int err = 0;
    auto device = NetworkSerialDevice::Open(server.Url("rfc2217"), LineSettings{}, &err, kShort);
    ASSERT_NE(device, nullptr) << err;
    const auto took = Clock::now() - start;
    EXPECT_GE(took, kShort.negotiation);
    EXPECT_LT(took, kShort.negotiation + std::chrono::milliseconds(500));
    const Bytes go = {'\n'};
    ASSERT_TRUE(device->Write(go.data(), go.size()).ok());
    Bytes got;
    IoResult r;
    while (got.size() < 3) {
        const Bytes part = ReadSome(*device, &r);
        ASSERT_TRUE(r.ok());
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, (Bytes{'L', 0xFF, '>'}));
}

// A write far larger than the socket can take at once goes out in many partial sends, the rest of each
// after the socket has room again; all of it arrives, in order.
TEST(NetworkDevice, ALongWriteIsDeliveredWholeThoughEachSendTakesPartOfIt) {
    Bytes data(16u << 20);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));
    std::size_t received = 0;
    bool same = true;
    OneShotServer server([&](Socket fd) {
        std::uint8_t buf[4096];
        while (received < data.size() && Readable(fd, 5000)) {
            const int n = static_cast<int>(::recv(fd, reinterpret_cast<char*>(buf), sizeof buf, 0));
            if (n <= 0)
                break;
            same = same && std::equal(buf, buf + n, data.begin() + static_cast<long>(received));
            received += static_cast<std::size_t>(n);
        }
    });
    int err = 0;
    auto device = NetworkSerialDevice::Open(server.Url("socket"), LineSettings{}, &err, kShort);
    ASSERT_NE(device, nullptr) << err;
    const IoResult r = device->Write(data.data(), data.size());
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.count, data.size());
    server.Join();
    EXPECT_EQ(received, data.size());
    EXPECT_TRUE(same);
}

// A telnet connection that the server ends before the opening is through (ser2net turning a client away
// while another has the device: its own text, then the end) is the port busy, not a lost device.
TEST(NetworkDevice, AConnectionEndedDuringTheTelnetOpeningIsThePortBusy) {
    OneShotServer server([](Socket fd) {
        Collect(fd, 50);
        Send(fd, {'P', 'o', 'r', 't', '\'', 's', ' ', 'd', 'e', 'v', 'i', 'c', 'e', '\r', '\n'});
    });
    int err = 0;
    EXPECT_EQ(NetworkSerialDevice::Open(server.Url("rfc2217"), LineSettings{}, &err, kShort), nullptr);
    EXPECT_EQ(err, kNetworkPortBusy);
    EXPECT_EQ(SystemErrorText(err), "the console server's port is busy or refused the connection");
}

#ifdef __linux__
// Waits, within a bound, until the other side has reached the round.
bool ReachedWithin(const std::atomic<int>& counter, int round) {
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (counter.load() < round) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::yield();
    }
    return true;
}

// A console server with Nagle's algorithm on sends a reply's next character only once the last one is
// acknowledged. Once the connection is in its interactive rhythm (command, reply, command...), the client
// must acknowledge each received segment at once rather than after the delayed-ACK timer (40 ms or more),
// or every reply stalls. The bound of 20 ms lies well below that timer.
TEST(NetworkDevice, EveryReceivedSegmentIsAcknowledgedAtOnce) {
    constexpr int kRounds = 12;
    std::atomic<int> readRound{0};
    std::atomic<int> checkedRound{0};
    std::atomic<int> late{0};
    OneShotServer server([&](Socket fd) {
        for (int round = 1; round <= kRounds; ++round) {
            if (Collect(fd, 2000, 'x') != Bytes{'x'})
                return;
            Send(fd, {'a'});
            if (!ReachedWithin(readRound, round))
                return;
            if (!AcknowledgedWithin(fd, std::chrono::milliseconds(20)))
                ++late;
            checkedRound.store(round);
        }
    });
    int err = 0;
    auto device = NetworkSerialDevice::Open(server.Url("socket"), LineSettings{}, &err, kShort);
    ASSERT_NE(device, nullptr) << err;
    for (int round = 1; round <= kRounds; ++round) {
        const std::uint8_t command = 'x';
        ASSERT_TRUE(device->Write(&command, 1).ok());
        IoResult r;
        ASSERT_EQ(ReadSome(*device, &r), Bytes{'a'});
        readRound.store(round);
        // The next command waits, or it would carry the acknowledgement itself.
        ASSERT_TRUE(ReachedWithin(checkedRound, round)) << "round " << round;
    }
    server.Join();
    EXPECT_EQ(late.load(), 0) << "of " << kRounds << " replies";
}
#endif

} // namespace
} // namespace tessor
