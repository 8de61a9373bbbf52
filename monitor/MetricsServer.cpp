#include "monitor/MetricsServer.h"

#include "monitor/EndpointSecurity.h"

#include <gnutls/gnutls.h>
#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
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
#include <vector>

namespace tessor::monitor {

namespace {

using Clock = std::chrono::steady_clock;

// Event-driven threads, each serving its share of the connections: one that the scheduler holds back
// delays only its own. Every one of them wakes for each new connection and all but one find nothing to
// accept, which a TLS client waits through in its connect: two, no more.
constexpr unsigned kThreads = 2;

// Password checks taken at once, running or waiting for the checker's one thread. A scraper whose
// password was checked once is answered from the kept answer and never waits here; beyond this bound a
// request is answered 503 with Retry-After at once: the endpoint is busy, which says nothing about the
// credentials (401 would tell a right password it is wrong), and the bound is shared by all clients,
// not one client's rate (429).
constexpr std::size_t kChecksInFlight = 4;

const char kChallenge[] = "Basic realm=\"tessor-cli monitor\", charset=\"UTF-8\"";
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
    case 401:
        return "Unauthorized";
    case 405:
        return "Method Not Allowed";
    case 503:
        return "Service Unavailable";
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

// A client's text fit for the log: bytes other than printable ASCII become '?', and it is cut at 64.
std::string Printable(std::string text) {
    if (text.size() > 64)
        text.resize(64);
    for (char& c : text) {
        if (c < 0x20 || c > 0x7e)
            c = '?';
    }
    return text;
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
    Impl(Source source, EndpointLimits limits, std::shared_ptr<const CEndpointSecurity> security, Log log)
        : m_source(std::move(source)), m_limits(limits), m_security(std::move(security)),
          m_log(std::move(log)), m_secured(m_security != nullptr) {
        if (m_security)
            m_retired.push_back(m_security);
    }
    ~Impl() { Stop(); }

    bool Start(int listenFd, std::string* error) {
        const unsigned connections = ConnectionsTheFileLimitAllows(m_limits.connections);
        // With TLS the library starts with the first certificate; each connection then gets the
        // credentials of the configuration in force (Notify).
        const bool tls = m_security && m_security->Tls();
        const MHD_OptionItem tlsOptions[] = {
            {tls ? MHD_OPTION_HTTPS_MEM_KEY : MHD_OPTION_END, 0,
             tls ? const_cast<char*>(m_security->KeyPem().c_str()) : nullptr},
            {tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, 0,
             tls ? const_cast<char*>(m_security->CertPem().c_str()) : nullptr},
            {MHD_OPTION_END, 0, nullptr},
        };
        // poll(), not epoll: in its epoll mode the library retries a TLS handshake that waits for the client
        // in a loop, keeping a core busy (and the client off it) until the client's next flight arrives.
        m_daemon = MHD_start_daemon(
            MHD_USE_POLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME | (tls ? MHD_USE_TLS : 0), 0, nullptr,
            nullptr, &Impl::Answer, this, MHD_OPTION_LISTEN_SOCKET, listenFd, MHD_OPTION_CONNECTION_LIMIT,
            connections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, m_limits.perClient,
            MHD_OPTION_CONNECTION_TIMEOUT, m_limits.idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
            m_limits.requestBytes, MHD_OPTION_NOTIFY_CONNECTION, &Impl::Notify, this,
            MHD_OPTION_NOTIFY_COMPLETED, &Impl::Completed, this, MHD_OPTION_UNESCAPE_CALLBACK, &KeepEscapes,
            nullptr, MHD_OPTION_THREAD_POOL_SIZE, kThreads, MHD_OPTION_ARRAY, tlsOptions, MHD_OPTION_END);
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
        // Every connection waiting for its check is resumed (refused) before the library stops.
        m_checker.Stop();
        if (m_daemon)
            MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }

    bool Reconfigure(std::shared_ptr<const CEndpointSecurity> security, std::string* error) {
        const bool tls = security && security->Tls();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_secured || !security || tls != m_security->Tls()) {
            *error = "TLS or a web configuration file is turned on or off only by a restart";
            return false;
        }
        m_security = security;
        m_retired.push_back(std::move(security)); // sessions of earlier connections may still use it
        return true;
    }

    std::uint64_t WatchRounds() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_watchRounds;
    }

private:
    // One request: the configuration it is judged by and where its credentials check stands. Written by
    // the checker before it resumes the connection, read by the serving thread after.
    struct Request {
        enum State { New, Checking, Accepted, Refused, Busy };
        std::shared_ptr<const CEndpointSecurity> security;
        std::atomic<State> state{New};
        std::mutex mutex; // orders the check's end against the suspension
        bool suspended = false;
        std::string user; // for the log
        bool authenticates() const { return security && security->Authenticates(); }
    };

    struct Connection {
        int fd = -1;
        Clock::time_point deadline = Clock::time_point::max();
        gnutls_session_t tls = nullptr;
        bool requested = false; // a request head came in: its handshake, if any, completed
    };

    std::shared_ptr<const CEndpointSecurity> Security() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_security;
    }

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
        if (code == MHD_CONNECTION_NOTIFY_STARTED)
            self->Started(c);
        else
            self->Closed(c);
    }

    // A TLS connection gets the credentials, versions and client certificate request of the configuration
    // in force before its handshake; one that cannot is shut at once, never served with less.
    void Started(MHD_Connection* c) {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (!info)
            return;
        const int fd = info->connect_fd;
        std::lock_guard<std::mutex> lock(m_mutex);
        Connection connection{fd, NextDeadline()};
        if (m_security && m_security->Tls()) {
            const MHD_ConnectionInfo* tls = MHD_get_connection_info(c, MHD_CONNECTION_INFO_GNUTLS_SESSION);
            connection.tls = tls ? static_cast<gnutls_session_t>(tls->tls_session) : nullptr;
            if (!m_security->Apply(connection.tls)) {
                ::shutdown(fd, SHUT_RDWR);
                connection.deadline = Clock::time_point::max();
            }
        }
        // The watch is not woken: it looks again within a tick, and the new deadline is further away.
        m_connections[c] = connection;
    }

    // Before the library closes the socket: the watch never touches a number reused meanwhile. A TLS
    // connection that never got to a request after its client had begun a handshake counts as a failed one.
    void Closed(MHD_Connection* c) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_connections.find(c);
        if (it == m_connections.end())
            return;
        if (it->second.tls && !it->second.requested && HandshakeFailed(it->second.tls))
            ++m_handshakeFailures;
        m_connections.erase(it);
    }

    static bool HandshakeFailed(gnutls_session_t session) {
        const gnutls_handshake_description_t last = gnutls_handshake_get_last_in(session);
        return last != GNUTLS_HANDSHAKE_HELLO_REQUEST && last != GNUTLS_HANDSHAKE_FINISHED;
    }

    // An answered connection is kept for the next request for a while: a scraper's interval, within limits.
    // Its next request then has the usual time to arrive whole.
    static void Completed(void* cls, MHD_Connection* c, void** requestState, MHD_RequestTerminationCode) {
        auto* self = static_cast<Impl*>(cls);
        delete static_cast<Request*>(*requestState);
        *requestState = nullptr;
        MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT, self->m_limits.keepAliveSeconds);
        self->SetDeadline(c, Clock::now() + std::chrono::seconds(self->m_limits.keepAliveSeconds));
    }

    void RequestStarted(MHD_Connection* c) {
        MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT, m_limits.idleSeconds);
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_connections.find(c);
        if (it != m_connections.end()) {
            it->second.deadline = NextDeadline();
            it->second.requested = true;
        }
    }

    // The watch looks at least once a tick, shorter than any deadline it is given, so no connection ever
    // has to wake it: waking another thread on each new connection would sit in the TLS handshake's path.
    Clock::duration WatchTick() const {
        const auto half = std::chrono::milliseconds(std::max(2u, m_limits.requestMs) / 2);
        return std::min<Clock::duration>(std::chrono::seconds(1), half);
    }

    void Watch() {
        const Clock::duration tick = WatchTick();
        std::unique_lock<std::mutex> lock(m_mutex);
        Clock::time_point next = Clock::now() + tick;
        while (!m_stopping) {
            m_cv.wait_until(lock, next);
            ++m_watchRounds;
            const auto now = Clock::now();
            next = now + tick;
            for (auto& entry : m_connections) {
                if (entry.second.deadline <= now) {
                    ::shutdown(entry.second.fd, SHUT_RDWR);
                    entry.second.deadline = Clock::time_point::max();
                }
                next = std::min(next, entry.second.deadline);
            }
        }
    }

    MHD_Result Send(MHD_Connection* c, unsigned status, const std::string& body, const char* type,
                    const CEndpointSecurity* security, const char* extraName = nullptr,
                    const char* extraValue = nullptr) {
        MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                          MHD_RESPMEM_MUST_COPY);
        if (!r)
            return MHD_NO;
        MHD_add_response_header(r, "Content-Type", type);
        if (extraName)
            MHD_add_response_header(r, extraName, extraValue);
        if (security) {
            for (const auto& header : security->Headers())
                MHD_add_response_header(r, header.first.c_str(), header.second.c_str());
        }
        const MHD_Result queued = MHD_queue_response(c, status, r);
        MHD_destroy_response(r);
        return queued;
    }

    MHD_Result Error(MHD_Connection* c, unsigned status, const CEndpointSecurity* security) {
        const std::string body = std::to_string(status) + " " + Reason(status) + "\n";
        if (status == 405)
            return Send(c, status, body, kTextPlain, security, "Allow", "GET, HEAD");
        if (status == 401)
            return Send(c, status, body, kTextPlain, security, MHD_HTTP_HEADER_WWW_AUTHENTICATE, kChallenge);
        if (status == 503)
            return Send(c, status, body, kTextPlain, security, MHD_HTTP_HEADER_RETRY_AFTER, "1");
        return Send(c, status, body, kTextPlain, security);
    }

    static std::string ClientAddress(MHD_Connection* c) {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        char text[INET6_ADDRSTRLEN] = "unknown";
        if (info && info->client_addr->sa_family == AF_INET)
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, text,
                      sizeof text);
        else if (info && info->client_addr->sa_family == AF_INET6)
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(info->client_addr)->sin6_addr, text,
                      sizeof text);
        return text;
    }

    // A refusal is counted, and logged once a minute at most for its client address.
    void Refused(MHD_Connection* c, const std::string& user) {
        ++m_authFailures;
        const std::string address = ClientAddress(c);
        const std::string name = Printable(user);
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& last = m_lastLogged[address];
        if (m_log && (last == Clock::time_point() || now - last >= kLogEvery)) {
            last = now;
            m_log("refused a request from " + address +
                  (name.empty() ? ": no basic authentication credentials"
                                : ": wrong credentials for user " + name) +
                  " (logged once a minute per address)");
        }
        if (m_lastLogged.size() > 4096)
            m_lastLogged.clear();
    }

    // Decides the request's credentials: at once when the answer is known without bcrypt, else on the
    // checker, the connection suspended meanwhile so that its serving thread serves the others. False
    // when the request waits; its state then says Checking, or Busy when the checker is full.
    bool Authenticate(MHD_Connection* c, Request& request,
                      std::shared_ptr<const CEndpointSecurity> security) {
        const char* header = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
        std::optional<BasicCredentials> credentials = header ? ParseBasicAuthorization(header) : std::nullopt;
        if (!credentials) {
            request.state = Request::Refused;
            return true;
        }
        request.user = credentials->user;
        if (const std::optional<bool> kept =
                security->Kept(credentials->user, credentials->password, Clock::now())) {
            request.state = *kept ? Request::Accepted : Request::Refused;
            return true;
        }
        request.state = Request::Checking;
        SetDeadline(c, Clock::time_point::max()); // the checker's bound limits the wait
        // The job resumes the connection only once it is suspended; the Request is not touched after.
        auto job = [c, &request, security, credentials = std::move(*credentials)](bool run) {
            const bool accepted =
                run && security->Verify(credentials.user, credentials.password, Clock::now());
            bool suspended = false;
            {
                std::lock_guard<std::mutex> lock(request.mutex);
                request.state = accepted ? Request::Accepted : Request::Refused;
                suspended = request.suspended;
            }
            if (suspended)
                MHD_resume_connection(c);
        };
        if (!m_checker.TryRun(std::move(job))) {
            request.state = Request::Busy;
            return true;
        }
        std::lock_guard<std::mutex> lock(request.mutex);
        if (request.state != Request::Checking)
            return true; // already checked
        MHD_suspend_connection(c);
        request.suspended = true;
        return false;
    }

    std::string Body() {
        std::string body = m_source();
        if (!m_secured)
            return body;
        body += "# HELP tessor_http_auth_failures_total Requests refused for missing or wrong basic "
                "authentication credentials.\n"
                "# TYPE tessor_http_auth_failures_total counter\n"
                "tessor_http_auth_failures_total " +
                std::to_string(m_authFailures.load()) + "\n";
        std::lock_guard<std::mutex> lock(m_mutex);
        body += "# HELP tessor_http_tls_handshake_failures_total TLS connections closed before their "
                "handshake completed (no or a refused client certificate, a version refused).\n"
                "# TYPE tessor_http_tls_handshake_failures_total counter\n"
                "tessor_http_tls_handshake_failures_total " +
                std::to_string(m_handshakeFailures) + "\n";
        return body;
    }

    // Called once the request head is in, then for each piece of a body (never wanted: dropped), then once
    // more when the request is complete. A read is answered then, so the connection can be kept for the
    // next one; an answer queued before the request's end would have to close it, as errors do.
    static MHD_Result Answer(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                             const char*, size_t* uploadSize, void** requestState) {
        auto* self = static_cast<Impl*>(cls);
        if (*requestState == nullptr) {
            auto* request = new Request;
            request->security = self->Security();
            *requestState = request;
            self->RequestStarted(c);
            // Without authentication a wrong method is answered at once; with it, only once the
            // credentials are checked, as the request's end.
            if (!request->authenticates() && !IsReadMethod(method))
                return self->Error(c, IsKnownMethod(method) ? 405 : 400, request->security.get());
            return MHD_YES;
        }
        auto& request = *static_cast<Request*>(*requestState);
        const CEndpointSecurity* security = request.security.get();
        if (*uploadSize != 0) {
            *uploadSize = 0;
            return MHD_YES;
        }
        if (request.authenticates()) {
            if (request.state == Request::New && !self->Authenticate(c, request, request.security))
                return MHD_YES; // suspended: called again once the check is done
            switch (request.state.load()) {
            case Request::Checking: // resumed only once the state is set: never seen here
            case Request::New:
            case Request::Refused:
                self->Refused(c, request.user);
                return self->Error(c, 401, security);
            case Request::Busy:
                return self->Error(c, 503, security);
            case Request::Accepted:
                break;
            }
            if (!IsReadMethod(method))
                return self->Error(c, IsKnownMethod(method) ? 405 : 400, security);
        }
        self->SetDeadline(c, Clock::time_point::max());
        switch (ResolveTarget(url)) {
        case EndpointPath::Metrics:
            return self->Send(c, 200, self->Body(), kExpositionType, security);
        case EndpointPath::Index:
            return self->Send(c, 200, kIndexPage, "text/html; charset=utf-8", security);
        case EndpointPath::None:
            break;
        }
        return self->Error(c, 404, security);
    }

    Source m_source;
    EndpointLimits m_limits;
    std::shared_ptr<const CEndpointSecurity> m_security; // in force; guarded by m_mutex
    Log m_log;
    const bool m_secured; // started with a web configuration: its counters are served
    std::vector<std::shared_ptr<const CEndpointSecurity>> m_retired; // every one loaded, until Stop
    std::atomic<std::uint64_t> m_authFailures{0};
    std::uint64_t m_handshakeFailures = 0;                           // guarded by m_mutex
    std::unordered_map<std::string, Clock::time_point> m_lastLogged; // guarded by m_mutex
    MHD_Daemon* m_daemon = nullptr;
    mutable std::mutex m_mutex; // guards m_connections and m_stopping
    std::condition_variable m_cv;
    bool m_stopping = false;
    std::uint64_t m_watchRounds = 0; // guarded by m_mutex
    std::unordered_map<MHD_Connection*, Connection> m_connections;
    std::thread m_watch;
    // bcrypt off the serving threads: one core at most, and a few checks in flight (see kChecksInFlight).
    CPasswordChecker m_checker{1, kChecksInFlight};
};

CMetricsServer::CMetricsServer(Source source, EndpointLimits limits,
                               std::shared_ptr<const CEndpointSecurity> security, Log log)
    : m_impl(std::make_unique<Impl>(std::move(source), limits, std::move(security), std::move(log))) {}

bool CMetricsServer::Reconfigure(std::shared_ptr<const CEndpointSecurity> security, std::string* error) {
    return m_impl->Reconfigure(std::move(security), error);
}

std::uint64_t CMetricsServer::WatchRounds() const {
    return m_impl->WatchRounds();
}

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
