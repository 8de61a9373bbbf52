#pragma once

// The board link's boxes answered for a test: every problem and question recorded, the questions answered
// from a script, then by a standing handler, else with Cancel.

#include "link/ConsolePort.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tessor::test {

class FakePrompt : public IUserPrompt {
public:
    void ShowProblem(const std::string& text) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        problems.push_back(text);
        problemThreads.push_back(std::this_thread::get_id());
        questionsBeforeProblem.push_back(questions.size());
    }

    // A scripted answer first (and a scripted action run before it returns); without one, the handler's
    // answer; without a handler, Cancel.
    Answer AskHardwareNotResponding(const std::string& text) override {
        std::function<void()> action;
        std::function<Answer()> handler;
        bool scripted = false;
        Answer answer = Answer::Cancel;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            questions.push_back(text);
            if (!answers.empty()) {
                answer = answers.front();
                answers.pop_front();
                scripted = true;
            }
            if (!onAsk.empty()) {
                action = onAsk.front();
                onAsk.pop_front();
            }
            handler = m_handler;
        }
        if (action)
            action();
        if (!scripted && handler)
            answer = handler();
        return answer;
    }

    void OnAsk(std::function<Answer()> handler) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handler = std::move(handler);
    }

    std::vector<std::string> Problems() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return problems;
    }
    // The worker may show a read error after the caller's wait has already ended: waits for the first
    // problem, with a generous guard for a loaded machine.
    std::vector<std::string> WaitForProblems() {
        const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::vector<std::string> shown = Problems();
        while (shown.empty() && std::chrono::steady_clock::now() < guard) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            shown = Problems();
        }
        return shown;
    }
    // How often "Hardware does not respond" was asked.
    int Asked() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(questions.size());
    }
    std::size_t QuestionCount() { return static_cast<std::size_t>(Asked()); }

    std::deque<Answer> answers;
    std::deque<std::function<void()>> onAsk;
    std::vector<std::string> problems;
    // For each problem: the thread that showed it and how many questions had been asked before.
    std::vector<std::thread::id> problemThreads;
    std::vector<std::size_t> questionsBeforeProblem;
    std::vector<std::string> questions;

private:
    std::mutex m_mutex;
    std::function<Answer()> m_handler;
};

} // namespace tessor::test
