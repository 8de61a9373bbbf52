#include "link/NetworkSerialDevice.h"

#include <vector>

namespace tessor {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReceiveChunk = 4096;

// Rounded up: a wait of the whole bound, never a little less.
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>((left + 999) / 1000) : 0;
}

IoResult Lost(int err) {
    return {IoResult::HungUp, err, 0};
}

} // namespace

bool IsNetworkErrorCode(int err) {
    return err <= kNetworkBadName && err >= kNetworkPortBusy;
}

bool IsEndedByServer(int err) {
    return err == kNetworkClosedByServer || IsConnectionResetError(err);
}

std::string NetworkErrorMessage(int err) {
    switch (err) {
    case kNetworkBadName:
        return "Not a network port name (write rfc2217://host:port or socket://host:port)";
    case kNetworkNameNotFound:
        return "Host name not found";
    case kNetworkClosedByServer:
        return "Connection closed by the console server";
    case kNetworkPortBusy:
        return "the console server's port is busy or refused the connection";
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
    std::unique_ptr<NetworkSocket> socket =
        NetworkSocket::Connect(parse.name.host, parse.name.port, timeouts.connect, &error);
    if (!socket)
        return fail(error);
    std::unique_ptr<Rfc2217Codec> codec;
    if (parse.name.protocol == NetworkProtocol::Rfc2217)
        codec = std::make_unique<Rfc2217Codec>(settings);
    std::unique_ptr<NetworkSerialDevice> device(new NetworkSerialDevice(std::move(socket), std::move(codec)));
    if (device->m_codec) {
        error = device->Negotiate(timeouts.negotiation);
        if (error != 0)
            return fail(IsEndedByServer(error) ? kNetworkPortBusy : error);
    }
    if (errorCode)
        *errorCode = 0;
    return device;
}

NetworkSerialDevice::NetworkSerialDevice(std::unique_ptr<NetworkSocket> socket,
                                         std::unique_ptr<Rfc2217Codec> codec)
    : m_socket(std::move(socket)), m_codec(std::move(codec)) {}

NetworkSerialDevice::~NetworkSerialDevice() = default;

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
    std::size_t done = 0;
    while (done < len) {
        if (m_interrupted.load())
            return {IoResult::Interrupted, 0, done};
        const NetworkSocket::Transfer t = m_socket->Send(data + done, len - done);
        if (t.status == NetworkSocket::Transfer::Done && t.count > 0) {
            done += t.count;
            continue;
        }
        if (t.status == NetworkSocket::Transfer::WouldBlock) {
            int error = 0;
            if (m_socket->Wait(true, -1, &error) == NetworkSocket::WaitResult::Failed)
                return {IoResult::Error, error, done};
            continue;
        }
        return {IoResult::HungUp,
                t.status == NetworkSocket::Transfer::Failed ? t.error : kNetworkClosedByServer, done};
    }
    return {IoResult::Ok, 0, done};
}

IoResult NetworkSerialDevice::ReceiveOnce(std::uint8_t* data, std::size_t len, bool wait, int timeoutMs,
                                          std::size_t* received) {
    if (m_interrupted.load())
        return {IoResult::Interrupted, 0, 0};
    if (wait) {
        int error = 0;
        const NetworkSocket::WaitResult w = m_socket->Wait(false, timeoutMs, &error);
        if (w == NetworkSocket::WaitResult::Failed)
            return {IoResult::Error, error, 0};
        if (w == NetworkSocket::WaitResult::Woken)
            return {IoResult::Interrupted, 0, 0};
        if (w == NetworkSocket::WaitResult::TimedOut)
            return {IoResult::Ok, 0, 0};
    }
    std::uint8_t chunk[kReceiveChunk];
    std::uint8_t* into = m_codec ? chunk : data;
    const std::size_t room = m_codec ? sizeof chunk : len;
    const NetworkSocket::Transfer t = m_socket->Receive(into, room);
    if (t.status == NetworkSocket::Transfer::Closed)
        return Lost(kNetworkClosedByServer);
    if (t.status == NetworkSocket::Transfer::WouldBlock)
        return {IoResult::Ok, 0, 0};
    if (t.status == NetworkSocket::Transfer::Failed)
        return Lost(t.error);
    const std::size_t n = t.count;
    if (received)
        *received = n;
    if (!m_codec)
        return {IoResult::Ok, 0, n};
    std::size_t taken = 0;
    {
        std::lock_guard<std::mutex> lock(m_codecMutex);
        m_codec->Receive(chunk, n);
        if (data)
            taken = m_codec->TakeData(data, len);
    }
    const IoResult sent = FlushCodec();
    if (!sent.ok())
        return sent;
    return {IoResult::Ok, 0, taken};
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
    m_socket->Wake();
}

} // namespace tessor
