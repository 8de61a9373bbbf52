#include "monitor/MetricsServer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace tessor::monitor {

namespace {

using Clock = std::chrono::steady_clock;

// Event-driven threads, each serving its share of the connections: one that the scheduler holds back
// delays only its own.
constexpr unsigned kThreads = 4;

const char kTextPlain[] = "text/plain; charset=utf-8";
const char kExpositionType[] = "text/plain; version=0.0.4; charset=utf-8";
const char kIndexPage[] = "<!DOCTYPE html>\n<html><head><title>tessor-cli monitor</title></head>\n"
                          "<body><h1>tessor-cli monitor</h1>\n"
                          "<p><a href=\"/metrics\">Metrics</a></p></body></html>\n";

bool IsReadMethod(const char* method) {
    return std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0;
}

bool IsKnownMethod(const char* method) {
    static const char* const kMethods[] = {"POST", "PUT", "DELETE", "OPTIONS", "PATCH", "TRACE", "CONNECT"};
    return std::any_of(std::begin(kMethods), std::end(kMethods),
                       [method](const char* m) { return std::strcmp(method, m) == 0; });
}

const char* Reason(unsigned status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    default:
        return "Error";
    }
}

// The process may have as many files open as the endpoint may hold connections, within the hard limit.
unsigned ConnectionsTheFileLimitAllows(unsigned wanted) {
    constexpr rlim_t kReserve = 128; // the board, the recording, the pipes, the listening socket
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::min(wanted, 512u);
    const rlim_t needed = wanted + kReserve;
    if (limit.rlim_cur < needed) {
        limit.rlim_cur = std::min(needed, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur <= kReserve * 2)
        return static_cast<unsigned>(limit.rlim_cur / 2);
    return static_cast<unsigned>(std::min<rlim_t>(wanted, limit.rlim_cur - kReserve));
}

int ListeningSocket(const std::string& host, int port, std::string* error) {
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* in = reinterpret_cast<sockaddr_in*>(&address);
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, host.c_str(), &in->sin_addr) == 1) {
        in->sin_family = AF_INET;
        in->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *in;
    } else if (inet_pton(AF_INET6, host.c_str(), &in6->sin6_addr) == 1) {
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *in6;
    } else {
        *error = "not a numeric IPv4 or IPv6 address";
        return -1;
    }
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::strerror(errno);
        return -1;
    }
    // Only a quick restart's TIME_WAIT is tolerated: no SO_REUSEPORT, so a second monitor on the same
    // port fails instead of taking half of the scrapes unnoticed.
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (address.ss_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &yes, sizeof yes);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 1024) != 0) {
        *error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

int BoundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The path of an absolute-form target ("http://host:port/path": the path, "/" when it has none), or the
// origin-form target itself; nothing for any other form.
std::optional<std::string_view> OriginPath(std::string_view target) {
    if (!target.empty() && target.front() == '/')
        return target;
    const auto sep = target.find("://");
    if (sep == std::string_view::npos)
        return std::nullopt;
    std::string scheme(target.substr(0, sep));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme != "http" && scheme != "https")
        return std::nullopt;
    const std::string_view rest = target.substr(sep + 3);
    const auto slash = rest.find('/');
    if (rest.empty() || slash == 0)
        return std::nullopt; // no authority
    return slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);
}

// The path with its percent escapes decoded, every byte kept (a %00 stays in, so it never matches a path
// served); nothing for a target of another form or a broken escape.
std::optional<std::string> DecodedPath(std::string_view target) {
    const std::optional<std::string_view> raw = OriginPath(target);
    if (!raw)
        return std::nullopt;
    std::string path;
    for (std::size_t i = 0; i < raw->size(); ++i) {
        if ((*raw)[i] != '%') {
            path += (*raw)[i];
            continue;
        }
        const int high = i + 2 < raw->size() ? HexDigit((*raw)[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit((*raw)[i + 2]) : -1;
        if (low < 0)
            return std::nullopt;
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return path;
}

// The library's own decoding would end the path at a %00; the target is passed on as it came, and
// ResolveTarget decodes it.
size_t KeepEscapes(void*, MHD_Connection*, char* uri) {
    return std::strlen(uri);
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

EndpointPath ResolveTarget(std::string_view target) {
    const std::optional<std::string> path = DecodedPath(target);
    if (path == "/metrics")
        return EndpointPath::Metrics;
    if (path == "/")
        return EndpointPath::Index;
    return EndpointPath::None;
}

// The daemon and the watch over request times: the library bounds idle time, but a client sending a byte
// now and then is never idle, so each connection has a deadline for its request head; past it, the watch
// shuts the socket down and the library closes the connection.
class CMetricsServer::Impl {
public:
    Impl(Source source, EndpointLimits limits) : m_source(std::move(source)), m_limits(limits) {}
    ~Impl() { Stop(); }

    bool Start(int listenFd, std::string* error) {
        const unsigned connections = ConnectionsTheFileLimitAllows(m_limits.connections);
        m_daemon = MHD_start_daemon(
            MHD_USE_EPOLL_INTERNAL_THREAD, 0, nullptr, nullptr, &Impl::Answer, this, MHD_OPTION_LISTEN_SOCKET,
            listenFd, MHD_OPTION_CONNECTION_LIMIT, connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
            m_limits.perClient, MHD_OPTION_CONNECTION_TIMEOUT, m_limits.idleSeconds,
            MHD_OPTION_CONNECTION_MEMORY_LIMIT, m_limits.requestBytes, MHD_OPTION_NOTIFY_CONNECTION,
            &Impl::Notify, this, MHD_OPTION_NOTIFY_COMPLETED, &Impl::Completed, this,
            MHD_OPTION_UNESCAPE_CALLBACK, &KeepEscapes, nullptr, MHD_OPTION_THREAD_POOL_SIZE, kThreads,
            MHD_OPTION_END);
        if (!m_daemon) {
            *error = "the HTTP server did not start";
            ::close(listenFd);
            return false;
        }
        m_watch = std::thread([this] { Watch(); });
        return true;
    }

    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_cv.notify_all();
        if (m_watch.joinable())
            m_watch.join();
        if (m_daemon)
            MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }

private:
    struct Connection {
        int fd = -1;
        Clock::time_point deadline = Clock::time_point::max();
    };

    Clock::time_point NextDeadline() const {
        return Clock::now() + std::chrono::milliseconds(m_limits.requestMs);
    }

    void SetDeadline(MHD_Connection* c, Clock::time_point when) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_connections.find(c);
        if (it != m_connections.end())
            it->second.deadline = when;
    }

    static void Notify(void* cls, MHD_Connection* c, void**, MHD_ConnectionNotificationCode code) {
        auto* self = static_cast<Impl*>(cls);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (!info)
                return;
            if (self->m_connections.empty())
                self->m_cv.notify_all(); // the watch may be waiting without a deadline
            self->m_connections[c] = Connection{info->connect_fd, self->NextDeadline()};
        } else {
            // Before the library closes the socket: the watch never touches a number reused meanwhile.
            self->m_connections.erase(c);
        }
    }

    // An answered connection is kept for the next request for a while: a scraper's interval, within limits.
    // Its next request then has the usual time to arrive whole.
    static void Completed(void* cls, MHD_Connection* c, void**, MHD_RequestTerminationCode) {
        auto* self = static_cast<Impl*>(cls);
        MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT, self->m_limits.keepAliveSeconds);
        self->SetDeadline(c, Clock::now() + std::chrono::seconds(self->m_limits.keepAliveSeconds));
    }

    void RequestStarted(MHD_Connection* c) {
        MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT, m_limits.idleSeconds);
        SetDeadline(c, NextDeadline());
    }

    void Watch() {
        std::unique_lock<std::mutex> lock(m_mutex);
        Clock::time_point next = Clock::time_point::max();
        while (!m_stopping) {
            if (next == Clock::time_point::max())
                m_cv.wait(lock);
            else
                m_cv.wait_until(lock, next);
            next = Clock::now() + std::chrono::seconds(1);
            const auto now = Clock::now();
            for (auto& entry : m_connections) {
                if (entry.second.deadline <= now) {
                    ::shutdown(entry.second.fd, SHUT_RDWR);
                    entry.second.deadline = Clock::time_point::max();
                }
                next = std::min(next, entry.second.deadline);
            }
            if (m_connections.empty())
                next = Clock::time_point::max();
        }
    }

    static MHD_Result Send(MHD_Connection* c, unsigned status, const std::string& body, const char* type,
                           bool allow = false) {
        MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                          MHD_RESPMEM_MUST_COPY);
        if (!r)
            return MHD_NO;
        MHD_add_response_header(r, "Content-Type", type);
        if (allow)
            MHD_add_response_header(r, "Allow", "GET, HEAD");
        const MHD_Result queued = MHD_queue_response(c, status, r);
        MHD_destroy_response(r);
        return queued;
    }

    static MHD_Result Error(MHD_Connection* c, unsigned status) {
        return Send(c, status, std::to_string(status) + " " + Reason(status) + "\n", kTextPlain,
                    status == 405);
    }

    // Called once the request head is in, then for each piece of a body (never wanted: dropped), then once
    // more when the request is complete. A read is answered then, so the connection can be kept for the
    // next one; an answer queued before the request's end would have to close it.
    static MHD_Result Answer(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                             const char*, size_t* uploadSize, void** requestState) {
        auto* self = static_cast<Impl*>(cls);
        if (!IsReadMethod(method))
            return Error(c, IsKnownMethod(method) ? 405 : 400);
        if (*requestState == nullptr) {
            *requestState = self;
            self->RequestStarted(c);
            return MHD_YES;
        }
        if (*uploadSize != 0) {
            *uploadSize = 0;
            return MHD_YES;
        }
        self->SetDeadline(c, Clock::time_point::max());
        switch (ResolveTarget(url)) {
        case EndpointPath::Metrics:
            return Send(c, 200, self->m_source(), kExpositionType);
        case EndpointPath::Index:
            return Send(c, 200, kIndexPage, "text/html; charset=utf-8");
        case EndpointPath::None:
            break;
        }
        return Error(c, 404);
    }

    Source m_source;
    EndpointLimits m_limits;
    MHD_Daemon* m_daemon = nullptr;
    std::mutex m_mutex; // guards m_connections and m_stopping
    std::condition_variable m_cv;
    bool m_stopping = false;
    std::unordered_map<MHD_Connection*, Connection> m_connections;
    std::thread m_watch;
};

CMetricsServer::CMetricsServer(Source source, EndpointLimits limits)
    : m_impl(std::make_unique<Impl>(std::move(source), limits)) {}

CMetricsServer::~CMetricsServer() {
    Stop();
}

bool CMetricsServer::Start(const std::string& host, int port, std::string* error) {
    std::string reason;
    const int fd = ListeningSocket(host, port, &reason);
    if (fd < 0 || !m_impl->Start(fd, &reason)) {
        if (error)
            *error = reason;
        return false;
    }
    m_port = BoundPort(fd);
    return true;
}

void CMetricsServer::Stop() {
    if (m_impl)
        m_impl->Stop();
}

} // namespace tessor::monitor
