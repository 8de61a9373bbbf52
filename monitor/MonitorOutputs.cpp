#include "monitor/MonitorOutputs.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace tessor::monitor {

// Shared with the writer thread, which may outlive the queue when its output never comes back.
struct COutputQueue::State {
    std::string output;
    std::string port;
    Write write;
    Log log;
    std::size_t capacity = kDefaultCapacity;
    std::mutex mutex; // guards queue, stop and finished
    std::condition_variable cv;
    std::deque<Snapshot> queue;
    bool stop = false;
    bool finished = false;
    bool dropTold = false;
    std::atomic<std::uint64_t> dropped{0};
};

namespace {

constexpr std::chrono::milliseconds kDrainTime{1000};

void WriterLoop(const std::shared_ptr<COutputQueue::State>& state) {
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        state->cv.wait(lock, [&] { return state->stop || !state->queue.empty(); });
        if (state->queue.empty())
            break;
        Snapshot s = std::move(state->queue.front());
        state->queue.pop_front();
        lock.unlock();
        state->write(s);
        lock.lock();
    }
    state->finished = true;
    state->cv.notify_all();
}

} // namespace

COutputQueue::COutputQueue(std::string output, std::string port, Write write, Log log, std::size_t capacity)
    : m_state(std::make_shared<State>()) {
    m_state->output = std::move(output);
    m_state->port = std::move(port);
    m_state->write = std::move(write);
    m_state->log = std::move(log);
    m_state->capacity = capacity > 0 ? capacity : 1;
    std::thread([state = m_state] { WriterLoop(state); }).detach();
}

COutputQueue::~COutputQueue() {
    Finish(kDrainTime);
}

bool COutputQueue::Finish(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->stop = true;
    m_state->cv.notify_all();
    if (m_state->cv.wait_for(lock, limit, [this] { return m_state->finished; }))
        return true;
    m_state->queue.clear(); // the write under way is the writer's last
    return false;
}

void COutputQueue::Push(const Snapshot& s) {
    bool tell = false;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->stop)
            return;
        if (m_state->queue.size() < m_state->capacity) {
            m_state->queue.push_back(s);
            m_state->cv.notify_all();
            return;
        }
        m_state->dropped.fetch_add(1);
        tell = !std::exchange(m_state->dropTold, true);
    }
    if (tell && m_state->log)
        m_state->log((m_state->port.empty() ? "" : m_state->port + ": ") + m_state->output +
                     " output is not keeping up; passes are dropped for it and counted in "
                     "tessor_output_dropped_total");
}

OutputDropped COutputQueue::Dropped() const {
    return OutputDropped{m_state->output, m_state->port, m_state->dropped.load()};
}

} // namespace tessor::monitor
