#pragma once

#include "link/ConsolePort.h"
#include "link/Hooks.h"
#include "link/RegisterAccess.h"
#include "ops/ProcessAccess.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessor::sim::test {

// Answers the board link's boxes for a test: records problems, counts "Hardware does not respond" and
// answers it with whatever the test installed (Cancel by default).
class CFakePrompt : public IUserPrompt {
public:
    void ShowProblem(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_problems.push_back(text);
    }
    Answer AskHardwareNotResponding(const std::string&) override {
        ++m_asked;
        std::function<Answer()> handler;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            handler = m_onAsk;
        }
        return handler ? handler() : Answer::Cancel;
    }
    void OnAsk(std::function<Answer()> handler) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_onAsk = std::move(handler);
    }
    std::vector<std::string> Problems() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_problems;
    }
    // The worker may show a read error after the caller's wait has already ended: waits for the first
    // problem, with a generous guard for a loaded machine.
    std::vector<std::string> WaitForProblems() const {
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::vector<std::string> problems = Problems();
        while (problems.empty() && std::chrono::steady_clock::now() < guard) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            problems = Problems();
        }
        return problems;
    }
    int Asked() const { return m_asked.load(); }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_problems;
    std::function<Answer()> m_onAsk;
    std::atomic<int> m_asked{0};
};

// Records the pauses RestartModem asks for instead of sleeping.
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
