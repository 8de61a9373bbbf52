#pragma once

// The read-only HTTP endpoint of the monitor: GET /metrics serves the last published exposition, / a
// short page linking to it; every other path is 404 and every other method 405. Requests are answered
// by a small thread pool with short read and write time-outs, so a slow client holds one worker for a
// moment and never the others.

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace tessor::monitor {

// ADDRESS:PORT, the address possibly an IPv6 one in brackets. False for anything else.
bool ParseListenAddress(const std::string& text, std::string* host, int* port);

class CMetricsServer {
public:
    using Source = std::function<std::shared_ptr<const std::string>()>;

    // A worker serves one connection at a time, kept-alive ones included, so there are more workers
    // than the few scrapers an endpoint has.
    static constexpr int kWorkerThreads = 16;
    static constexpr int kDefaultPort = 9870;

    explicit CMetricsServer(Source source);
    ~CMetricsServer();
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Binds (port 0: any free port) and starts serving. False with *error set when the address cannot
    // be bound.
    bool Start(const std::string& host, int port, std::string* error);
    int Port() const { return m_port; }
    // Stops accepting and ends the workers.
    void Stop();

private:
    void Route();

    Source m_source;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
};

} // namespace tessor::monitor
