#pragma once

#include "link/SerialDevice.h"
#include "sim/SimConsole.h"
#include "sim/SimModemPair.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tessor::sim {

// One direction of traffic on the simulated serial line.
struct WireEvent {
    enum Direction { ToBoard, FromBoard };
    Direction direction;
    std::string bytes;
};

// The simulated modem pair behind an in-memory serial line, shared by the device the transport owns and
// the test that drives faults and inspects registers. Thread-safe: every call takes one lock.
// A complete command line written by the client is answered at once, within Write; nothing runs on a
// thread of its own and nothing sleeps (a reply delay only makes the answer due later).
class CSimulator {
public:
    explicit CSimulator(const SimConfig& config = SimConfig());
    CSimulator(const CSimulator&) = delete;
    CSimulator& operator=(const CSimulator&) = delete;

    // A new client end of the line (a SerialDevice) for this simulator.
    static std::unique_ptr<SerialDevice> CreateDevice(const std::shared_ptr<CSimulator>& simulator);

    // Client side, used by the device.
    IoResult ClientWrite(const std::uint8_t* data, std::size_t len);
    IoResult ClientRead(std::uint8_t* data, std::size_t len, const std::atomic<bool>& interrupted);
    void ClientPurge();
    void WakeReaders();

    // Faults, switchable at any time from any thread.
    void SetSilent(bool silent);
    void CorruptNextEcho();
    void InjectNoise(std::size_t count);
    void InjectNoiseBeforeNextEcho(std::size_t count);
    void SetReplyDelayMs(int ms);
    // A fault command of the program's console ("reply 8C99 error", "count 8D04 1", "drop 3"; see
    // RunFaultCommand); false when it is refused or unknown.
    bool Control(const std::string& command);
    // The line is gone for good: blocked and later reads and writes fail with HungUp (EIO).
    void HangUp();
    bool IsHungUp() const;

    // Traffic recorder.
    std::vector<WireEvent> WireLog() const;
    std::string BytesToBoard() const;
    std::string BytesFromBoard() const;
    void ClearWireLog();
    // Bytes the board has sent that the client has not read yet.
    std::size_t PendingBytes() const;
    // The Ethernet counter values handed out since the last call (see CounterDelivery).
    std::vector<CounterDelivery> TakeCounterDeliveries();

    // The model, under the lock.
    template <typename F> auto WithPair(F&& function) {
        std::lock_guard<std::mutex> lock(m_mutex);
        return function(m_pair);
    }
    std::uint8_t PeekLocal(std::uint16_t address);
    std::uint8_t PeekRemote(std::uint16_t address);
    bool IsLineUp();
    // Manual clock only.
    void AdvanceTime(std::uint64_t ms);

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point due;
        std::string bytes;
        std::size_t offset = 0;
    };

    void CollectOutput();

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    CSimModemPair m_pair;
    CSimConsole m_console;
    std::deque<Pending> m_toClient;
    std::vector<WireEvent> m_log;
    bool m_hungUp = false;
};

// The client end of a CSimulator's line, as the console transport opens it.
class CSimSerialDevice : public SerialDevice {
public:
    explicit CSimSerialDevice(std::shared_ptr<CSimulator> simulator);

    IoResult Write(const std::uint8_t* data, std::size_t len) override;
    IoResult Read(std::uint8_t* data, std::size_t len) override;
    bool Purge() override;
    void Interrupt() override;

private:
    std::shared_ptr<CSimulator> m_simulator;
    std::atomic<bool> m_interrupted{false};
};

} // namespace tessor::sim
