#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace tessor {

// A thread that can be joined with a time limit. One that does not end in time is detached, and the
// owner must then keep alive whatever it uses.
class CWorkerThread {
public:
    CWorkerThread() = default;
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;
    ~CWorkerThread() {
        if (m_thread.joinable())
            m_thread.detach();
    }

    void Start(std::function<int()> body) {
        std::packaged_task<int()> task(std::move(body));
        m_done = task.get_future();
        m_thread = std::thread(std::move(task));
    }

    // True when the thread has ended (or never started) by the deadline.
    bool JoinUntil(std::chrono::steady_clock::time_point deadline) {
        if (!m_thread.joinable())
            return true;
        if (m_done.wait_until(deadline) != std::future_status::ready)
            return false;
        m_thread.join();
        return true;
    }

private:
    std::thread m_thread;
    std::future<int> m_done;
};

} // namespace tessor
