#pragma once

// What the monitor writes besides its endpoint (the JSON lines, a recording) goes through a bounded queue
// to a writer thread of its own, so an output that blocks (a pipe nobody reads, a hung file system) never
// holds up polling. When the queue is full, the pass is dropped for that output and counted, and the
// first drop is told on the log.

#include "monitor/Snapshot.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tessor::monitor {

class COutputQueue {
public:
    using Write = std::function<void(const Snapshot&)>;
    using Log = std::function<void(const std::string&)>;

    // Over a minute of passes at the default interval.
    static constexpr std::size_t kDefaultCapacity = 16;

    // output and port name the queue in the log and the exposition (port empty: all boards).
    COutputQueue(std::string output, std::string port, Write write, Log log,
                 std::size_t capacity = kDefaultCapacity);
    // Lets the writer finish what is queued, for a moment; a writer blocked for good is left to the
    // end of the process.
    ~COutputQueue();
    COutputQueue(const COutputQueue&) = delete;
    COutputQueue& operator=(const COutputQueue&) = delete;

    // Never waits for the writer.
    void Push(const Snapshot& s);

    // Takes no more passes and gives the writer up to limit to write what is queued. False when it is
    // still writing then (its output blocked): what is left is dropped, and the write under way is left
    // to the end of the process.
    bool Finish(std::chrono::milliseconds limit);

    OutputDropped Dropped() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace tessor::monitor
