#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tessor {

// An event that wakes exactly one waiter and then resets itself; a Set() with nobody waiting is kept
// until the next Wait().
class AutoResetEvent {
public:
    void Set() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_signalled = true;
        }
        m_cv.notify_one();
    }

    void Wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_signalled; });
        m_signalled = false;
    }

    // Returns true when the event was set within the timeout.
    template <class Rep, class Period> bool WaitFor(std::chrono::duration<Rep, Period> timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_cv.wait_for(lock, timeout, [this] { return m_signalled; }))
            return false;
        m_signalled = false;
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false;
};

} // namespace tessor
