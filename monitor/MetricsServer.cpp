#include "monitor/MetricsServer.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace tessor::monitor {

namespace {

const char kTextPlain[] = "text/plain; charset=utf-8";
const char kExpositionType[] = "text/plain; version=0.0.4; charset=utf-8";
const char kIndexPage[] = "<!DOCTYPE html>\n<html><head><title>tessor-cli monitor</title></head>\n"
                          "<body><h1>tessor-cli monitor</h1>\n"
                          "<p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

bool IsReadMethod(const std::string& method) {
    return method == "GET" || method == "HEAD";
}

// Everything one request may send (request line, headers, a body we never want). The library bounds each
// header line but not their number, so without this a client could send headers until memory runs out.
constexpr std::size_t kRequestBudget = 16 * 1024;
// And the time it may take to arrive: a client trickling a byte now and then does not hold a worker long.
constexpr std::chrono::milliseconds kRequestTime{2000};

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int n = ::poll(&p, 1, timeoutMs);
        if (n >= 0 || errno != EINTR)
            return n > 0;
    }
}

std::string AddressText(const sockaddr_storage& a, int* port) {
    char text[INET6_ADDRSTRLEN] = {};
    if (a.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&a);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        *port = ntohs(in->sin_port);
    } else if (a.ss_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&a);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        *port = ntohs(in6->sin6_port);
    }
    return text;
}

// A connection's socket as the library reads and writes it, with time-outs on every wait and a budget of
// bytes per request.
class CBoundedStream : public httplib::Stream {
public:
    CBoundedStream(int fd, int readTimeoutMs, int writeTimeoutMs)
        : m_fd(fd), m_readTimeoutMs(readTimeoutMs), m_writeTimeoutMs(writeTimeoutMs) {}

    void NewRequest() {
        m_budget = kRequestBudget;
        m_deadline = std::chrono::steady_clock::now() + kRequestTime;
    }

    bool is_readable() const override {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            m_deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        return WaitFor(m_fd, POLLIN, std::min(m_readTimeoutMs, static_cast<int>(left.count())));
    }
    bool is_writable() const override { return WaitFor(m_fd, POLLOUT, m_writeTimeoutMs); }

    ssize_t read(char* ptr, size_t size) override {
        if (m_budget == 0 || !is_readable())
            return -1;
        const ssize_t n = ::recv(m_fd, ptr, std::min(size, m_budget), 0);
        if (n > 0)
            m_budget -= static_cast<std::size_t>(n);
        return n;
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable())
            return -1;
        return ::send(m_fd, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Name(false, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Name(true, ip, port); }
    socket_t socket() const override { return m_fd; }

private:
    void Name(bool local, std::string& ip, int& port) const {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        const int rc = local ? getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len)
                             : getpeername(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = 0;
        ip = rc == 0 ? AddressText(a, &port) : std::string();
    }

    int m_fd;
    int m_readTimeoutMs;
    int m_writeTimeoutMs;
    std::size_t m_budget = kRequestBudget;
    std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::now() + kRequestTime;
};

// The library's server with its connection loop replaced: the same requests and answers, read through
// the bounded stream, and a kept-alive connection waited for in poll() (the library's own wait wakes up
// every few milliseconds).
class CBoundedServer : public httplib::Server {
private:
    bool process_and_close_socket(socket_t sock) override {
        CBoundedStream stream(sock, Milliseconds(read_timeout_sec_, read_timeout_usec_),
                              Milliseconds(write_timeout_sec_, write_timeout_usec_));
        bool ok = false;
        for (std::size_t left = keep_alive_max_count_; left > 0 && Running(); --left) {
            if (left != keep_alive_max_count_ && !WaitForNextRequest(sock))
                break;
            stream.NewRequest();
            bool closed = false;
            ok = process_request(stream, left == 1, closed, [](httplib::Request&) {});
            if (!ok || closed)
                break;
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ok;
    }

    bool Running() const { return svr_sock_ != INVALID_SOCKET; }

    // In slices, so that a stopping server does not wait out the whole keep-alive time.
    bool WaitForNextRequest(int sock) const {
        for (time_t waited = 0; waited < keep_alive_timeout_sec_ * 1000 && Running(); waited += 100) {
            if (WaitFor(sock, POLLIN, 100))
                return true;
        }
        return false;
    }

    static int Milliseconds(time_t sec, time_t usec) { return static_cast<int>(sec * 1000 + usec / 1000); }
};

} // namespace

bool ParseListenAddress(const std::string& text, std::string* host, int* port) {
    std::string h;
    std::string p;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        h = text.substr(1, close - 1);
        p = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon)
            return false;
        h = text.substr(0, colon);
        p = text.substr(colon + 1);
    }
    if (h.empty() || p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long n = std::strtol(p.c_str(), nullptr, 10);
    if (n > 65535)
        return false;
    *host = h;
    *port = static_cast<int>(n);
    return true;
}

CMetricsServer::CMetricsServer(Source source)
    : m_source(std::move(source)), m_server(std::make_unique<CBoundedServer>()) {}

CMetricsServer::~CMetricsServer() {
    Stop();
}

void CMetricsServer::Route() {
    httplib::Server& s = *m_server;
    s.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    s.set_read_timeout(1, 0);
    s.set_write_timeout(1, 0);
    s.set_keep_alive_timeout(1);
    s.set_keep_alive_max_count(100);
    s.set_payload_max_length(4096);
    s.set_tcp_nodelay(true);
    // The library's default also sets SO_REUSEPORT, which would let a second monitor share the port
    // unnoticed and take half of the scrapes; only a quick restart's TIME_WAIT is to be tolerated.
    s.set_socket_options([](int sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    // Only reading is allowed, on any path.
    s.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (IsReadMethod(req.method))
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 405;
        res.set_header("Allow", "GET, HEAD");
        res.set_content("405 Method Not Allowed\n", kTextPlain);
        return httplib::Server::HandlerResponse::Handled;
    });
    s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        const std::shared_ptr<const std::string> text = m_source();
        res.set_content(text ? *text : std::string(), kExpositionType);
    });
    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kIndexPage, "text/html; charset=utf-8");
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        const char* reason = res.status == 404   ? "Not Found"
                             : res.status == 405 ? "Method Not Allowed"
                             : res.status == 400 ? "Bad Request"
                             : res.status == 413 ? "Payload Too Large"
                             : res.status == 414 ? "URI Too Long"
                                                 : "Error";
        res.set_content(std::to_string(res.status) + " " + reason + "\n", kTextPlain);
    });
}

bool CMetricsServer::Start(const std::string& host, int port, std::string* error) {
    Route();
    bool bound = false;
    if (port == 0) {
        m_port = m_server->bind_to_any_port(host);
        bound = m_port > 0;
    } else {
        bound = m_server->bind_to_port(host, port);
        m_port = port;
    }
    if (!bound) {
        if (error)
            *error = errno ? std::strerror(errno) : "cannot bind";
        m_port = 0;
        return false;
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return true;
}

void CMetricsServer::Stop() {
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace tessor::monitor
