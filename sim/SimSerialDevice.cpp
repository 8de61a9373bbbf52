#include "sim/SimSerialDevice.h"

#include "sim/SimFaultCommands.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tessor::sim {

namespace {

IoResult Result(IoResult::Status status, int errorCode = 0, std::size_t count = 0) {
    IoResult result;
    result.status = status;
    result.errorCode = errorCode;
    result.count = count;
    return result;
}

} // namespace

CSimulator::CSimulator(const SimConfig& config) : m_pair(config), m_console(m_pair) {}

std::unique_ptr<SerialDevice> CSimulator::CreateDevice(const std::shared_ptr<CSimulator>& simulator) {
    return std::make_unique<CSimSerialDevice>(simulator);
}

IoResult CSimulator::ClientWrite(const std::uint8_t* data, std::size_t len) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_hungUp) {
        return Result(IoResult::HungUp, EIO);
    }
    m_log.push_back(WireEvent{WireEvent::ToBoard, std::string(reinterpret_cast<const char*>(data), len)});
    m_console.Receive(data, len);
    CollectOutput();
    return Result(IoResult::Ok, 0, len);
}

void CSimulator::CollectOutput() {
    // Called with the lock held.
    const Clock::time_point now = Clock::now();
    bool any = false;
    for (OutputChunk& chunk : m_console.TakeOutput()) {
        if (chunk.bytes.empty()) {
            continue;
        }
        m_log.push_back(WireEvent{WireEvent::FromBoard, chunk.bytes});
        Clock::time_point due = now + std::chrono::milliseconds(chunk.delayMs);
        if (!m_toClient.empty()) {
            due = std::max(due, m_toClient.back().due); // the line keeps its order
        }
        m_toClient.push_back(Pending{due, std::move(chunk.bytes), 0});
        any = true;
    }
    if (any) {
        m_cv.notify_all();
    }
}

IoResult CSimulator::ClientRead(std::uint8_t* data, std::size_t len, const std::atomic<bool>& interrupted) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (interrupted.load()) {
            return Result(IoResult::Interrupted);
        }
        if (m_hungUp) {
            return Result(IoResult::HungUp, EIO);
        }
        if (len == 0) {
            return Result(IoResult::Ok);
        }
        if (m_toClient.empty()) {
            m_cv.wait(lock);
            continue;
        }
        Pending& front = m_toClient.front();
        if (Clock::now() < front.due) {
            m_cv.wait_until(lock, front.due);
            continue;
        }
        const std::size_t n = std::min(len, front.bytes.size() - front.offset);
        std::memcpy(data, front.bytes.data() + front.offset, n);
        front.offset += n;
        if (front.offset == front.bytes.size()) {
            m_toClient.pop_front();
        }
        return Result(IoResult::Ok, 0, n);
    }
}

void CSimulator::ClientPurge() {
    std::lock_guard<std::mutex> lock(m_mutex);
    // Only what has arrived is discarded; output still on its way (a delayed reply) arrives later.
    const Clock::time_point now = Clock::now();
    while (!m_toClient.empty() && m_toClient.front().due <= now)
        m_toClient.pop_front();
    if (m_toClient.empty())
        m_console.NoteOutputDiscarded();
}

void CSimulator::WakeReaders() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cv.notify_all();
}

void CSimulator::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_console.SetSilent(silent);
    CollectOutput();
}

bool CSimulator::Control(const std::string& command) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string reply;
    return RunFaultCommand(m_console, m_pair, command, &reply) == FaultCommand::Done;
}

void CSimulator::CorruptNextEcho() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_console.CorruptNextEcho();
}

void CSimulator::InjectNoiseBeforeNextEcho(std::size_t count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_console.InjectNoiseBeforeNextEcho(count);
}

void CSimulator::InjectNoise(std::size_t count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_console.InjectNoise(count);
    CollectOutput();
}

void CSimulator::SetReplyDelayMs(int ms) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_console.SetReplyDelayMs(ms);
}

void CSimulator::HangUp() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hungUp = true;
    m_toClient.clear();
    m_cv.notify_all();
}

bool CSimulator::IsHungUp() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hungUp;
}

std::vector<WireEvent> CSimulator::WireLog() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

std::string CSimulator::BytesToBoard() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string all;
    for (const WireEvent& event : m_log) {
        if (event.direction == WireEvent::ToBoard) {
            all += event.bytes;
        }
    }
    return all;
}

std::string CSimulator::BytesFromBoard() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string all;
    for (const WireEvent& event : m_log) {
        if (event.direction == WireEvent::FromBoard) {
            all += event.bytes;
        }
    }
    return all;
}

void CSimulator::ClearWireLog() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.clear();
}

std::size_t CSimulator::PendingBytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t n = 0;
    for (const Pending& p : m_toClient) {
        n += p.bytes.size() - p.offset;
    }
    return n;
}

std::vector<CounterDelivery> CSimulator::TakeCounterDeliveries() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_console.TakeCounterDeliveries();
}

std::uint8_t CSimulator::PeekLocal(std::uint16_t address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pair.Sync();
    return m_pair.PeekRegister(CSimModemPair::kLocal, address);
}

std::uint8_t CSimulator::PeekRemote(std::uint16_t address) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pair.Sync();
    return m_pair.PeekRegister(CSimModemPair::kRemote, address);
}

bool CSimulator::IsLineUp() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pair.Sync();
    return m_pair.IsLineUp();
}

void CSimulator::AdvanceTime(std::uint64_t ms) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pair.AdvanceTime(ms);
}

CSimSerialDevice::CSimSerialDevice(std::shared_ptr<CSimulator> simulator)
    : m_simulator(std::move(simulator)) {}

IoResult CSimSerialDevice::Write(const std::uint8_t* data, std::size_t len) {
    return m_simulator->ClientWrite(data, len);
}

IoResult CSimSerialDevice::Read(std::uint8_t* data, std::size_t len) {
    return m_simulator->ClientRead(data, len, m_interrupted);
}

bool CSimSerialDevice::Purge() {
    if (m_simulator->IsHungUp()) {
        return false;
    }
    m_simulator->ClientPurge();
    return true;
}

void CSimSerialDevice::Interrupt() {
    m_interrupted.store(true);
    m_simulator->WakeReaders();
}

} // namespace tessor::sim
