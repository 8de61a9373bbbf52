#pragma once

// Test support for the status pages: a poll thread run and stopped the way the main sheet does it, a
// bounded wait for something another thread does, and the check that a stop ends a read in progress.

#include "link/ConsolePort.h"
#include "support/SimHarness.h"

#include <gtest/gtest.h>

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

// Stops the page's poll thread while its first read waits on a board that never answers (the pass begun
// by start, the way the page's user begins it): the thread ends within two seconds, with no further read
// and nothing handed over.
template <class Page, class Start> void ExpectStopEndsAReadInProgress(int (*body)(Page*), Start start) {
    const auto bound = std::chrono::milliseconds(2000);
    test::SimBoard board;
    board.port->SetPollTiming(100000, std::chrono::microseconds(1000)); // a board silent for 100 s
    Page page;
    PollThreadRunner<Page> thread(page, body);
    board.simulator->SetSilent(true);
    board.ClearTraffic();
    start(page);
    ASSERT_TRUE(WaitUntil([&] { return !board.Commands().empty(); })); // the first read is under way
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(thread.Stop(bound));
    EXPECT_LT(std::chrono::steady_clock::now() - started, bound);
    EXPECT_EQ(board.Commands().size(), 1u); // no further read after the stop
    EXPECT_EQ(page.PassCount(), 0u);        // and nothing handed over
}

} // namespace tessor
