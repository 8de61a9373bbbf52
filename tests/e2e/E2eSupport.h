#pragma once

// End-to-end support: the tessor-sim program on a pseudo-terminal as a child process, and helpers to run
// the real application (CConfiguratorApp with the sheet's own port factory) against it.

#include "support/ChildProcess.h"

#include <QListWidget>
#include <QString>
#include <QStringList>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

#ifndef TESSOR_SIM_PATH
#error "TESSOR_SIM_PATH must name the tessor-sim executable"
#endif

namespace tessor::e2e {

// Guard against a hang, not a measurement.
constexpr int kGuardMs = 15000;

// The tessor-sim program: fault commands on its standard input, acknowledged on its standard error; the
// current slave is always reachable through a symbolic link.
class SimProcess {
public:
    SimProcess() = default;
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    ~SimProcess() { Stop(); }

    // Starts the program with the link at linkPath and waits until it has announced its slave.
    bool Start(const std::string& linkPath, std::vector<std::string> options = {}) {
        m_link = linkPath;
        std::vector<std::string> args{TESSOR_SIM_PATH, "--no-pacing", "--link", linkPath};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv = testsupport::Pointers(args);

        int in[2], out[2], err[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
            return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        close(err[1]);
        m_in = in[1];
        m_out = out[0];
        m_err = err[0];
        if (rc != 0) {
            m_pid = -1;
            return false;
        }
        return !ReadLine(m_out, &m_outBuffer).empty();
    }

    const std::string& Link() const { return m_link; }

    // Sends a fault command and waits for the program's acknowledgement (a log line containing ack).
    bool Command(const std::string& command, const std::string& ack) {
        const std::string line = command + "\n";
        if (write(m_in, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return false;
        for (;;) {
            const std::string logLine = ReadLine(m_err, &m_errBuffer);
            if (logLine.empty())
                return false;
            if (logLine.find(ack) != std::string::npos)
                return true;
        }
    }

    void Stop() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        for (int* fd : {&m_in, &m_out, &m_err}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
    }

private:
    // One line from fd (without its end), or empty when none came within the guard.
    static std::string ReadLine(int fd, std::string* buffer) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
        for (;;) {
            const std::size_t end = buffer->find('\n');
            if (end != std::string::npos) {
                std::string line = buffer->substr(0, end);
                buffer->erase(0, end + 1);
                return line.empty() ? std::string(" ") : line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return std::string();
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0)
                continue;
            char chunk[256];
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0)
                return std::string();
            buffer->append(chunk, static_cast<std::size_t>(n));
        }
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_link;
    std::string m_outBuffer;
    std::string m_errBuffer;
};

// The terminal's list from the bottom up: the order the lines were added, which is the order of the log
// file. The window shows the newest operation on top, each operation's lines in the order they came, so
// here a read appears as its reply line followed by its command line.
inline QStringList ListLines(const QListWidget* list) {
    QStringList lines;
    for (int i = list->count() - 1; i >= 0; --i)
        lines << list->item(i)->text();
    return lines;
}

} // namespace tessor::e2e
