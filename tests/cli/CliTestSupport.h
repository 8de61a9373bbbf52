#pragma once

// Test support for tessor-cli: the tessor-sim program on a pseudo-terminal with its record of what it
// received, and tessor-cli run as a process with its output, exit status and duration.

#include "support/ChildProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef TESSOR_SIM_PATH
#error "TESSOR_SIM_PATH must name the tessor-sim executable"
#endif
#ifndef TESSOR_CLI_PATH
#error "TESSOR_CLI_PATH must name the tessor-cli executable"
#endif

namespace tessor::clitest {

// Guard against a hang, not a measurement.
constexpr int kGuardMs = 20000;

using testsupport::RunResult;

// Runs program with args, standard input from stdinPath, extra environment entries; collects both outputs.
inline RunResult RunProgram(const std::vector<std::string>& args, const std::string& stdinPath = "/dev/null",
                            const std::vector<std::string>& extraEnv = {}) {
    return testsupport::RunProgram(args, stdinPath, testsupport::Environment(extraEnv), kGuardMs);
}

// The tessor-sim program on a pseudo-terminal (no pacing, the line up at once) with a wire record.
class SimPty {
public:
    explicit SimPty(std::vector<std::string> options = {}) {
        char pattern[] = "/tmp/tessor-cli-test.XXXXXX";
        const char* dir = mkdtemp(pattern);
        m_dir = dir ? dir : "/tmp";
        m_link = m_dir + "/tty";
        m_wire = m_dir + "/wire";
        std::vector<std::string> args{
            TESSOR_SIM_PATH, "--no-pacing", "--no-stdin",     "--train-ms",      "0", "--link", m_link,
            "--wire-log",    m_wire,        "--control-fifo", m_dir + "/control"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv = testsupport::Pointers(args);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (m_dir + "/sim.log").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // The program prints the slave path once it serves it.
        pollfd p{out[0], POLLIN, 0};
        char chunk[256];
        m_ready = m_pid > 0 && poll(&p, 1, kGuardMs) > 0 && read(out[0], chunk, sizeof chunk) > 0;
        close(out[0]);
    }
    ~SimPty() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        for (const char* name : {"/wire", "/sim.log", "/control"})
            unlink((m_dir + name).c_str());
        rmdir(m_dir.c_str());
    }
    SimPty(const SimPty&) = delete;
    SimPty& operator=(const SimPty&) = delete;

    bool Ready() const { return m_ready; }
    const std::string& Link() const { return m_link; }
    const std::string& Dir() const { return m_dir; }

    // Command lines received since the last ClearWire, without their line feeds.
    std::vector<std::string> Commands() const {
        std::ifstream file(m_wire, std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(bytes, line))
            lines.push_back(line);
        return lines;
    }
    void ClearWire() const { truncate(m_wire.c_str(), 0); }

    // A fault or control command through the FIFO; waits until the program has logged its answer.
    bool Control(const std::string& command) const {
        const std::string logPath = m_dir + "/sim.log";
        const auto before = FileSize(logPath);
        const int fd = open((m_dir + "/control").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0)
            return false;
        const std::string line = command + "\n";
        const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        close(fd);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
        while (written && FileSize(logPath) == before && std::chrono::steady_clock::now() < deadline)
            usleep(2000);
        return written && FileSize(logPath) != before;
    }

    // tessor-cli on this simulator's device.
    RunResult Cli(std::vector<std::string> args, const std::vector<std::string>& extraEnv = {}) const {
        args.insert(args.begin(), {TESSOR_CLI_PATH, "--port", m_link});
        return RunProgram(args, "/dev/null", extraEnv);
    }

private:
    static long FileSize(const std::string& path) {
        std::ifstream file(path, std::ios::binary | std::ios::ate);
        return file ? static_cast<long>(file.tellg()) : -1;
    }

    pid_t m_pid = -1;
    bool m_ready = false;
    std::string m_dir;
    std::string m_link;
    std::string m_wire;
};

} // namespace tessor::clitest
