#include "monitor/ConsoleShare.h"

#include "link/Rfc2217ServerCodec.h"
#include "monitor/MetricText.h"
#include "monitor/MetricsServer.h"
#include "ops/Access.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tessor::monitor {

namespace {

using Clock = std::chrono::steady_clock;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::string PeerName(const sockaddr_storage& address, socklen_t length) {
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "an unknown client";
    const std::string h = host;
    return (h.find(':') != std::string::npos ? "[" + h + "]" : h) + ":" + service;
}

bool SendAll(int fd, const std::uint8_t* data, std::size_t len) {
    while (len > 0) {
        const ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        len -= static_cast<std::size_t>(n);
    }
    return true;
}

// The client's line without its line end, for the log.
std::string Shown(const std::string& line) {
    std::string text;
    for (char c : line)
        text += std::isprint(static_cast<unsigned char>(c)) ? c : ' ';
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// The prompt letter at the end of the board's answer ("...L>"), or none.
char PromptLetter(const std::string& reply) {
    if (reply.size() >= 2 && reply.back() == '>') {
        const char letter = reply[reply.size() - 2];
        if (letter == 'L' || letter == 'M' || letter == 'R')
            return letter;
    }
    return 0;
}

} // namespace

bool ParseConsoleListen(const std::string& text, std::string* host, int* port) {
    if (!text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos) {
        const int value = std::stoi(text);
        if (value > 65535)
            return false;
        *host = "127.0.0.1";
        *port = value;
        return true;
    }
    return ParseListenAddress(text, host, port);
}

bool IsChangingCommand(const std::string& line) {
    std::size_t pos = 0;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos + 2 > line.size())
        return false;
    const std::string word = {static_cast<char>(std::toupper(static_cast<unsigned char>(line[pos]))),
                              static_cast<char>(std::toupper(static_cast<unsigned char>(line[pos + 1])))};
    return word == "WR" || word == "OR" || word == "ND";
}

bool IsRefusedWhenReadOnly(const std::string& line) {
    if (!IsChangingCommand(line))
        return false;
    std::size_t pos = line.find_first_not_of(" \t");
    if (std::toupper(static_cast<unsigned char>(line[pos])) != 'W')
        return true; // an or or an and
    const std::size_t end = line.find_first_of("\r\n");
    const std::string body = line.substr(0, end);
    const std::size_t address = body.find_first_not_of(" \t", pos + 2);
    if (address == std::string::npos || address == pos + 2)
        return true;
    const std::size_t afterAddress = std::min(body.find_first_of(" \t", address), body.size());
    return !ops::IsRemoteReadStep(body.substr(address, afterAddress - address), body.substr(afterAddress));
}

std::string ErrorReply(const std::string& line, char promptLetter) {
    std::string echo = line;
    while (!echo.empty() && (echo.back() == '\n' || echo.back() == '\r'))
        echo.pop_back();
    return echo + "\n\rERROR\n\r" + promptLetter + ">";
}

std::vector<std::string> CLineGatherer::Add(const std::uint8_t* data, std::size_t len) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < len; ++i) {
        const char c = static_cast<char>(data[i]);
        const bool afterCr = m_afterCr;
        m_afterCr = c == '\r';
        if (afterCr && (c == '\n' || c == '\0'))
            continue; // the second half of a CR LF or CR NUL line end
        if (c == '\r' || c == '\n') {
            lines.push_back(m_line + c);
            m_line.clear();
        } else if (c == '\b' || c == 0x7F) {
            if (!m_line.empty())
                m_line.pop_back();
        } else if (m_line.size() < CConsoleShare::kMaxLine) {
            m_line.push_back(c);
        }
    }
    return lines;
}

CConsoleShare::CConsoleShare(std::string device, ConsoleShareOptions options, PassLine pass, Log log)
    : m_device(std::move(device)), m_options(std::move(options)), m_pass(std::move(pass)),
      m_log(std::move(log)) {}

CConsoleShare::~CConsoleShare() {
    Stop();
}

void CConsoleShare::Say(const std::string& text) {
    if (m_log)
        m_log(m_device + ": console port " + std::to_string(m_port) + ": " + text);
}

bool CConsoleShare::Start(std::string* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(m_options.port);
    const int rc = getaddrinfo(m_options.host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        *error = gai_strerror(rc);
        return false;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    int err = 0;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            err = errno;
            continue;
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 4) == 0) {
            m_listenFd = fd;
            break;
        }
        err = errno;
        close(fd);
    }
    if (m_listenFd < 0) {
        *error = std::strerror(err);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    if (pipe2(m_wake, O_CLOEXEC) != 0) {
        *error = std::strerror(errno);
        close(m_listenFd);
        m_listenFd = -1;
        return false;
    }
    m_acceptThread = std::thread([this] { AcceptLoop(); });
    return true;
}

void CConsoleShare::Stop() {
    if (m_wake[1] >= 0) {
        const char byte = 0;
        [[maybe_unused]] const ssize_t n = write(m_wake[1], &byte, 1);
    }
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    if (m_clientThread.joinable())
        m_clientThread.join();
    for (int* fd : {&m_listenFd, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

ConsoleShareCounts CConsoleShare::Counts() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}

void CConsoleShare::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = accept4(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const std::string peer = PeerName(address, length);
        bool held = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            held = m_held;
            if (held) {
                ++m_counts.clientsRefused;
            } else {
                ++m_counts.sessions;
                m_held = true;
                m_holder = peer;
                m_heldSince = UtcNow();
            }
        }
        if (held) {
            Refuse(fd, peer);
            continue;
        }
        if (m_clientThread.joinable())
            m_clientThread.join(); // the client before has gone
        Say(peer + " connected");
        m_clientThread = std::thread([this, fd, peer] { Serve(fd, peer); });
    }
}

void CConsoleShare::Refuse(int fd, const std::string& peer) {
    std::string holder;
    std::string since;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        holder = m_holder;
        since = m_heldSince;
    }
    const std::string text = "The console of " + m_device + " is in use by " + holder + " since " + since +
                             "; try again when it is free.\r\n";
    SendAll(fd, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    shutdown(fd, SHUT_RDWR);
    close(fd);
    Say("refused " + peer + ": the console is held by " + holder + " since " + since);
}

std::string CConsoleShare::Answer(const std::string& line, const std::string& peer, bool* answered) {
    *answered = true;
    if (!m_options.writable && IsRefusedWhenReadOnly(line)) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_counts.commandsRefused;
        }
        Say("refused " + peer + "'s \"" + Shown(line) + "\": the console port is read-only");
        return ErrorReply(line, m_promptLetter);
    }
    std::string reply;
    const Outcome outcome = m_pass(line, &reply);
    if (outcome != Outcome::Answered) {
        *answered = false;
        Say(peer + "'s \"" + Shown(line) + "\" not answered by the board (" + OutcomeName(outcome) + ")");
        return std::string();
    }
    if (const char letter = PromptLetter(reply))
        m_promptLetter = letter;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_counts.commandsPassed;
    return reply;
}

void CConsoleShare::Serve(int fd, const std::string& peer) {
    std::unique_ptr<Rfc2217ServerCodec> codec;
    if (!m_options.raw)
        codec = std::make_unique<Rfc2217ServerCodec>();
    CLineGatherer gatherer;
    Clock::time_point lastByte = Clock::now();
    std::uint64_t lines = 0;
    std::string why = "left";
    auto sendOut = [&](const std::string& text) {
        if (!codec)
            return SendAll(fd, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        codec->Send(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        const std::vector<std::uint8_t> out = codec->TakeOutgoing();
        return SendAll(fd, out.data(), out.size());
    };
    for (bool open = true; open;) {
        int timeout = -1;
        if (gatherer.Partial()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                lastByte + m_options.partialLineLimit - Clock::now());
            timeout = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            why = "dropped: part of a line and then nothing for " +
                  std::to_string(m_options.partialLineLimit.count() / 1000.0).substr(0, 3) + " s";
            break;
        }
        if (ready < 0 || fds[1].revents) {
            why = "disconnected: the monitor ends";
            break;
        }
        std::uint8_t buffer[512];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        lastByte = Clock::now();
        std::vector<std::uint8_t> data(buffer, buffer + n);
        if (codec) {
            codec->Receive(buffer, static_cast<std::size_t>(n));
            const std::vector<std::uint8_t> answers = codec->TakeOutgoing();
            if (!SendAll(fd, answers.data(), answers.size()))
                break;
            data = codec->TakeData();
        }
        for (const std::string& line : gatherer.Add(data.data(), data.size())) {
            bool answered = false;
            const std::string reply = Answer(line, peer, &answered);
            ++lines;
            if (answered && !sendOut(reply)) {
                open = false;
                break;
            }
        }
    }
    shutdown(fd, SHUT_RDWR);
    close(fd);
    std::string since;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = false;
        since = m_heldSince;
    }
    Say(peer + " " + why + " after " + std::to_string(lines) + " lines (in since " + since + ")");
}

std::string RenderConsoleShares(const std::vector<const CConsoleShare*>& shares) {
    if (shares.empty())
        return std::string();
    struct Family {
        MetricFamily family;
        std::uint64_t ConsoleShareCounts::*count;
    };
    static const Family kFamilies[] = {
        {kMetricConsoleSessions, &ConsoleShareCounts::sessions},
        {kMetricConsoleClientsRefused, &ConsoleShareCounts::clientsRefused},
        {kMetricConsoleCommandsPassed, &ConsoleShareCounts::commandsPassed},
        {kMetricConsoleCommandsRefused, &ConsoleShareCounts::commandsRefused},
    };
    std::vector<ConsoleShareCounts> counts;
    for (const CConsoleShare* s : shares)
        counts.push_back(s->Counts());
    // Each share has labels of its own: its port, and its site and board where the inventory names them.
    std::vector<std::vector<Label>> labels;
    for (const CConsoleShare* share : shares) {
        const ConsoleShareOptions& o = share->Options();
        labels.push_back({{"port", share->Device()}});
        if (!o.board.empty())
            labels.back().insert(labels.back().end(), {{"site", o.site}, {"board", o.board}});
    }
    std::string out;
    CMetricText text(out, {});
    for (const Family& f : kFamilies) {
        text.Begin(f.family);
        for (std::size_t i = 0; i < shares.size(); ++i)
            text.Sample(MetricNumber(counts[i].*(f.count)), labels[i]);
    }
    return out;
}

} // namespace tessor::monitor
