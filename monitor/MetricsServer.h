#pragma once

// The read-only HTTP endpoint of the monitor: GET /metrics serves the last published exposition, / a
// short page linking to it; every other path is 404 and every other method 405 (an unknown one 400).
// A few event-driven threads serve every connection, so idle or slow clients cost a socket and a few
// kilobytes, never a worker: connections are bounded per client address and in total, a request must
// arrive within a short time, and a connection idle within a request is let go soon. An answered
// connection is kept alive for the scraper's next request, for little over a minute at most. A Range header
// is ignored: the answer is always the whole exposition with 200, so its size is bounded by the exposition's.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tessor::monitor {

// ADDRESS:PORT, the address possibly an IPv6 one in brackets. False for anything else.
bool ParseListenAddress(const std::string& text, std::string* host, int* port);

// What a request target names. The target is the request line's, its query split off and its percent
// escapes not yet decoded: the origin form ("/metrics") or the absolute form ("http://host:port/metrics").
enum class EndpointPath { Index, Metrics, None };
EndpointPath ResolveTarget(std::string_view target);

struct EndpointLimits {
    unsigned connections = 1200;          // open at once, in total
    unsigned perClient = 64;              // open at once from one address
    unsigned idleSeconds = 2;             // without a byte either way during a request
    unsigned keepAliveSeconds = 75;       // an answered connection waiting for its next request
    unsigned requestMs = 2000;            // from the connection or the last answer to a complete request head
    std::size_t requestBytes = 16 * 1024; // request line and headers
};

class CEndpointSecurity;

// With a security (a web configuration file), the endpoint serves TLS and asks for client certificates
// and basic authentication as the file says, adds its headers to every answer, answers a request without
// the right credentials 401 and counts those and the TLS handshakes that failed in its exposition.
// Passwords are checked by bcrypt on a thread of its own while the request's connection is suspended, so
// the serving threads go on serving; beyond a few checks in flight a request is answered 503 at once.
class CMetricsServer {
public:
    using Source = std::function<std::string()>;
    using Log = std::function<void(const std::string&)>;

    static constexpr int kDefaultPort = 9870;
    // A client address whose requests keep failing authentication is logged once in this time.
    static constexpr std::chrono::seconds kLogEvery{60};

    explicit CMetricsServer(Source source, EndpointLimits limits = {},
                            std::shared_ptr<const CEndpointSecurity> security = nullptr, Log log = {});
    ~CMetricsServer();
    CMetricsServer(const CMetricsServer&) = delete;
    CMetricsServer& operator=(const CMetricsServer&) = delete;

    // Binds (port 0: any free port) and starts serving. False with *error set when the address cannot
    // be bound.
    bool Start(const std::string& host, int port, std::string* error);
    int Port() const { return m_port; }
    // Closes every connection and ends the serving threads.
    void Stop();
    // New connections get the new security's credentials, new requests its users and headers; connections
    // already open keep their TLS session. False, with *error set and the old one kept, when it cannot
    // take its place: TLS is turned on or off only by a restart.
    bool Reconfigure(std::shared_ptr<const CEndpointSecurity> security, std::string* error);
    // How often the watch over request deadlines has looked at the connections: a few times a second at
    // most, never because a connection came.
    std::uint64_t WatchRounds() const;

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
    int m_port = 0;
};

} // namespace tessor::monitor
