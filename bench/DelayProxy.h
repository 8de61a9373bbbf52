#pragma once

// A TCP relay on 127.0.0.1 that holds every chunk it reads for a fixed time before passing it on, in each
// direction: a console server at a remote site, seen from the benchmark. Each accepted connection gets a
// connection of its own to the upstream port; a chunk read at t leaves at t + delay whatever else is in
// flight, as on a long line. Connecting costs nothing extra (a real remote site adds one round trip).

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace tessor::bench {

class DelayProxy {
public:
    DelayProxy() = default;
    ~DelayProxy() { Stop(); }
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // Listens on a free port of 127.0.0.1 and relays to 127.0.0.1:upstreamPort. False when it cannot.
    bool Start(int upstreamPort, std::chrono::milliseconds delay);
    // Ends every relay and the listener; open connections are closed.
    void Stop();
    int Port() const { return m_port; }

private:
    void AcceptLoop();
    void Relay(int client, int server) const;

    int m_listen = -1;
    int m_port = 0;
    int m_upstream = 0;
    std::chrono::milliseconds m_delay{0};
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<std::thread> m_relays;
};

} // namespace tessor::bench
