#pragma once

// Child processes, temporary folders, free loopback ports and plain HTTP exchanges for the monitor's
// end-to-end tests.

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tessor::monitor::test {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

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

// A child process with its standard output and error in files.
class Process {
public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() { Kill(); }

    bool Start(std::vector<std::string> args, const std::string& out, const std::string& err,
               const std::string& in = "/dev/null") {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            m_pid = -1;
        return rc == 0;
    }

    pid_t Pid() const { return m_pid; }

    // Sends a signal and waits for the exit; the exit status, or -1 when it did not end within the time.
    int SignalAndWait(int signal, std::chrono::milliseconds limit) {
        if (m_pid <= 0)
            return -1;
        kill(m_pid, signal);
        return Wait(limit);
    }

    int Wait(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

    void Kill() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
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

} // namespace tessor::monitor::test
