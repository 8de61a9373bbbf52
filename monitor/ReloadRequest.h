#pragma once

// A request to reload, made when the monitor is sent SIGHUP and acted on by each part of the monitor in
// its own loop, never in the signal's context: the recordings reopen their files (after a log rotation
// moved them away). Each part keeps the generation it last acted on, so one request reaches every part.

#include <atomic>

namespace tessor::monitor {

class CReloadRequest {
public:
    // Safe in a signal handler: a lock-free counter.
    void Request() { m_generation.fetch_add(1, std::memory_order_relaxed); }
    unsigned Generation() const { return m_generation.load(std::memory_order_relaxed); }

private:
    static_assert(std::atomic<unsigned>::is_always_lock_free, "a signal handler may request a reload");
    std::atomic<unsigned> m_generation{0};
};

} // namespace tessor::monitor
