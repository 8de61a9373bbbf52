#pragma once

#include "FakeBoard.h"
#include "link/ConsolePort.h"
#include "link/RegisterAccess.h"
#include "ops/ProcessAccess.h"
#include "support/FakePrompt.h"
#include "support/RegResultCheck.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tessor::test {

// Collects queued lines as the terminal would and counts the flushes.
class FakeSink : public ITerminalSink {
public:
    void QueueLine(const std::string& line, std::uint8_t op) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        lines.emplace_back(line, op);
    }
    void FlushLines() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++flushes;
    }
    std::vector<std::pair<std::string, int>> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return lines;
    }
    // The lines a terminal would show: silent reads dropped.
    std::vector<std::string> Shown() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> shown;
        for (const auto& l : lines)
            if (l.second != kSilentRead)
                shown.push_back(l.first);
        return shown;
    }

    std::vector<std::pair<std::string, int>> lines;
    int flushes = 0;

private:
    std::mutex m_mutex;
};

inline std::vector<int> g_recordedSleeps;
inline void RecordSleep(int ms) {
    g_recordedSleeps.push_back(ms);
}

// A running transport on a FakeBoard, installed as the process-wide port.
class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_promptLetter.store(0);
        g_bStopThreads.store(0);
        g_recordedSleeps.clear();
        SetRestartSleepForTesting(RecordSleep);
        port = std::make_unique<CConsolePort>(&prompt);
        pending = std::make_unique<FakeBoard>();
        board = pending.get();
        // The board can be opened once; a reopen after a hang-up finds no device.
        port->SetDeviceOpener([this](const std::string&, const LineSettings&, int* err) {
            if (!pending)
                *err = ENOENT;
            return std::unique_ptr<SerialDevice>(std::move(pending));
        });
        // A generous wait for answered exchanges, which a loaded machine may hold up for seconds; a test
        // that expects the time-out box asks for ShortWaits().
        GenerousWaits();
        ASSERT_EQ(port->Open(9600, 8, 0, 0, "COM1:"), 1);
        g_pConsolePort.store(port.get());
        g_pTerminalSink.store(&sink);
        worker = std::thread([this] { port->ConsoleWorkerThread(); });
    }

    void TearDown() override {
        StopWorker();
        g_pConsolePort.store(nullptr);
        g_pTerminalSink.store(nullptr);
        SetRestartSleepForTesting(nullptr);
        port.reset();
    }

    // Short time-outs keep the silent-board tests quick; the product keeps 3500 x 5 ms.
    void ShortWaits() { port->SetPollTiming(40, std::chrono::microseconds(1000)); }

    void GenerousWaits() { port->SetPollTiming(kGenerousPolls, std::chrono::microseconds(1000)); }

    static constexpr int kGenerousPolls = 60000;

    void StopWorker() {
        if (!worker.joinable())
            return;
        port->RequestStop();
        worker.join();
    }

    FakePrompt prompt;
    FakeSink sink;
    std::unique_ptr<CConsolePort> port;
    FakeBoard* board = nullptr;
    std::unique_ptr<FakeBoard> pending;
    std::thread worker;
};

} // namespace tessor::test
