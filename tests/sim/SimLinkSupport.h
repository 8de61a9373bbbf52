#pragma once

#include "link/ConsolePort.h"
#include "link/Hooks.h"
#include "link/RegisterAccess.h"
#include "ops/ProcessAccess.h"
#include "support/FakePrompt.h"
#include "support/RegResultCheck.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessor::sim::test {

using tessor::test::FakePrompt;

// Records the pauses a restart asks for instead of sleeping.
struct SleepRecorder {
    static std::atomic<int>& Count() {
        static std::atomic<int> count{0};
        return count;
    }
    static std::atomic<int>& LastMs() {
        static std::atomic<int> last{0};
        return last;
    }
    static void Sleep(int ms) {
        ++Count();
        LastMs() = ms;
    }
    static void Reset() {
        Count() = 0;
        LastMs() = 0;
    }
};

// Splits the bytes sent to the board into command lines (without their line feeds).
inline std::vector<std::string> CommandLines(const std::string& sent) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = sent.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(sent.substr(start, end - start));
    }
    return lines;
}

} // namespace tessor::sim::test
