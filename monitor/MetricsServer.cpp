#include "monitor/MetricsServer.h"

#include <httplib.h>

#include <sys/socket.h>

#include <cerrno>
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
    : m_source(std::move(source)), m_server(std::make_unique<httplib::Server>()) {}

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
