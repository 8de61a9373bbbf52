// Feeds arbitrary bytes to the transport as the board's answer to a command: the reply reader, the echo
// check, the stripping, the form check and ParseReplyValue must cope with anything, and the exchange must
// end. Only a well-formed reply is an answer, so an answered read of n registers carries n bytes at most.
#include "link/ConsolePort.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {

// A board whose answer to every command is the fuzz input; once it is used up, the line hangs up.
class ScriptedDevice : public tessor::SerialDevice {
public:
    explicit ScriptedDevice(std::string reply) : m_reply(std::move(reply)) {}
    tessor::IoResult Write(const std::uint8_t*, std::size_t len) override {
        return {tessor::IoResult::Ok, 0, len};
    }
    tessor::IoResult Read(std::uint8_t* data, std::size_t len) override {
        if (m_interrupted)
            return {tessor::IoResult::Interrupted, 0, 0};
        if (m_pos >= m_reply.size())
            return {tessor::IoResult::HungUp, EIO, 0};
        std::size_t n = 0;
        while (n < len && m_pos < m_reply.size())
            data[n++] = static_cast<std::uint8_t>(m_reply[m_pos++]);
        return {tessor::IoResult::Ok, 0, n};
    }
    bool Purge() override { return true; }
    void Interrupt() override { m_interrupted = true; }

private:
    std::string m_reply;
    std::size_t m_pos = 0;
    std::atomic<bool> m_interrupted{false};
};

class QuietPrompt : public tessor::IUserPrompt {
public:
    void ShowProblem(const std::string&) override {}
    Answer AskHardwareNotResponding(const std::string&) override { return Answer::Cancel; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // The value parser and the form check on their own, with every length the transport can hand them.
    const int length = static_cast<int>(size > 255 ? 255 : size);
    tessor::CConsolePort::ParseReplyValue(bytes.c_str(), static_cast<std::uint8_t>(length));
    tessor::CConsolePort::IsWellFormedData("RD 8C10,3", bytes.c_str(), length);
    tessor::CConsolePort::IsWellFormedData("WR 8C10 32", bytes.c_str(), length);

    QuietPrompt prompt;
    tessor::CConsolePort port(&prompt);
    port.SetPollTiming(1000000, std::chrono::microseconds(10));
    port.SetDeviceOpener([&bytes](const std::string&, const tessor::LineSettings&, int*) {
        return std::unique_ptr<tessor::SerialDevice>(new ScriptedDevice(bytes));
    });
    if (!port.Open(9600, 8, 0, 0, "COM1:"))
        std::abort();
    std::thread worker([&port] { port.ConsoleWorkerThread(); });
    const bool three = size % 2 != 0;
    const tessor::RegResult result = port.Exchange(tessor::kRead, "8C10", three ? " 3" : " 1");
    port.RequestStop();
    worker.join();
    // An answer holds one byte per register asked for; anything else carries no value.
    const std::int64_t largest = three ? 0xFFFFFF : 0xFF;
    if (result.ok() ? result.value < 0 || result.value > largest : result.value != 0)
        std::abort();
    return 0;
}
