#pragma once

// Test support for the status pages: a poll thread run and stopped the way the main sheet does it, and a
// bounded wait for something another thread does.

#include "link/ConsolePort.h"

#include <chrono>
#include <future>
#include <thread>

namespace tessor {

template <class Predicate> bool WaitUntil(Predicate predicate) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Starts the page's poll thread; Stop() sets the stop flag, wakes the thread and joins it.
template <class Page> class PollThreadRunner {
public:
    PollThreadRunner(Page& page, int (*body)(Page*)) : m_page(page) {
        std::packaged_task<int()> task([&page, body] { return body(&page); });
        m_result = task.get_future();
        m_thread = std::thread(std::move(task));
    }
    ~PollThreadRunner() { Stop(); }
    PollThreadRunner(const PollThreadRunner&) = delete;
    PollThreadRunner& operator=(const PollThreadRunner&) = delete;

    // True when the thread ended within the bound.
    bool Stop(std::chrono::milliseconds bound = std::chrono::milliseconds(5000)) {
        if (!m_thread.joinable())
            return true;
        g_bStopThreads.store(1);
        m_page.m_pollEvent.Set();
        const bool ended = m_result.wait_for(bound) == std::future_status::ready;
        m_thread.join();
        return ended;
    }

private:
    Page& m_page;
    std::future<int> m_result;
    std::thread m_thread;
};

} // namespace tessor
