#pragma once

// Child processes, temporary folders, free loopback ports, plain HTTP exchanges and a real Prometheus
// for the monitor's end-to-end tests.

#include "support/ChildProcess.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <netinet/in.h>
#include <optional>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tessor::monitor::test {

using testsupport::Process;
using testsupport::ReadFile;

using testsupport::WaitFor;

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/tessor-monitor-XXXXXX";
        m_path = mkdtemp(pattern);
    }
    ~TempDir() {
        const std::string command = "rm -rf '" + m_path + "'";
        if (std::system(command.c_str()) != 0)
            return;
    }
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A loopback port nobody listens on right now.
inline int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

// A TCP connection to 127.0.0.1 for hand-made requests.
class RawConnection {
public:
    explicit RawConnection(int port) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(m_fd);
            m_fd = -1;
        }
        timeval tv{5, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~RawConnection() {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Send(const std::string& bytes) {
        return m_fd >= 0 &&
               send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Everything the server sends until it closes (or 5 s of silence).
    std::string ReceiveAll() {
        std::string out;
        char buffer[4096];
        for (;;) {
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    int m_fd = -1;
};

// The port a monitor started with "--listen 127.0.0.1:0" serves on, as its standard error (errFile)
// says (scheme "http" or "https"); none when it has not said so within 5 s.
inline std::optional<int> ServingPort(const std::string& errFile, const std::string& scheme) {
    const std::regex serving("serving " + scheme + "://127\\.0\\.0\\.1:([0-9]+)/metrics");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
        const std::string err = ReadFile(errFile);
        std::smatch m;
        if (std::regex_search(err, m, serving))
            return std::stoi(m[1].str());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

// A real Prometheus on 127.0.0.1:promPort with the dir's prometheus.yml, its data in the dir.
inline bool StartPrometheus(Process& prometheus, const TempDir& dir, int promPort) {
    return prometheus.Start({"/usr/bin/prometheus", "--config.file=" + dir.File("prometheus.yml"),
                             "--storage.tsdb.path=" + dir.File("tsdb"),
                             "--web.listen-address=127.0.0.1:" + std::to_string(promPort)},
                            dir.File("prometheus.out"), dir.File("prometheus.err"));
}

// Prometheus's answer to an instant query: the value of the first series, none when it has none.
inline std::optional<double> PrometheusQuery(int port, const std::string& query) {
    httplib::Client client("127.0.0.1", port);
    auto res = client.Get("/api/v1/query", httplib::Params{{"query", query}}, httplib::Headers{});
    if (!res || res->status != 200)
        return std::nullopt;
    const auto j = nlohmann::json::parse(res->body, nullptr, false);
    if (j.is_discarded() || j["data"]["result"].empty())
        return std::nullopt;
    return std::stod(j["data"]["result"][0]["value"][1].get<std::string>());
}

} // namespace tessor::monitor::test
